#include "NetworkAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

enum EReach { kDefaultRoute, kOrdinary, kVirtual, kLinkLocal };

// Names the usual tools give the interfaces they make for containers, virtual
// machines and tunnels: reachable from this machine, seldom from a phone.
constexpr std::string_view kVirtualPrefixes[] = {
    "docker", "br-", "virbr",   "veth", "vboxnet", "vmnet", "lxcbr", "lxdbr",
    "podman", "cni", "flannel", "tun",  "tap",     "wg",    "zt",    "tailscale",
};

bool IsLinkLocal(const std::string& strAddress) {
    return strAddress.rfind("169.254.", 0) == 0;
}

bool IsVirtual(const SInterfaceAddress& address) {
    if (address.nFlags & IFF_POINTOPOINT) {
        return true;
    }
    return std::any_of(
        std::begin(kVirtualPrefixes), std::end(kVirtualPrefixes),
        [&](std::string_view prefix) { return address.strInterface.rfind(prefix, 0) == 0; });
}

EReach ReachOf(const SInterfaceAddress& address) {
    if (IsLinkLocal(address.strAddress)) {
        return kLinkLocal;
    }
    if (address.bDefaultRoute) {
        return kDefaultRoute;
    }
    return IsVirtual(address) ? kVirtual : kOrdinary;
}

std::string ReadWholeFile(const char* pszPath) {
    std::ifstream in(pszPath);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::vector<std::string> OrderReachableAddresses(const std::vector<SInterfaceAddress>& interfaces) {
    constexpr unsigned kUsable = IFF_UP | IFF_RUNNING;
    std::vector<const SInterfaceAddress*> kept;
    for (const SInterfaceAddress& address : interfaces) {
        if ((address.nFlags & kUsable) == kUsable && !(address.nFlags & IFF_LOOPBACK) &&
            address.strAddress.rfind("127.", 0) != 0) {
            kept.push_back(&address);
        }
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const SInterfaceAddress* pLeft, const SInterfaceAddress* pRight) {
                         return ReachOf(*pLeft) < ReachOf(*pRight);
                     });
    std::vector<std::string> ordered;
    for (const SInterfaceAddress* pAddress : kept) {
        if (std::find(ordered.begin(), ordered.end(), pAddress->strAddress) == ordered.end()) {
            ordered.push_back(pAddress->strAddress);
        }
    }
    return ordered;
}

std::vector<std::string> DefaultRouteInterfaces(std::string_view procNetRoute) {
    // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...; the
    // first line names them. Destination and Mask are hex; both 0 for a default.
    std::vector<std::string> names;
    std::istringstream lines{std::string(procNetRoute)};
    std::string strLine;
    std::getline(lines, strLine);
    while (std::getline(lines, strLine)) {
        std::istringstream fields(strLine);
        std::string strInterface, strDestination, strGateway, strMask, strSkip;
        unsigned nFlags = 0;
        if (!(fields >> strInterface >> strDestination >> strGateway >> std::hex >> nFlags >>
              strSkip >> strSkip >> strSkip >> strMask)) {
            continue;
        }
        if (strDestination == "00000000" && strMask == "00000000" && (nFlags & RTF_UP) &&
            std::find(names.begin(), names.end(), strInterface) == names.end()) {
            names.push_back(strInterface);
        }
    }
    return names;
}

std::vector<SInterfaceAddress> ListInterfaceAddresses() {
    std::vector<SInterfaceAddress> addresses;
    ifaddrs* pList = nullptr;
    if (::getifaddrs(&pList) != 0) {
        return addresses;  // no list: reported as no network at all
    }
    const std::vector<std::string> defaultRoute =
        DefaultRouteInterfaces(ReadWholeFile("/proc/net/route"));
    for (const ifaddrs* pEntry = pList; pEntry; pEntry = pEntry->ifa_next) {
        if (!pEntry->ifa_addr || pEntry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        char szAddress[INET_ADDRSTRLEN] = {};
        const auto* pInet = reinterpret_cast<const sockaddr_in*>(pEntry->ifa_addr);
        if (!::inet_ntop(AF_INET, &pInet->sin_addr, szAddress, sizeof szAddress)) {
            continue;
        }
        SInterfaceAddress& address = addresses.emplace_back();
        address.strInterface = pEntry->ifa_name;
        address.strAddress = szAddress;
        address.nFlags = pEntry->ifa_flags;
        address.bDefaultRoute = std::find(defaultRoute.begin(), defaultRoute.end(),
                                          address.strInterface) != defaultRoute.end();
    }
    ::freeifaddrs(pList);
    return addresses;
}

std::vector<std::string> ReachableAddresses() {
    return OrderReachableAddresses(ListInterfaceAddresses());
}

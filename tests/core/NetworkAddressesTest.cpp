// Which addresses are offered to other machines, in which order.
#include <gtest/gtest.h>
#include <net/if.h>

#include "NetworkAddresses.h"

namespace {

constexpr unsigned kUp = IFF_UP | IFF_RUNNING;

TEST(NetworkAddresses, DefaultRouteFirstThenOtherInterfacesThenVirtualThenLinkLocal) {
    const struct {
        const char* pszName;
        std::vector<SInterfaceAddress> interfaces;
        std::vector<std::string> ordered;
    } rows[] = {
        {.pszName = "the default route leads, whatever its place",
         .interfaces = {{"docker0", "172.17.0.1", kUp},
                        {"eth1", "10.1.0.5", kUp},
                        {"wlan0", "192.168.1.20", kUp, true},
                        {"lo", "127.0.0.1", kUp | IFF_LOOPBACK}},
         .ordered = {"192.168.1.20", "10.1.0.5", "172.17.0.1"}},
        {.pszName = "bridges, tunnels and point-to-point links after ordinary interfaces",
         .interfaces = {{"virbr0", "192.168.122.1", kUp},
                        {"tun0", "10.8.0.2", kUp},
                        {"ppp0", "100.64.3.4", kUp | IFF_POINTOPOINT},
                        {"br-4f2a", "172.18.0.1", kUp},
                        {"veth12", "172.19.0.1", kUp},
                        {"enp3s0", "192.168.0.7", kUp}},
         .ordered = {"192.168.0.7", "192.168.122.1", "10.8.0.2", "100.64.3.4", "172.18.0.1",
                     "172.19.0.1"}},
        {.pszName = "link-local last, even on the default route's interface",
         .interfaces = {{"eth0", "169.254.10.1", kUp, true},
                        {"docker0", "172.17.0.1", kUp},
                        {"eth0", "192.168.1.20", kUp, true}},
         .ordered = {"192.168.1.20", "172.17.0.1", "169.254.10.1"}},
        {.pszName = "a tunnel that holds the default route leads",
         .interfaces = {{"eth0", "192.168.1.20", kUp}, {"wg0", "10.2.0.2", kUp, true}},
         .ordered = {"10.2.0.2", "192.168.1.20"}},
        {.pszName = "down, not running and loopback interfaces are left out",
         .interfaces = {{"eth0", "192.168.1.20", IFF_UP},
                        {"eth1", "192.168.2.20", IFF_RUNNING},
                        {"lo", "127.0.0.1", kUp | IFF_LOOPBACK},
                        {"lo:1", "127.0.1.1", kUp},
                        {"eth2", "10.0.0.2", kUp}},
         .ordered = {"10.0.0.2"}},
        {.pszName = "an address on two interfaces once",
         .interfaces = {{"eth0", "10.0.0.2", kUp}, {"eth0:1", "10.0.0.2", kUp}},
         .ordered = {"10.0.0.2"}},
        {.pszName = "no network",
         .interfaces = {{"lo", "127.0.0.1", kUp | IFF_LOOPBACK}},
         .ordered = {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszName);
        EXPECT_EQ(OrderReachableAddresses(row.interfaces), row.ordered);
    }
}

TEST(NetworkAddresses, DefaultRouteInterfacesFromProcNetRoute) {
    const std::string strHeader =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    const struct {
        const char* pszName;
        std::string strRoutes;
        std::vector<std::string> names;
    } rows[] = {
        {.pszName = "one default route",
         .strRoutes = "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                      "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n",
         .names = {"eth0"}},
        {.pszName = "two, each named once",
         .strRoutes = "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                      "eth0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                      "eth0\t00000000\t0200000A\t0003\t0\t0\t200\t00000000\t0\t0\t0\n",
         .names = {"wlan0", "eth0"}},
        {.pszName = "a route that is not up, and a host route, are no default",
         .strRoutes = "eth0\t00000000\t0101A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"
                      "eth1\t00000000\t00000000\t0005\t0\t0\t0\tFFFFFFFF\t0\t0\t0\n",
         .names = {}},
        {.pszName = "only the header", .strRoutes = "", .names = {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszName);
        EXPECT_EQ(DefaultRouteInterfaces(strHeader + row.strRoutes), row.names);
    }
    EXPECT_EQ(DefaultRouteInterfaces(""), std::vector<std::string>{});
}

}  // namespace

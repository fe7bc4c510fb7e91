// The IPv4 addresses at which other machines reach this one, best first: what
// the window lists while it serves and puts into its QR code, and what
// tarvel-serve prints when it starts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct SInterfaceAddress {
    std::string strInterface;    // e.g. "eth0"
    std::string strAddress;      // dotted IPv4
    unsigned nFlags = 0;         // the interface's IFF_* flags
    bool bDefaultRoute = false;  // the interface holds the default route
};

// Keeps the addresses of interfaces that are up and running and not loopback,
// once each, in this order: the default route's interface; other interfaces;
// virtual bridges, tunnels and point-to-point links (docker0, virbr0, tun0);
// link-local addresses (169.254.x.x) last. Equal ranks keep the given order.
std::vector<std::string> OrderReachableAddresses(const std::vector<SInterfaceAddress>& interfaces);

// The interfaces that hold a default route in the text of /proc/net/route.
std::vector<std::string> DefaultRouteInterfaces(std::string_view procNetRoute);

// This machine's IPv4 interface addresses (getifaddrs), marked from /proc/net/route.
std::vector<SInterfaceAddress> ListInterfaceAddresses();

// OrderReachableAddresses(ListInterfaceAddresses()).
std::vector<std::string> ReachableAddresses();

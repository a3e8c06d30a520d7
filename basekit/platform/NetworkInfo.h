// NetworkInfo.h - network interfaces, their addresses and byte counters.
//
// This file stands in for what the system facade asks the routing sysctl
// (NET_RT_IFLIST byte counters), the IPv6 address flags (SIOCGIFAFLAG_IN6) and
// SystemConfiguration (interface kinds and display names) on macOS. It reads
// getifaddrs, /proc/net/dev, /proc/net/if_inet6 and /sys/class/net.
//
// Where it falls short: the display name of an interface is its kernel name;
// the kind is "wifi" for a wireless interface, "ethernet" for any other
// Ethernet-type interface, else the kernel's numeric link type. Thread-safe.
#pragma once

#include <string>
#include <vector>

namespace bkit::platform {

// Bytes received and sent by every interface that is not a loopback, summed.
bool GetInterfaceByteTotals(double& received, double& sent);

struct NetworkAddress {
    std::string interfaceName;
    std::string ip;  // numeric text
    bool ipv6 = false;
};

// The addresses worth reporting, in getifaddrs order: IPv4 or IPv6 of an
// interface that is up, multicast-capable, neither loopback nor point-to-point,
// with a netmask of the same family; IPv6 addresses that are tentative,
// duplicated, deprecated or temporary are left out. False when getifaddrs fails.
bool ListNetworkAddresses(std::vector<NetworkAddress>& addresses);

// "wifi", "ethernet" or the link type of the interface.
std::string GetInterfaceKind(const std::string& interfaceName);

}  // namespace bkit::platform

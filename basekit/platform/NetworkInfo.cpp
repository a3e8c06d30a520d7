// NetworkInfo.cpp - interfaces from getifaddrs, /proc/net and /sys/class/net.
#include "basekit/platform/NetworkInfo.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_addr.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <cstring>
#include <set>

namespace bkit::platform {

namespace {

// The IPv6 addresses whose flags rule them out (tentative, duplicated,
// deprecated, temporary), as /proc/net/if_inet6 lists them: 32 hex digits.
std::set<std::string> UnusableIPv6Addresses()
{
    std::set<std::string> unusable;
    FILE* file = std::fopen("/proc/net/if_inet6", "re");
    if (!file) return unusable;
    char hex[64], name[64];
    unsigned index, prefix, scope, flags;
    while (std::fscanf(file, "%63s %x %x %x %x %63s", hex, &index, &prefix, &scope, &flags, name) == 6) {
        if (flags & (IFA_F_TENTATIVE | IFA_F_DADFAILED | IFA_F_DEPRECATED | IFA_F_TEMPORARY)) unusable.insert(hex);
    }
    std::fclose(file);
    return unusable;
}

std::string HexOfIPv6(const in6_addr& address)
{
    char hex[33];
    for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", address.s6_addr[i]);
    return hex;
}

}  // namespace

bool GetInterfaceByteTotals(double& received, double& sent)
{
    FILE* file = std::fopen("/proc/net/dev", "re");
    if (!file) return false;
    received = 0;
    sent = 0;
    char line[512];
    while (std::fgets(line, sizeof(line), file)) {
        char* colon = std::strchr(line, ':');
        if (!colon) continue;  // the two heading lines
        *colon = 0;
        char* name = line;
        while (*name == ' ') ++name;
        if (std::strcmp(name, "lo") == 0) continue;
        unsigned long long in = 0, out = 0;
        // received: bytes packets errs drop fifo frame compressed multicast; then sent bytes.
        if (std::sscanf(colon + 1, "%llu %*u %*u %*u %*u %*u %*u %*u %llu", &in, &out) != 2) continue;
        received += static_cast<double>(in);
        sent += static_cast<double>(out);
    }
    std::fclose(file);
    return true;
}

bool ListNetworkAddresses(std::vector<NetworkAddress>& addresses)
{
    struct ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    std::set<std::string> unusable = UnusableIPv6Addresses();
    for (struct ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || !entry->ifa_netmask) continue;
        int family = entry->ifa_addr->sa_family;
        if ((family != AF_INET && family != AF_INET6) || entry->ifa_netmask->sa_family != family) continue;
        unsigned flags = entry->ifa_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_MULTICAST) || (flags & IFF_LOOPBACK) || (flags & IFF_POINTOPOINT))
            continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (family == AF_INET6) {
            const in6_addr& address = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr;
            if (unusable.count(HexOfIPv6(address))) continue;
            inet_ntop(AF_INET6, &address, text, sizeof(text));
        } else {
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr, text, sizeof(text));
        }
        addresses.push_back({entry->ifa_name, text, family == AF_INET6});
    }
    ::freeifaddrs(list);
    return true;
}

std::string GetInterfaceKind(const std::string& interfaceName)
{
    std::string base = "/sys/class/net/" + interfaceName;
    struct stat st;
    if (::stat((base + "/wireless").c_str(), &st) == 0 || ::stat((base + "/phy80211").c_str(), &st) == 0)
        return "wifi";
    FILE* file = std::fopen((base + "/type").c_str(), "re");
    if (!file) return std::string();
    int type = -1;
    bool read = std::fscanf(file, "%d", &type) == 1;
    std::fclose(file);
    if (!read) return std::string();
    return type == 1 ? "ethernet" : std::to_string(type);
}

}  // namespace bkit::platform

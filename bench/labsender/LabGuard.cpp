#include "LabGuard.h"

#include "LabSender.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

namespace labsender {

namespace {

std::uint32_t HostOrder(const sockaddr* Address) {
    if (Address == nullptr || Address->sa_family != AF_INET)
        return 0;
    return ntohl(reinterpret_cast<const sockaddr_in*>(Address)->sin_addr.s_addr);
}

// The machine's own namespace, as far as it can be told apart from the outside:
// the kernel's initial one (whose number is fixed on current kernels), or the
// one the lab script says it was started from.
bool InMachineNetwork() {
    char Link[64] = {};
    const ssize_t Length = readlink("/proc/self/ns/net", Link, sizeof Link - 1);
    if (Length <= 0)
        return false;
    const std::string Own(Link, static_cast<std::size_t>(Length));
    if (Own == "net:[4026531833]")
        return true;
    const char* Parent = std::getenv("LANFINDER_NETLAB_PARENT");
    return Parent != nullptr && Own == Parent;
}

} // namespace

TLabCheck CheckLab() {
    TLabCheck Result;
    if (InMachineNetwork()) {
        Result.Problem = "this is the machine's own network namespace, not the lab; "
                         "run it through scripts/netlab";
        return Result;
    }
    ifaddrs* List = nullptr;
    if (getifaddrs(&List) != 0) {
        Result.Problem = std::string("cannot list the network interfaces: ") + std::strerror(errno);
        return Result;
    }
    std::vector<TInterfaceAddress> Addresses;
    for (const ifaddrs* a = List; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET)
            continue;
        if ((a->ifa_flags & IFF_UP) == 0)
            continue;
        TInterfaceAddress Entry;
        Entry.Name = a->ifa_name;
        Entry.Address = HostOrder(a->ifa_addr);
        Entry.Mask = HostOrder(a->ifa_netmask);
        if ((a->ifa_flags & IFF_BROADCAST) != 0 && a->ifa_broadaddr != nullptr)
            Entry.Broadcast = HostOrder(a->ifa_broadaddr);
        Addresses.push_back(Entry);
    }
    freeifaddrs(List);
    if (const auto Name = FindLabInterface(Addresses)) {
        Result.Inside = true;
        Result.Interface = *Name;
    } else {
        Result.Problem = std::string("no interface holds ") + LabAddress + "/24 with broadcast " +
                         LabBroadcast + ": this is not the lab; run it through scripts/netlab";
    }
    return Result;
}

} // namespace labsender

#include "LocalAddress.h"

#include "Errors.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QNetworkInterface>

#include <cerrno>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

// Adapters, their order and their link state come from QNetworkInterface (interface index
// order, as the kernel lists them). Whether an address is preferred does not: the kernel
// keeps that in the address flags (tentative while duplicate detection runs, deprecated
// once its preferred lifetime is over or when set so by hand), and neither getifaddrs nor
// QNetworkInterface passes them on; Qt's lifetimes stay "forever" for a deprecated IPv4
// address. So the flags are read from the kernel's address table directly, over a
// netlink socket to the kernel, which sends nothing on any network.

namespace {

using TAddressKey = QPair<int, QByteArray>; // interface index, raw address bytes

[[noreturn]] void RaiseOSError(const char* What) {
    const int Code = errno;
    throw EOSError(QStringLiteral("The network adapters could not be listed (%1): %2")
                       .arg(QLatin1String(What), qt_error_string(Code)));
}

class TNetlinkSocket {
public:
    TNetlinkSocket() : FFd(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {
        if (FFd < 0)
            RaiseOSError("socket");
    }
    ~TNetlinkSocket() { close(FFd); }
    TNetlinkSocket(const TNetlinkSocket&) = delete;
    TNetlinkSocket& operator=(const TNetlinkSocket&) = delete;
    int Fd() const { return FFd; }

private:
    int FFd;
};

QByteArray RawAddress(const QHostAddress& Address) {
    if (Address.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 Value = Address.toIPv4Address();
        const char Bytes[4] = {char(Value >> 24), char(Value >> 16), char(Value >> 8), char(Value)};
        return QByteArray(Bytes, 4);
    }
    const Q_IPV6ADDR Value = Address.toIPv6Address();
    return QByteArray(reinterpret_cast<const char*>(Value.c), 16);
}

// NLMSG_OK, without its comparison of a signed length with an unsigned one.
bool MessageFits(const nlmsghdr* Header, int Length) {
    return Length >= int(sizeof(nlmsghdr)) && Header->nlmsg_len >= sizeof(nlmsghdr) &&
           Header->nlmsg_len <= unsigned(Length);
}

// Flags of every address the kernel knows, by interface and address.
QHash<TAddressKey, quint32> QueryAddressFlags() {
    TNetlinkSocket Socket;
    struct {
        nlmsghdr Header;
        ifaddrmsg Message;
    } Request{};
    Request.Header.nlmsg_len = sizeof Request;
    Request.Header.nlmsg_type = RTM_GETADDR;
    Request.Header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    Request.Header.nlmsg_seq = 1;
    Request.Message.ifa_family = AF_UNSPEC;
    sockaddr_nl Kernel{};
    Kernel.nl_family = AF_NETLINK;
    if (sendto(Socket.Fd(), &Request, sizeof Request, 0, reinterpret_cast<sockaddr*>(&Kernel),
               sizeof Kernel) < 0)
        RaiseOSError("sendto");

    QHash<TAddressKey, quint32> Flags;
    alignas(nlmsghdr) static thread_local char Buffer[64 * 1024];
    for (;;) {
        const ssize_t Received = recv(Socket.Fd(), Buffer, sizeof Buffer, MSG_TRUNC);
        if (Received < 0) {
            if (errno == EINTR)
                continue;
            RaiseOSError("recv");
        }
        if (size_t(Received) > sizeof Buffer) {
            errno = EMSGSIZE;
            RaiseOSError("recv");
        }
        int Length = int(Received);
        for (auto* Header = reinterpret_cast<nlmsghdr*>(Buffer); MessageFits(Header, Length);
             Header = NLMSG_NEXT(Header, Length)) {
            if (Header->nlmsg_seq != Request.Header.nlmsg_seq)
                continue;
            if (Header->nlmsg_type == NLMSG_DONE)
                return Flags;
            if (Header->nlmsg_type == NLMSG_ERROR) {
                const auto* Error = static_cast<const nlmsgerr*>(NLMSG_DATA(Header));
                errno = Header->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr)) ? -Error->error : EIO;
                RaiseOSError("RTM_GETADDR");
            }
            if (Header->nlmsg_type != RTM_NEWADDR ||
                Header->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg)))
                continue;
            const auto* Message = static_cast<const ifaddrmsg*>(NLMSG_DATA(Header));
            quint32 AddressFlags = Message->ifa_flags;
            QByteArray Local, Address;
            int AttributesLength = int(IFA_PAYLOAD(Header));
            for (auto* Attribute = IFA_RTA(Message); RTA_OK(Attribute, AttributesLength);
                 Attribute = RTA_NEXT(Attribute, AttributesLength)) {
                const char* Data = static_cast<const char*>(RTA_DATA(Attribute));
                const int Size = int(RTA_PAYLOAD(Attribute));
                switch (Attribute->rta_type) {
                case IFA_LOCAL:
                    Local = QByteArray(Data, Size);
                    break;
                case IFA_ADDRESS:
                    Address = QByteArray(Data, Size);
                    break;
                case IFA_FLAGS: // the full 32 bits, where ifa_flags holds only 8
                    if (Size >= int(sizeof(quint32)))
                        memcpy(&AddressFlags, Data, sizeof(quint32));
                    break;
                default:
                    break;
                }
            }
            // On a point-to-point link IFA_ADDRESS is the peer's; the own one is IFA_LOCAL.
            Flags.insert({int(Message->ifa_index), Local.isEmpty() ? Address : Local},
                         AddressFlags);
        }
    }
}

} // namespace

QList<TLocalAdapter> QueryLocalAdapters() {
    const QHash<TAddressKey, quint32> Flags = QueryAddressFlags();
    const QList<QNetworkInterface> Interfaces = QNetworkInterface::allInterfaces();
    // Every network namespace has at least its loopback interface, so an empty list
    // means the enumeration itself failed; Qt reports no reason.
    if (Interfaces.isEmpty())
        throw EOSError(QStringLiteral("The network adapters could not be listed"));

    constexpr quint32 NotPreferred =
        IFA_F_TENTATIVE | IFA_F_OPTIMISTIC | IFA_F_DADFAILED | IFA_F_DEPRECATED;
    QList<TLocalAdapter> Adapters;
    Adapters.reserve(Interfaces.size());
    for (const QNetworkInterface& Interface : Interfaces) {
        const QNetworkInterface::InterfaceFlags InterfaceFlags = Interface.flags();
        TLocalAdapter Adapter;
        Adapter.Name = Interface.name();
        Adapter.Loopback = InterfaceFlags.testFlag(QNetworkInterface::IsLoopBack) ||
                           Interface.type() == QNetworkInterface::Loopback;
        // Administratively up is not enough: an adapter without a link has no usable address.
        Adapter.Up = InterfaceFlags.testFlag(QNetworkInterface::IsUp) &&
                     InterfaceFlags.testFlag(QNetworkInterface::IsRunning);
        // Linux has no receive-only adapters.
        for (const QNetworkAddressEntry& Entry : Interface.addressEntries()) {
            const auto Found = Flags.constFind({Interface.index(), RawAddress(Entry.ip())});
            // An address that came between the two readings has not been seen settled yet.
            const bool Preferred = Found != Flags.cend() && (*Found & NotPreferred) == 0 &&
                                   !Entry.preferredLifetime().hasExpired();
            Adapter.Addresses.append({Entry.ip(), Preferred});
        }
        Adapters.append(Adapter);
    }
    return Adapters;
}

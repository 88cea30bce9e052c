#include "UdpPortNative.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>

namespace UdpPortNative {

namespace {
// Thousands of answers to one broadcast arrive within milliseconds; the kernel
// caps the request at net.core.rmem_max.
constexpr int WantedReceiveBuffer = 4 * 1024 * 1024;

// Datagrams per recvmmsg. Each slot holds the largest IPv4 datagram, so nothing
// is ever cut short; a slot's pages are touched only as far as datagrams fill it.
constexpr unsigned BatchSize = 32;
constexpr std::size_t SlotSize = 65536;

struct TBatch {
    std::unique_ptr<char[]> Data{new char[BatchSize * SlotSize]};
    iovec Parts[BatchSize];
    sockaddr_in Sources[BatchSize];
    mmsghdr Headers[BatchSize];
};
} // namespace

void PrepareSocket(qintptr Descriptor) {
    const int On = 1;
    setsockopt(static_cast<int>(Descriptor), SOL_SOCKET, SO_BROADCAST, &On, sizeof(On));
    setsockopt(static_cast<int>(Descriptor), SOL_SOCKET, SO_RCVBUF, &WantedReceiveBuffer,
               sizeof(WantedReceiveBuffer));
}

QString SendTo(qintptr Descriptor, const QByteArray& Bytes, const QHostAddress& Address,
               quint16 Port) {
    sockaddr_in To{};
    To.sin_family = AF_INET;
    To.sin_port = htons(Port);
    To.sin_addr.s_addr = htonl(Address.toIPv4Address());
    for (;;) {
        const ssize_t Sent = sendto(static_cast<int>(Descriptor), Bytes.constData(),
                                    static_cast<size_t>(Bytes.size()), 0,
                                    reinterpret_cast<const sockaddr*>(&To), sizeof(To));
        if (Sent >= 0)
            return {};
        if (errno != EINTR)
            return QString::fromLocal8Bit(std::strerror(errno));
    }
}

bool ReceiveBatch(qintptr Descriptor, std::deque<TDatagram>& Into, int Limit) {
    // One per thread: reading calls out to nothing, so no caller can come back
    // in while it is filled.
    static thread_local std::unique_ptr<TBatch> Batch;
    if (!Batch)
        Batch = std::make_unique<TBatch>();
    int Read = 0;
    while (Read < Limit) {
        const unsigned Want = std::min(BatchSize, static_cast<unsigned>(Limit - Read));
        for (unsigned i = 0; i < Want; ++i) {
            Batch->Parts[i] = {Batch->Data.get() + i * SlotSize, SlotSize};
            Batch->Headers[i] = {};
            Batch->Headers[i].msg_hdr.msg_name = &Batch->Sources[i];
            Batch->Headers[i].msg_hdr.msg_namelen = sizeof(Batch->Sources[i]);
            Batch->Headers[i].msg_hdr.msg_iov = &Batch->Parts[i];
            Batch->Headers[i].msg_hdr.msg_iovlen = 1;
        }
        const int Got =
            recvmmsg(static_cast<int>(Descriptor), Batch->Headers, Want, MSG_DONTWAIT, nullptr);
        if (Got < 0 && errno == EINTR)
            continue;
        // Empty, or an error (a refused earlier send, say) that Qt's own read
        // after this one reports and clears.
        if (Got <= 0)
            break;
        for (int i = 0; i < Got; ++i) {
            TDatagram d;
            d.Payload = QByteArray(static_cast<const char*>(Batch->Parts[i].iov_base),
                                   static_cast<qsizetype>(Batch->Headers[i].msg_len));
            d.Source = QHostAddress(ntohl(Batch->Sources[i].sin_addr.s_addr));
            d.SourcePort = ntohs(Batch->Sources[i].sin_port);
            Into.push_back(std::move(d));
        }
        Read += Got;
        if (static_cast<unsigned>(Got) < Want)
            break;
    }
    return true;
}

int ReceiveBufferSize(qintptr Descriptor) {
    int Size = 0;
    socklen_t Length = sizeof(Size);
    if (getsockopt(static_cast<int>(Descriptor), SOL_SOCKET, SO_RCVBUF, &Size, &Length) != 0)
        return 0;
    return Size;
}

} // namespace UdpPortNative

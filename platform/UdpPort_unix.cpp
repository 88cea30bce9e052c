#include "UdpPortNative.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace UdpPortNative {

namespace {
// Thousands of answers to one broadcast arrive within milliseconds; the kernel
// caps the request at net.core.rmem_max.
constexpr int WantedReceiveBuffer = 4 * 1024 * 1024;
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

int ReceiveBufferSize(qintptr Descriptor) {
    int Size = 0;
    socklen_t Length = sizeof(Size);
    if (getsockopt(static_cast<int>(Descriptor), SOL_SOCKET, SO_RCVBUF, &Size, &Length) != 0)
        return 0;
    return Size;
}

} // namespace UdpPortNative

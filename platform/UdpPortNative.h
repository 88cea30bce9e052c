#pragma once
// What the UDP port needs from the socket layer below Qt: the system's own
// reason texts for failed sends, broadcast permission and a receive buffer
// large enough for bursts of answers, and reading many datagrams per call.

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <deque>

namespace UdpPortNative {

// Allows broadcasts and asks for the largest receive buffer the system grants.
void PrepareSocket(qintptr Descriptor);

// Sends one datagram; returns the system's reason text on failure, else empty.
QString SendTo(qintptr Descriptor, const QByteArray& Bytes, const QHostAddress& Address,
               quint16 Port);

// The receive buffer size the socket was given, in bytes.
int ReceiveBufferSize(qintptr Descriptor);

struct TDatagram {
    QByteArray Payload;
    QHostAddress Source;
    quint16 SourcePort = 0;
};

// Appends up to Limit datagrams waiting on the socket, in arrival order, many
// per system call, without blocking. Returns false where the system has no such
// call; the caller then reads through Qt. Qt's own read costs three calls per
// datagram (two peeks and the read), which a burst of answers outruns.
bool ReceiveBatch(qintptr Descriptor, std::deque<TDatagram>& Into, int Limit);

} // namespace UdpPortNative

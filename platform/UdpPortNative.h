#pragma once
// What the UDP port needs from the socket layer below Qt: the system's own
// reason texts for failed sends, broadcast permission and a receive buffer
// large enough for bursts of answers.

#include <QByteArray>
#include <QHostAddress>
#include <QString>

namespace UdpPortNative {

// Allows broadcasts and asks for the largest receive buffer the system grants.
void PrepareSocket(qintptr Descriptor);

// Sends one datagram; returns the system's reason text on failure, else empty.
QString SendTo(qintptr Descriptor, const QByteArray& Bytes, const QHostAddress& Address,
               quint16 Port);

// The receive buffer size the socket was given, in bytes.
int ReceiveBufferSize(qintptr Descriptor);

} // namespace UdpPortNative

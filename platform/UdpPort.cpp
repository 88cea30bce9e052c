#include "UdpPort.h"

#include "AnsiCodePage.h"
#include "Errors.h"
#include "UdpPortNative.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QLoggingCategory>
#include <QNetworkDatagram>
#include <QUdpSocket>

Q_LOGGING_CATEGORY(lcUdpPort, "lanfinder.udpport", QtInfoMsg)

namespace {

const QString ShareLocalPortName = QStringLiteral("ShareLocalPort");

int CheckedPort(int Value) {
    if (Value < 0 || Value > 65535)
        throw ECommunicationError(QStringLiteral("Invalid port number %1 (0 to 65535)").arg(Value));
    return Value;
}

bool ParseBoolean(const QString& Text, const QString& Setting) {
    if (Text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (Text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    throw ECommunicationError(
        QStringLiteral("Invalid setting \"%1\": the value must be True or False").arg(Setting));
}

// Dotted text stands for itself; anything else is a host name, looked up now so
// that a bad name fails here and not at every send.
QHostAddress ResolveHost(const QString& Host) {
    if (Host.isEmpty())
        return {};
    QHostAddress Address;
    if (Address.setAddress(Host)) {
        if (Address.protocol() != QAbstractSocket::IPv4Protocol)
            throw ECommunicationError(QStringLiteral("\"%1\" is not an IPv4 address").arg(Host));
        return Address;
    }
    const QHostInfo Info = QHostInfo::fromName(Host);
    if (Info.error() != QHostInfo::NoError)
        throw ECommunicationError(Info.errorString());
    for (const QHostAddress& Found : Info.addresses())
        if (Found.protocol() == QAbstractSocket::IPv4Protocol)
            return Found;
    throw ECommunicationError(QStringLiteral("Host %1 has no IPv4 address").arg(Host));
}

} // namespace

TUdpPort::TUdpPort() = default;

TUdpPort::~TUdpPort() {
    *FAlive = false;
    CloseSocket();
}

bool TUdpPort::Active() const {
    return FSocket != nullptr;
}

void TUdpPort::SetActive(bool Value) {
    if (Value == Active())
        return;
    if (!Value) {
        CloseSocket();
        return;
    }
    auto Socket = std::make_unique<QUdpSocket>();
    const QAbstractSocket::BindMode Mode =
        FShareLocalPort ? (QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)
                        : QAbstractSocket::DontShareAddress;
    if (!Socket->bind(QHostAddress::AnyIPv4, static_cast<quint16>(FLocalPort), Mode))
        throw ECommunicationError(Socket->errorString());
    UdpPortNative::PrepareSocket(Socket->socketDescriptor());
    qCDebug(lcUdpPort) << "open on port" << Socket->localPort() << "receive buffer"
                       << UdpPortNative::ReceiveBufferSize(Socket->socketDescriptor());
    connect(Socket.get(), &QUdpSocket::readyRead, this, &TUdpPort::ReadPendingDatagrams);
    FSocket = std::move(Socket);
}

void TUdpPort::CloseSocket() {
    if (!FSocket)
        return;
    FSocket->disconnect(this);
    FSocket->close();
    // The socket may be the one whose readyRead is being delivered right now.
    if (FInDataIn)
        FSocket.release()->deleteLater();
    else
        FSocket.reset();
}

QString TUdpPort::Config(const QString& Setting) {
    const qsizetype Equals = Setting.indexOf(QLatin1Char('='));
    const QString Name = Setting.left(Equals < 0 ? Setting.size() : Equals).trimmed();
    if (Name.compare(ShareLocalPortName, Qt::CaseInsensitive) != 0)
        throw ECommunicationError(QStringLiteral("Unknown setting \"%1\"").arg(Setting));
    if (Equals >= 0)
        FShareLocalPort = ParseBoolean(Setting.mid(Equals + 1).trimmed(), Setting);
    return ShareLocalPortName +
           (FShareLocalPort ? QStringLiteral("=True") : QStringLiteral("=False"));
}

int TUdpPort::LocalPort() const {
    // Port 0 asks the system for a free port; the caller learns which one here.
    if (FSocket && FLocalPort == 0)
        return FSocket->localPort();
    return FLocalPort;
}

void TUdpPort::SetLocalPort(int Value) {
    FLocalPort = CheckedPort(Value);
}

int TUdpPort::RemotePort() const {
    return FRemotePort;
}

void TUdpPort::SetRemotePort(int Value) {
    FRemotePort = CheckedPort(Value);
}

QString TUdpPort::RemoteHost() const {
    return FRemoteHost;
}

void TUdpPort::SetRemoteHost(const QString& Value) {
    FRemoteAddress = ResolveHost(Value);
    FRemoteHost = Value;
}

void TUdpPort::Send(const QString& Text) {
    if (!FSocket)
        throw ECommunicationError(QStringLiteral("UDP port is not open"));
    // Qt would hand a datagram for a null address to the local host.
    if (FRemoteAddress.isNull())
        throw ECommunicationError(QStringLiteral("no destination host"));
    if (FRemotePort == 0)
        throw ECommunicationError(QStringLiteral("no destination port"));
    const QString Reason = UdpPortNative::SendTo(FSocket->socketDescriptor(), AnsiEncode(Text),
                                                 FRemoteAddress, static_cast<quint16>(FRemotePort));
    if (!Reason.isEmpty())
        throw ECommunicationError(Reason);
}

bool TUdpPort::AcceptData() const {
    return FAcceptData;
}

void TUdpPort::SetAcceptData(bool Value) {
    FAcceptData = Value;
}

void TUdpPort::SetOnDataIn(TDataInEvent Handler) {
    FOnDataIn = std::move(Handler);
}

// Qt signals readyRead again only once everything pending has been read, so
// everything is taken, but in slices: under a flood the socket never runs dry,
// and the thread's timers (the window's countdown) must still get their turn,
// so after a slice the rest is read from a queued call. The handler may close
// the port, or even release it, while we are here.
void TUdpPort::ReadPendingDatagrams() {
    constexpr qint64 SliceMs = 20;
    const std::shared_ptr<bool> Alive = FAlive;
    QUdpSocket* const Socket = FSocket.get();
    const bool WasInDataIn = FInDataIn;
    FInDataIn = true;
    QElapsedTimer Slice;
    Slice.start();
    while (*Alive && FSocket.get() == Socket && Socket && Socket->hasPendingDatagrams()) {
        if (Slice.hasExpired(SliceMs)) {
            QMetaObject::invokeMethod(this, &TUdpPort::ReadPendingDatagrams, Qt::QueuedConnection);
            break;
        }
        const QNetworkDatagram Datagram = Socket->receiveDatagram();
        if (!Datagram.isValid())
            break;
        if (!FAcceptData || !FOnDataIn)
            continue;
        // A copy: the handler may replace itself.
        const TDataInEvent Handler = FOnDataIn;
        Handler(this, AnsiDecode(Datagram.data()), Datagram.senderAddress().toString(),
                Datagram.senderPort());
    }
    if (*Alive)
        FInDataIn = WasInDataIn;
}

#include "UdpPort.h"

#include "AnsiCodePage.h"
#include "Errors.h"
#include "UdpPortNative.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QLoggingCategory>
#include <QTimer>
#include <QUdpSocket>

Q_LOGGING_CATEGORY(lcUdpPort, "lanfinder.udpport", QtInfoMsg)

namespace {

const QString ShareLocalPortName = QStringLiteral("ShareLocalPort");

// Datagrams taken from the socket while fewer than this wait to be reported;
// the rest wait in the receive buffer, so a flood can't fill our memory.
constexpr std::size_t MostPending = 1024;
// Large enough for any IPv4 datagram.
constexpr qint64 LargestDatagram = 65536;

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
    FPending.clear();
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

// Reads what is waiting, then reports it in slices. While datagrams keep coming
// the next read comes from a zero timer, not from readyRead: Qt gets round to
// timers behind a busy socket only now and then, and the thread's timers (the
// window's countdown) must keep their pace under a flood. Only a read that
// finds the socket empty goes through Qt, which arms readyRead again; every
// call ends either so or with the timer set. The handler may close the port,
// or even release it, while we are here.
void TUdpPort::ReadPendingDatagrams() {
    constexpr qint64 SliceMs = 20;
    QUdpSocket* const Socket = FSocket.get();
    if (!Socket)
        return;
    const std::size_t Before = FPending.size();
    if (Before < MostPending) {
        const int Room = static_cast<int>(MostPending - Before);
        if (UdpPortNative::ReceiveBatch(Socket->socketDescriptor(), FPending, Room)) {
            if (FPending.size() == Before)
                TakeThroughQt(*Socket, 1);
        } else
            TakeThroughQt(*Socket, Room + 1);
    }
    // Also when a handler runs an event loop of its own: Qt holds readyRead
    // back in there, and what came in meanwhile must not wait for the next one.
    bool ComeBack = Before >= MostPending || FPending.size() > Before;

    const std::shared_ptr<bool> Alive = FAlive;
    const bool WasInDataIn = FInDataIn;
    FInDataIn = true;
    QElapsedTimer Slice;
    Slice.start();
    while (*Alive && FSocket.get() == Socket && !FPending.empty()) {
        if (Slice.hasExpired(SliceMs)) {
            ComeBack = true;
            break;
        }
        const UdpPortNative::TDatagram Datagram = std::move(FPending.front());
        FPending.pop_front();
        if (!FAcceptData || !FOnDataIn)
            continue;
        // A copy: the handler may replace itself.
        const TDataInEvent Handler = FOnDataIn;
        Handler(this, AnsiDecode(Datagram.Payload), Datagram.Source.toString(),
                Datagram.SourcePort);
    }
    if (!*Alive)
        return;
    FInDataIn = WasInDataIn;
    if (ComeBack && FSocket.get() == Socket)
        QTimer::singleShot(0, this, &TUdpPort::ReadPendingDatagrams);
}

// Up to Most datagrams through Qt. Qt signals readyRead again only after a read
// of its own, so every read ends with one; with nothing waiting it returns at
// once (and Qt notes a temporary error, which means nothing).
void TUdpPort::TakeThroughQt(QUdpSocket& Socket, int Most) {
    QByteArray Buffer(LargestDatagram, Qt::Uninitialized);
    for (int I = 0; I < Most; ++I) {
        UdpPortNative::TDatagram Datagram;
        const qint64 Size = Socket.readDatagram(Buffer.data(), LargestDatagram, &Datagram.Source,
                                                &Datagram.SourcePort);
        if (Size < 0)
            return;
        Datagram.Payload = Buffer.left(Size);
        FPending.push_back(std::move(Datagram));
    }
}

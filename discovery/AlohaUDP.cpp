#include "AlohaUDP.h"

#include "AlohaMessages.h"
#include "Errors.h"
#include "HostEnvironment.h"
#include "HostInfo.h"
#include "IPWatch.h"
#include "IPv4Address.h"
#include "MyActivityLog.h"
#include "NetworkInfo.h"
#include "UdpPort.h"

#include <QLoggingCategory>
#include <exception>
#include <utility>

namespace {

Q_LOGGING_CATEGORY(lcDiscovery, "lanfinder.discovery")

constexpr qint32 AlohaPort = 15350;

QString ReasonOf(const std::exception& E) {
    if (const auto* Own = dynamic_cast<const EError*>(&E))
        return Own->Message();
    return QString::fromLocal8Bit(E.what());
}

// Blanks and control characters, as the owner's tools trim them; QString::trimmed
// would keep most control characters and drop Unicode blanks.
QString TrimControl(const QString& S) {
    qsizetype First = 0;
    qsizetype Last = S.size();
    while (First < Last && S.at(First).unicode() <= 0x20)
        ++First;
    while (Last > First && S.at(Last - 1).unicode() <= 0x20)
        --Last;
    return S.mid(First, Last - First);
}

// The whole list as one text, each entry followed by CR LF, the way the adapter's
// lists were read as a block; two addresses then no longer form one address.
QString ListText(const QStringList& Entries) {
    QString Text;
    for (const QString& Entry : Entries)
        Text += Entry + QStringLiteral("\r\n");
    return Text;
}

// A copy keeps a handler alive even if it rebinds its own event while it runs.
template <typename THandler, typename... TArgs>
void Raise(const THandler& Handler, TArgs&&... Args) {
    if (!Handler)
        return;
    const THandler Copy = Handler;
    Copy(std::forward<TArgs>(Args)...);
}

} // namespace

TAlohaUDP::TAlohaUDP(bool IsServer) {
    FApplication = QStringLiteral("quillory");

    // Deliberately outside the handler below: without a log there is no endpoint.
    FAlohaLog = std::make_unique<TActivityLog>(IsServer ? QStringLiteral("ServerLogs")
                                                        : QStringLiteral("WorkstationLogs"),
                                               QStringLiteral("Aloha"));

    try {
        FUDP = std::make_unique<TUdpPort>();
        FUDP->SetActive(false);
        FUDP->Config(QStringLiteral("ShareLocalPort=True"));
        FNetwork = std::make_unique<TNetworkInfo>();
        FIPInfo = std::make_unique<TIPWatch>();
        FIPInfo->SetHistoryEnabled(false);
        FEnvironment = std::make_unique<THostEnvironment>();
        SetActivityLogEnabled(false);
        SetLocalPort(AlohaPort);
        SetRemotePort(AlohaPort);
        SetLocalIPAddress(FIPInfo->LocalIP());
        SetServerIPAddress(FIPInfo->LocalIP());
        SetServerName(FEnvironment->ComputerName());
        SetWorkstationName(FEnvironment->ComputerName());
        FGlobalBroadcastAddress = QStringLiteral("255.255.255.255");
        FLocalNetworkBroadcastAddress = GetLocalNetworkBroadcastAddress();
        FUDP->SetOnDataIn(
            [this](TUdpPort* Sender, const QString& Datagram, const QString& SourceAddress,
                   int SourcePort) { UDPDataIn(Sender, Datagram, SourceAddress, SourcePort); });
    } catch (const std::exception& E) {
        Log(TLogLevel::Info, QStringLiteral("Error when creating Aloha object: ") + ReasonOf(E));
    }
}

TAlohaUDP::~TAlohaUDP() {
    if (FUDP)
        FUDP->SetOnDataIn(nullptr);
    FEnvironment.reset();
    FIPInfo.reset();
    FNetwork.reset();
    FUDP.reset();
    FAlohaLog.reset();
}

void TAlohaUDP::Log(TLogLevel Level, const QString& Text) {
    if (!FAlohaLog)
        return;
    try {
        switch (Level) {
        case TLogLevel::Info:
            FAlohaLog->AddLogEntry(Text);
            break;
        case TLogLevel::Error:
            FAlohaLog->AddErrorEntry(Text);
            break;
        case TLogLevel::Debug:
            FAlohaLog->AddDebugEntry(Text);
            break;
        case TLogLevel::SystemInformation:
            FAlohaLog->AddSystemInformation();
            break;
        }
    } catch (const ELogWriteError& E) {
        // Once per endpoint: a broken log folder fails every entry, and a server
        // answering a busy network would otherwise flood the diagnostics.
        if (!FLogFailureReported) {
            FLogFailureReported = true;
            qCWarning(lcDiscovery).noquote()
                << "Activity log entry not written, going on without it:" << E.Message();
        }
    }
}

QString TAlohaUDP::GetLocalNetworkBroadcastAddress() {
    QString Result;
    QString AddressText;
    QString MaskText;
    try {
        FNetwork->RefreshData();
        if (FNetwork->AdapterCount() < 1)
            throw EError(QStringLiteral("No network adapter with an IPv4 address"));
        AddressText = TrimControl(ListText(FNetwork->IPAddresses(0)));
        MaskText = TrimControl(ListText(FNetwork->SubnetMasks(0)));
        const quint32 Address = IPv4AddressToValue(StrToIPv4Address(AddressText));
        const quint32 Mask = IPv4AddressToValue(StrToIPv4Address(MaskText));
        Result = IPv4AddressToStr(ValueToIPv4Address(Address | ~Mask));
    } catch (const std::exception& E) {
        Result.clear();
        Log(TLogLevel::Error, QStringLiteral("ERROR: No local IP Address: ") + ReasonOf(E));
        Log(TLogLevel::Debug, QStringLiteral("IP Address: ") + AddressText);
        Log(TLogLevel::Debug, QStringLiteral("Subnet Mask: ") + MaskText);
        Log(TLogLevel::SystemInformation);
    }
    return Result;
}

bool TAlohaUDP::StartCommunication() {
    if (!FUDP) {
        Log(TLogLevel::Error, QStringLiteral("Error when starting communication: "
                                             "the UDP port could not be created"));
        return false;
    }
    if (FUDP->Active())
        FUDP->SetActive(false);
    // Not caught: a host name that can't be resolved is the caller's to hear of.
    FUDP->SetLocalPort(FLocalPort);
    FUDP->SetRemotePort(FRemotePort);
    FUDP->SetRemoteHost(FRemoteHost);
    try {
        FUDP->SetActive(true);
        return true;
    } catch (const std::exception& E) {
        Log(TLogLevel::Error, QStringLiteral("Error when starting communication: ") + ReasonOf(E));
        return false;
    }
}

void TAlohaUDP::StopCommunication() {
    if (FUDP && FUDP->Active())
        FUDP->SetActive(false);
}

QString TAlohaUDP::BuildFindServerMessage() {
    return ::BuildFindServerMessage(FApplication, FLocalIPAddress);
}

QString TAlohaUDP::BuildFindServerResponseMessage() {
    // Read afresh for every response, in this order.
    const QString ComputerName = FEnvironment ? FEnvironment->ComputerName() : QString();
    const QString Address = GetLocalIPAddress();
    const qint32 Port = ServerPort();
    return ::BuildFindServerResponseMessage(FApplication, ComputerName, Address, Port);
}

QString TAlohaUDP::BuildServerAnnounceMessage() {
    // The stored values on purpose: the readers' fallbacks do not apply here.
    return ::BuildServerAnnounceMessage(FApplication, FServerIPAddress, FServerPort, FServerName);
}

QString TAlohaUDP::BuildServerHelloMessage() {
    return ::BuildServerHelloMessage(FApplication, FServerName, FLocalIPAddress);
}

QString TAlohaUDP::BuildServerGoodbyeMessage() {
    return ::BuildServerGoodbyeMessage(FApplication, FServerName, FLocalIPAddress);
}

void TAlohaUDP::SendFindServerMessage() {
    BroadcastMessage(BuildFindServerMessage());
}
void TAlohaUDP::SendServerFindResponseMessage() {
    BroadcastMessage(BuildFindServerResponseMessage());
}
void TAlohaUDP::SendServerAnnounceMessage() {
    BroadcastMessage(BuildServerAnnounceMessage());
}
void TAlohaUDP::SendServerHelloMessage() {
    BroadcastMessage(BuildServerHelloMessage());
}
void TAlohaUDP::SendServerGoodbyeMessage() {
    BroadcastMessage(BuildServerGoodbyeMessage());
}

void TAlohaUDP::BroadcastMessage(const QString& Text) {
    if (!FUDP || !FUDP->Active())
        throw ECommunicationError(QStringLiteral("Error: Communication is NOT active!"));

    // Every destination gets its own attempt: on a LAN without a gateway the
    // limited broadcast is refused while the subnet broadcast still goes out.
    const auto SendTo = [this, &Text](const QString& Destination) {
        Log(TLogLevel::Info, QStringLiteral("Broadcasting on ") + Destination);
        try {
            FUDP->SetRemoteHost(Destination);
            FUDP->Send(Text);
        } catch (const std::exception& E) {
            Log(TLogLevel::Error,
                QStringLiteral("An error occurred when sending the Broadcast message: ") +
                    ReasonOf(E));
        }
    };
    SendTo(FGlobalBroadcastAddress);
    // The test is on the local address, not on the subnet broadcast: with that
    // empty the port refuses the empty host, and the failure is logged.
    if (!FLocalIPAddress.isEmpty())
        SendTo(FLocalNetworkBroadcastAddress);
}

void TAlohaUDP::UDPDataIn(TUdpPort*, const QString& Datagram, const QString&, int) {
    // A copy: a handler may close the port, and with it the buffer behind Datagram.
    const QString Text = Datagram;
    ProcessDatagram(Text);
}

void TAlohaUDP::ProcessDatagram(const QString& Text) {
    const std::optional<TAlohaMessage> Message = DecodeMessage(Text, FApplication);
    if (!Message)
        return;
    switch (Message->Kind) {
    case TAlohaMessageKind::ServerAnnounce:
        HandleServerAnnounce(*Message);
        break;
    case TAlohaMessageKind::ServerHello:
        HandleServerHello(*Message);
        break;
    case TAlohaMessageKind::ServerGoodbye:
        HandleServerGoodbye(*Message);
        break;
    case TAlohaMessageKind::FindServerResponse:
        HandleFindServerResponse(*Message);
        break;
    case TAlohaMessageKind::FindServer:
        HandleFindServer(*Message);
        break;
    }
}

void TAlohaUDP::HandleServerAnnounce(const TAlohaMessage& Message) {
    if (FUseOnlyThisServername.isEmpty() || FUseOnlyThisServername == Message.ServerName)
        Raise(FOnServerAnnounce, this, Message.ServerName, Message.ServerIPAddress,
              Message.ServerPort);
}

void TAlohaUDP::HandleServerHello(const TAlohaMessage& Message) {
    Raise(FOnServerHelloReceived, this, Message.ServerName, Message.ServerIPAddress,
          Message.ServerPort);
}

void TAlohaUDP::HandleServerGoodbye(const TAlohaMessage& Message) {
    Raise(FOnServerGoodbyeReceived, this, Message.ServerName, Message.ServerIPAddress);
}

void TAlohaUDP::HandleFindServerResponse(const TAlohaMessage& Message) {
    Log(TLogLevel::Info, QStringLiteral("Responding to Find Server Request."));
    if (FUseOnlyThisServername.isEmpty() || FUseOnlyThisServername == Message.ServerName)
        Raise(FOnFindServerResponseReceived, this, Message.ServerName, Message.ServerIPAddress,
              Message.ServerPort);
}

void TAlohaUDP::HandleFindServer(const TAlohaMessage& Message) {
    Log(TLogLevel::Info, QStringLiteral("Received Find Server Request from ") +
                             Message.ComputerName + QStringLiteral(" at ") + Message.FromIPAddress);
    Raise(FOnFindServerReceived, this, Message.ComputerName, Message.FromIPAddress);
}

bool TAlohaUDP::ActivityLogEnabled() const {
    return FActivityLogEnabled;
}
void TAlohaUDP::SetActivityLogEnabled(bool Value) {
    FActivityLogEnabled = Value;
}

bool TAlohaUDP::AcceptData() const {
    return FUDP ? FUDP->AcceptData() : FAcceptData;
}

void TAlohaUDP::SetAcceptData(bool Value) {
    // Compared with the port itself: the stored flag starts false while the port
    // starts out taking data in, so a first write of false would change nothing.
    FAcceptData = Value;
    if (FUDP && FUDP->AcceptData() != Value)
        FUDP->SetAcceptData(Value);
}

QString TAlohaUDP::LocalIPAddress() const {
    return FLocalIPAddress;
}
void TAlohaUDP::SetLocalIPAddress(const QString& Value) {
    FLocalIPAddress = Value;
}
qint32 TAlohaUDP::LocalPort() const {
    return FLocalPort;
}
void TAlohaUDP::SetLocalPort(qint32 Value) {
    FLocalPort = Value;
}
QString TAlohaUDP::RemoteHost() const {
    return FRemoteHost;
}
void TAlohaUDP::SetRemoteHost(const QString& Value) {
    FRemoteHost = Value;
}
qint32 TAlohaUDP::RemotePort() const {
    return FRemotePort;
}
void TAlohaUDP::SetRemotePort(qint32 Value) {
    FRemotePort = Value;
}

QString TAlohaUDP::ServerIPAddress() {
    if (FServerIPAddress.isEmpty())
        FServerIPAddress = GetLocalIPAddress();
    return FServerIPAddress;
}

void TAlohaUDP::SetServerIPAddress(const QString& Value) {
    if (FServerIPAddress != Value)
        FServerIPAddress = Value;
}

QString TAlohaUDP::ServerName() const {
    return FServerName;
}
void TAlohaUDP::SetServerName(const QString& Value) {
    FServerName = Value;
}

qint32 TAlohaUDP::ServerPort() {
    if (FServerPort == 0)
        FServerPort = AlohaPort;
    return FServerPort;
}

void TAlohaUDP::SetServerPort(qint32 Value) {
    if (FServerPort != Value)
        FServerPort = Value;
}

QString TAlohaUDP::Username() const {
    return TrimControl(FUsername);
}

void TAlohaUDP::SetUsername(const QString& Value) {
    const QString Trimmed = TrimControl(Value);
    if (TrimControl(FUsername) != Trimmed)
        FUsername = Trimmed;
}

QString TAlohaUDP::UseOnlyThisServername() const {
    return FUseOnlyThisServername;
}
void TAlohaUDP::SetUseOnlyThisServername(const QString& Value) {
    FUseOnlyThisServername = Value;
}
QString TAlohaUDP::WorkstationName() const {
    return FWorkstationName;
}
void TAlohaUDP::SetWorkstationName(const QString& Value) {
    FWorkstationName = Value;
}

void TAlohaUDP::SetOnFindServerReceived(TFindServerEvent Handler) {
    FOnFindServerReceived = std::move(Handler);
}
void TAlohaUDP::SetOnFindServerResponseReceived(TFindServerResponseEvent Handler) {
    FOnFindServerResponseReceived = std::move(Handler);
}
void TAlohaUDP::SetOnServerAnnounce(TServerAnnounceEvent Handler) {
    FOnServerAnnounce = std::move(Handler);
}
void TAlohaUDP::SetOnServerGoodbyeReceived(TServerGoodbyeEvent Handler) {
    FOnServerGoodbyeReceived = std::move(Handler);
}
void TAlohaUDP::SetOnServerHelloReceived(TServerHelloEvent Handler) {
    FOnServerHelloReceived = std::move(Handler);
}

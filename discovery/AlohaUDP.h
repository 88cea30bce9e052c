#pragma once
// The "aloha" discovery endpoint on UDP port 15350, both roles: a workstation
// sends find requests and hears responses and announcements; a server sends
// hellos, goodbyes, announcements and find responses and hears find requests.
// Every received message becomes an event for the owner; nothing is answered by
// itself. Single-threaded: it lives on the thread that creates it, which must
// run an event loop. Owns its activity log and its platform components.

#include <QString>
#include <functional>
#include <memory>

class TActivityLog;
class TUdpPort;
class TNetworkInfo;
class TIPWatch;
class THostEnvironment;
struct TAlohaMessage;

class TAlohaUDP {
public:
    using TFindServerEvent =
        std::function<void(TAlohaUDP* Sender, const QString& WorkstationName, const QString& IPAddress)>;
    using TFindServerResponseEvent = std::function<void(TAlohaUDP* Sender, const QString& ServerName,
                                                        const QString& IPAddress, qint32 ServerPort)>;
    using TServerAnnounceEvent = TFindServerResponseEvent;
    using TServerHelloEvent = TFindServerResponseEvent;
    using TServerGoodbyeEvent =
        std::function<void(TAlohaUDP* Sender, const QString& ServerName, const QString& IPAddress)>;

    // IsServer only chooses the log folder ("ServerLogs" or "WorkstationLogs").
    // A failure to create the activity log raises; later failures are logged.
    explicit TAlohaUDP(bool IsServer);
    ~TAlohaUDP();
    TAlohaUDP(const TAlohaUDP&) = delete;
    TAlohaUDP& operator=(const TAlohaUDP&) = delete;

    bool StartCommunication();
    void StopCommunication();

    // Each raises ECommunicationError "Error: Communication is NOT active!" while closed.
    void SendFindServerMessage();
    void SendServerFindResponseMessage();
    void SendServerAnnounceMessage();
    void SendServerHelloMessage();
    void SendServerGoodbyeMessage();

    bool ActivityLogEnabled() const;
    void SetActivityLogEnabled(bool Value);
    bool AcceptData() const;
    void SetAcceptData(bool Value);
    QString LocalIPAddress() const;
    void SetLocalIPAddress(const QString& Value);
    qint32 LocalPort() const;
    void SetLocalPort(qint32 Value);
    QString RemoteHost() const;
    void SetRemoteHost(const QString& Value);
    qint32 RemotePort() const;
    void SetRemotePort(qint32 Value);
    QString ServerIPAddress(); // fills an empty stored value with the local address
    void SetServerIPAddress(const QString& Value);
    QString ServerName() const;
    void SetServerName(const QString& Value);
    qint32 ServerPort(); // stores 15350 while the stored value is 0
    void SetServerPort(qint32 Value);
    QString Username() const;
    void SetUsername(const QString& Value);
    QString UseOnlyThisServername() const;
    void SetUseOnlyThisServername(const QString& Value);
    QString WorkstationName() const;
    void SetWorkstationName(const QString& Value);

    void SetOnFindServerReceived(TFindServerEvent Handler);
    void SetOnFindServerResponseReceived(TFindServerResponseEvent Handler);
    void SetOnServerAnnounce(TServerAnnounceEvent Handler);
    void SetOnServerGoodbyeReceived(TServerGoodbyeEvent Handler);
    void SetOnServerHelloReceived(TServerHelloEvent Handler);

    // The endpoint's own log (tests and tools read its folder).
    TActivityLog* AlohaLog() const { return FAlohaLog.get(); }

private:
    QString BuildFindServerMessage();
    QString BuildFindServerResponseMessage();
    QString BuildServerAnnounceMessage();
    QString BuildServerHelloMessage();
    QString BuildServerGoodbyeMessage();
    void BroadcastMessage(const QString& Text);
    void UDPDataIn(TUdpPort* Sender, const QString& Datagram, const QString& SourceAddress,
                   int SourcePort);
    void ProcessDatagram(const QString& Text);
    void HandleServerAnnounce(const TAlohaMessage& Message);
    void HandleServerHello(const TAlohaMessage& Message);
    void HandleServerGoodbye(const TAlohaMessage& Message);
    void HandleFindServerResponse(const TAlohaMessage& Message);
    void HandleFindServer(const TAlohaMessage& Message);
    QString GetLocalNetworkBroadcastAddress();

    // The log is best effort here: a failed write must not cost an event or a send.
    enum class TLogLevel { Info, Error, Debug, SystemInformation };
    void Log(TLogLevel Level, const QString& Text = {});

    std::unique_ptr<TActivityLog> FAlohaLog;
    bool FActivityLogEnabled = false;
    bool FAcceptData = false;
    QString FApplication;
    QString FGlobalBroadcastAddress;
    QString FLocalNetworkBroadcastAddress;
    QString FLocalIPAddress;
    qint32 FLocalPort = 0;
    std::unique_ptr<TNetworkInfo> FNetwork;
    QString FRemoteHost;
    qint32 FRemotePort = 0;
    QString FServerIPAddress;
    QString FServerName;
    qint32 FServerPort = 0;
    QString FUseOnlyThisServername;
    QString FUsername;
    QString FWorkstationName;
    std::unique_ptr<THostEnvironment> FEnvironment;
    std::unique_ptr<TIPWatch> FIPInfo;
    std::unique_ptr<TUdpPort> FUDP;
    TFindServerEvent FOnFindServerReceived;
    TFindServerResponseEvent FOnFindServerResponseReceived;
    TServerAnnounceEvent FOnServerAnnounce;
    TServerGoodbyeEvent FOnServerGoodbyeReceived;
    TServerHelloEvent FOnServerHelloReceived;
    bool FLogFailureReported = false;
};

#pragma once
// A UDP port for broadcast discovery: one IPv4 socket bound to every local
// address, sends as single datagrams to RemoteHost:RemotePort, and reports every
// datagram that arrives through OnDataIn, raised from the owning thread's event
// loop. Text goes over the wire in the ANSI code page. Failures raise
// ECommunicationError with the system's reason text.

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <memory>

#include "UdpPortNative.h"

class QUdpSocket;

class TUdpPort : public QObject {
    Q_OBJECT
public:
    using TDataInEvent = std::function<void(TUdpPort* Sender, const QString& Datagram,
                                            const QString& SourceAddress, int SourcePort)>;

    TUdpPort();
    ~TUdpPort() override;

    // Opening binds LocalPort on every IPv4 address, broadcast allowed; closing
    // stops every report at once.
    bool Active() const;
    void SetActive(bool Value);

    // "ShareLocalPort=True" lets several sockets on one host bind the same port.
    // Returns the setting as it now stands.
    QString Config(const QString& Setting);

    int LocalPort() const;
    void SetLocalPort(int Value);
    int RemotePort() const;
    void SetRemotePort(int Value);
    // "255.255.255.255", dotted text, or a host name looked up at once (raises
    // when it can't be resolved). Empty text is accepted; a send to it raises.
    QString RemoteHost() const;
    void SetRemoteHost(const QString& Value);

    void Send(const QString& Text);

    // Whether arriving datagrams are taken in and reported; true at start.
    bool AcceptData() const;
    void SetAcceptData(bool Value);

    void SetOnDataIn(TDataInEvent Handler);

private:
    void ReadPendingDatagrams();
    void TakeThroughQt(QUdpSocket& Socket, int Most);
    void CloseSocket();

    std::unique_ptr<QUdpSocket> FSocket;
    bool FShareLocalPort = false;
    bool FAcceptData = true;
    int FLocalPort = 0;
    int FRemotePort = 0;
    QString FRemoteHost;
    QHostAddress FRemoteAddress;
    TDataInEvent FOnDataIn;
    // Read but not yet reported, oldest first. A handler that runs a nested event
    // loop reads more in there; those queue up behind the ones it interrupted.
    std::deque<UdpPortNative::TDatagram> FPending;
    // Set while OnDataIn runs: the socket that is emitting can't be deleted then.
    bool FInDataIn = false;
    // Cleared by the destructor, so a drain running below it stops.
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};

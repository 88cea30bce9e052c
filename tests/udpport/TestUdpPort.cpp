// The UDP port over real sockets in the network lab (198.18.0.1/24 on lab0):
// ports of this process talk to each other and to plain Qt sockets.
#include "../endpoint/LabGuard.h"
#include "Errors.h"
#include "UdpPort.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTest>
#include <QUdpSocket>
#include <memory>
#include <vector>

namespace {

constexpr int AlohaPort = 15350;
const QString LabAddress = QStringLiteral("198.18.0.1");
const QString LabBroadcast = QStringLiteral("198.18.0.255");
const QString LimitedBroadcast = QStringLiteral("255.255.255.255");

struct TReceived {
    QString Datagram;
    QString SourceAddress;
    int SourcePort = 0;
};

// A port that records what it hears.
struct TListener {
    std::unique_ptr<TUdpPort> Port = std::make_unique<TUdpPort>();
    std::vector<TReceived> Received;

    explicit TListener(int LocalPort = AlohaPort, bool Share = true) {
        if (Share)
            Port->Config(QStringLiteral("ShareLocalPort=True"));
        Port->SetLocalPort(LocalPort);
        Port->SetOnDataIn([this](TUdpPort* Sender, const QString& Datagram,
                                 const QString& SourceAddress, int SourcePort) {
            QCOMPARE(Sender, Port.get());
            Received.push_back({Datagram, SourceAddress, SourcePort});
        });
    }
    void Open() { Port->SetActive(true); }
};

QString ErrorOf(const std::function<void()>& Action) {
    try {
        Action();
    } catch (const ECommunicationError& E) {
        return E.Message();
    }
    return QStringLiteral("(no error)");
}

bool Ip(const QStringList& Arguments) {
    return QProcess::execute(QStringLiteral("ip"), Arguments) == 0;
}

} // namespace

class TestUdpPort : public QObject {
    Q_OBJECT
private slots:
    void opensClosesAndReopens();
    void refusesBadSettings();
    void broadcastReachesEverySharingPort_data();
    void broadcastReachesEverySharingPort();
    void portHeldWithoutReuseFailsToOpen();
    void sendFailures_data();
    void sendFailures();
    void remoteHostIsResolvedAtOnce_data();
    void remoteHostIsResolvedAtOnce();
    void limitedBroadcastNeedsARoute();
    void textTravelsInTheAnsiCodePage();
    void reportsTheSender();
    void acceptDataFalseDropsInsteadOfQueueing();
    void burstArrivesWhole();
    void everyDatagramArrivesWholeAndInOrder();
    void nestedEventLoopInHandlerKeepsOrder();
    void handlerMayCloseThePort();
    void handlerReleasingThePortDoesNotCrash();
};

void TestUdpPort::opensClosesAndReopens() {
    TListener Listener;
    QVERIFY(!Listener.Port->Active());
    QVERIFY(Listener.Port->AcceptData());
    Listener.Open();
    QVERIFY(Listener.Port->Active());
    QCOMPARE(Listener.Port->LocalPort(), AlohaPort);
    Listener.Port->SetActive(true); // opening an open port changes nothing
    QVERIFY(Listener.Port->Active());
    Listener.Port->SetActive(false);
    QVERIFY(!Listener.Port->Active());
    Listener.Port->SetActive(false);

    // Nothing arrives at a closed port, and it opens again on the same port.
    TUdpPort Sender;
    Sender.SetLocalPort(0);
    Sender.SetActive(true);
    QVERIFY(Sender.LocalPort() > 0);
    Sender.SetRemotePort(AlohaPort);
    Sender.SetRemoteHost(LabAddress);
    Sender.Send(QStringLiteral("while closed"));
    QTest::qWait(100);
    QCOMPARE(Listener.Received.size(), 0u);
    Listener.Open();
    Sender.Send(QStringLiteral("reopened"));
    QTRY_COMPARE(Listener.Received.size(), 1u);
    QCOMPARE(Listener.Received[0].Datagram, QStringLiteral("reopened"));
}

void TestUdpPort::refusesBadSettings() {
    TUdpPort Port;
    QCOMPARE(Port.Config(QStringLiteral("ShareLocalPort")), QStringLiteral("ShareLocalPort=False"));
    QCOMPARE(Port.Config(QStringLiteral("ShareLocalPort=True")),
             QStringLiteral("ShareLocalPort=True"));
    QCOMPARE(ErrorOf([&] { Port.Config(QStringLiteral("ShareLocalPort=maybe")); }),
             QStringLiteral(
                 "Invalid setting \"ShareLocalPort=maybe\": the value must be True or False"));
    QCOMPARE(ErrorOf([&] { Port.Config(QStringLiteral("TimeToLive=4")); }),
             QStringLiteral("Unknown setting \"TimeToLive=4\""));
    QCOMPARE(ErrorOf([&] { Port.SetLocalPort(65536); }),
             QStringLiteral("Invalid port number 65536 (0 to 65535)"));
    QCOMPARE(ErrorOf([&] { Port.SetRemotePort(-1); }),
             QStringLiteral("Invalid port number -1 (0 to 65535)"));
    QCOMPARE(Port.Config(QStringLiteral("ShareLocalPort")), QStringLiteral("ShareLocalPort=True"));
}

void TestUdpPort::broadcastReachesEverySharingPort_data() {
    QTest::addColumn<QString>("Destination");
    QTest::newRow("limited broadcast") << LimitedBroadcast;
    QTest::newRow("subnet broadcast") << LabBroadcast;
}

void TestUdpPort::broadcastReachesEverySharingPort() {
    QFETCH(QString, Destination);
    TListener First;
    TListener Second;
    First.Open();
    Second.Open();
    First.Port->SetRemotePort(AlohaPort);
    First.Port->SetRemoteHost(Destination);
    QCOMPARE(First.Port->RemoteHost(), Destination);
    First.Port->Send(QStringLiteral("hello\r\n"));
    QTRY_COMPARE(Second.Received.size(), 1u);
    QTRY_COMPARE(First.Received.size(), 1u); // the sender hears itself
    QCOMPARE(Second.Received[0].Datagram, QStringLiteral("hello\r\n"));
    QCOMPARE(First.Received[0].Datagram, QStringLiteral("hello\r\n"));
    QTest::qWait(50);
    QCOMPARE(Second.Received.size(), 1u);
}

void TestUdpPort::portHeldWithoutReuseFailsToOpen() {
    QUdpSocket Holder;
    QVERIFY(Holder.bind(QHostAddress::AnyIPv4, AlohaPort, QAbstractSocket::DontShareAddress));
    TListener Listener;
    const QString Reason = ErrorOf([&] { Listener.Open(); });
    QCOMPARE(Reason, QStringLiteral("The bound address is already in use"));
    QVERIFY(!Listener.Port->Active());
    Holder.close();
    Listener.Open();
    QVERIFY(Listener.Port->Active());

    // Without the setting the port holds 15350 alone.
    TListener Alone(AlohaPort, false);
    QCOMPARE(ErrorOf([&] { Alone.Open(); }), QStringLiteral("The bound address is already in use"));
}

void TestUdpPort::sendFailures_data() {
    QTest::addColumn<bool>("Open");
    QTest::addColumn<QString>("Host");
    QTest::addColumn<int>("Port");
    QTest::addColumn<QString>("Reason");
    QTest::newRow("closed port") << false << LabBroadcast << AlohaPort << "UDP port is not open";
    // Qt would deliver to the local host instead.
    QTest::newRow("empty host") << true << "" << AlohaPort << "no destination host";
    QTest::newRow("destination port 0") << true << LabBroadcast << 0 << "no destination port";
}

void TestUdpPort::sendFailures() {
    QFETCH(bool, Open);
    QFETCH(QString, Host);
    QFETCH(int, Port);
    QFETCH(QString, Reason);
    TListener Listener;
    Listener.Port->SetRemotePort(Port);
    Listener.Port->SetRemoteHost(Host);
    QCOMPARE(Listener.Port->RemoteHost(), Host);
    if (Open)
        Listener.Open();
    QCOMPARE(ErrorOf([&] { Listener.Port->Send(QStringLiteral("x")); }), Reason);
    QTest::qWait(50);
    QCOMPARE(Listener.Received.size(), 0u);
}

void TestUdpPort::remoteHostIsResolvedAtOnce_data() {
    QTest::addColumn<QString>("Host");
    QTest::addColumn<QString>("Reason");
    QTest::newRow("dotted text") << LabAddress << "";
    QTest::newRow("limited broadcast") << LimitedBroadcast << "";
    QTest::newRow("host name from the hosts file") << "localhost"
                                                   << "";
    QTest::newRow("unknown host name") << "no-such-host.invalid"
                                       << "(resolver's reason)";
    QTest::newRow("IPv6 text") << "::1"
                               << "\"::1\" is not an IPv4 address";
}

void TestUdpPort::remoteHostIsResolvedAtOnce() {
    QFETCH(QString, Host);
    QFETCH(QString, Reason);
    TUdpPort Port;
    Port.SetRemoteHost(LabBroadcast);
    const QString Got = ErrorOf([&] { Port.SetRemoteHost(Host); });
    if (!Reason.isEmpty()) {
        // The resolver's own words vary with the host's set-up.
        if (Reason == QStringLiteral("(resolver's reason)"))
            QVERIFY2(!Got.isEmpty() && Got != QStringLiteral("(no error)"), qPrintable(Got));
        else
            QCOMPARE(Got, Reason);
        QCOMPARE(Port.RemoteHost(), LabBroadcast); // a refused host changes nothing
        return;
    }
    QCOMPARE(Got, QStringLiteral("(no error)"));
    QCOMPARE(Port.RemoteHost(), Host);
}

void TestUdpPort::limitedBroadcastNeedsARoute() {
    TListener Listener;
    Listener.Open();
    Listener.Port->SetRemotePort(AlohaPort);
    QVERIFY(Ip({"route", "del", "default"}));
    Listener.Port->SetRemoteHost(LimitedBroadcast);
    const QString Limited = ErrorOf([&] { Listener.Port->Send(QStringLiteral("limited")); });
    Listener.Port->SetRemoteHost(LabBroadcast);
    const QString Subnet = ErrorOf([&] { Listener.Port->Send(QStringLiteral("subnet")); });
    QVERIFY(Ip({"route", "add", "default", "dev", "lab0"}));
    QCOMPARE(Limited, QStringLiteral("Network is unreachable"));
    QCOMPARE(Subnet, QStringLiteral("(no error)"));
    QTRY_COMPARE(Listener.Received.size(), 1u);
    QCOMPARE(Listener.Received[0].Datagram, QStringLiteral("subnet"));
}

void TestUdpPort::textTravelsInTheAnsiCodePage() {
    QUdpSocket Wire;
    QVERIFY(Wire.bind(QHostAddress::AnyIPv4, AlohaPort, QAbstractSocket::ShareAddress));
    TListener Listener;
    Listener.Open();
    Listener.Port->SetRemotePort(AlohaPort);
    Listener.Port->SetRemoteHost(LabBroadcast);
    const QString Text = QStringLiteral("server_name=Caf\u00e9 \u20ac\u0141\r\n");
    Listener.Port->Send(Text);
    QTRY_VERIFY(Wire.hasPendingDatagrams());
    // é is E9 and € is 80 in Windows-1252; Ł is not in it.
    QCOMPARE(Wire.receiveDatagram().data(), QByteArray("server_name=Caf\xe9 \x80?\r\n"));
    QTRY_COMPARE(Listener.Received.size(), 1u);
    QCOMPARE(Listener.Received[0].Datagram, QStringLiteral("server_name=Caf\u00e9 \u20ac?\r\n"));

    // And bytes from elsewhere are read in the same code page, NUL included.
    Wire.writeDatagram(QByteArray("\xe9\x80\x00z", 4), QHostAddress(LabAddress), AlohaPort);
    QTRY_COMPARE(Listener.Received.size(), 2u);
    QCOMPARE(Listener.Received[1].Datagram, QString::fromUtf16(u"\u00e9\u20ac\u0000z", 4));
}

void TestUdpPort::reportsTheSender() {
    QUdpSocket Remote;
    QVERIFY(Remote.bind(QHostAddress(LabAddress), 0));
    TListener Listener;
    Listener.Open();
    Remote.writeDatagram(QByteArray("x"), QHostAddress(LabBroadcast), AlohaPort);
    QTRY_COMPARE(Listener.Received.size(), 1u);
    QCOMPARE(Listener.Received[0].SourceAddress, LabAddress);
    QCOMPARE(Listener.Received[0].SourcePort, int(Remote.localPort()));
}

void TestUdpPort::acceptDataFalseDropsInsteadOfQueueing() {
    QUdpSocket Remote;
    TListener Listener;
    Listener.Open();
    Listener.Port->SetAcceptData(false);
    QVERIFY(!Listener.Port->AcceptData());
    Remote.writeDatagram(QByteArray("dropped"), QHostAddress(LabAddress), AlohaPort);
    QTest::qWait(100);
    QCOMPARE(Listener.Received.size(), 0u);
    Listener.Port->SetAcceptData(true);
    Remote.writeDatagram(QByteArray("taken"), QHostAddress(LabAddress), AlohaPort);
    QTRY_COMPARE(Listener.Received.size(), 1u);
    QTest::qWait(50);
    QCOMPARE(Listener.Received.size(), 1u);
    QCOMPARE(Listener.Received[0].Datagram, QStringLiteral("taken"));
}

void TestUdpPort::burstArrivesWhole() {
    // All of it lands in the receive buffer before the port reads anything:
    // the buffer must hold it, and one readyRead must take it all.
    constexpr int Count = 2000;
    TListener Listener;
    Listener.Open();
    QUdpSocket Remote;
    const QByteArray Answer = QByteArray("protocol=aloha\r\napplication=quillory\r\n"
                                         "message_type=find_server_response\r\n"
                                         "server_name=SRV-%1\r\nserver_ip_address=198.18.0.1\r\n");
    for (int I = 0; I < Count; ++I)
        QVERIFY(Remote.writeDatagram(Answer + QByteArray::number(I), QHostAddress(LabAddress),
                                     AlohaPort) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(Listener.Received.size(), std::size_t(Count), 10000);
    QVERIFY(Listener.Received.back().Datagram.endsWith(QString::number(Count - 1)));
}

void TestUdpPort::everyDatagramArrivesWholeAndInOrder() {
    // Sizes up to the largest IPv4 datagram, more of them than one read takes.
    TListener Listener;
    Listener.Open();
    QUdpSocket Remote;
    const int Sizes[] = {1, 148, 1472, 1473, 9000};
    std::vector<QByteArray> Sent;
    for (int I = 0; I < 1500; ++I) {
        const int Size = I % 250 == 0 ? 65507 : Sizes[I % std::size(Sizes)];
        QByteArray Payload = QByteArray::number(I).leftJustified(Size, 'x', true);
        QVERIFY(Remote.writeDatagram(Payload, QHostAddress(LabAddress), AlohaPort) == Size);
        Sent.push_back(std::move(Payload));
    }
    QTRY_COMPARE_WITH_TIMEOUT(Listener.Received.size(), Sent.size(), 10000);
    for (std::size_t I = 0; I < Sent.size(); ++I)
        QCOMPARE(Listener.Received[I].Datagram, QString::fromLatin1(Sent[I]));
}

void TestUdpPort::nestedEventLoopInHandlerKeepsOrder() {
    // A modal box in a handler runs the event loop, which reads and reports
    // more datagrams before the handler returns.
    TUdpPort Port;
    Port.Config(QStringLiteral("ShareLocalPort=True"));
    Port.SetLocalPort(AlohaPort);
    QUdpSocket Remote;
    QStringList Heard;
    Port.SetOnDataIn([&](TUdpPort*, const QString& Datagram, const QString&, int) {
        Heard << Datagram;
        if (Datagram == QStringLiteral("0")) {
            for (int I = 100; I < 110; ++I)
                Remote.writeDatagram(QByteArray::number(I), QHostAddress(LabAddress), AlohaPort);
            QTest::qWait(100);
        }
    });
    Port.SetActive(true);
    for (int I = 0; I < 10; ++I)
        Remote.writeDatagram(QByteArray::number(I), QHostAddress(LabAddress), AlohaPort);
    QTRY_COMPARE(Heard.size(), 20);
    QStringList Expected;
    for (int I = 0; I < 10; ++I)
        Expected << QString::number(I);
    for (int I = 100; I < 110; ++I)
        Expected << QString::number(I);
    QCOMPARE(Heard, Expected);
}

void TestUdpPort::handlerMayCloseThePort() {
    TUdpPort Port;
    Port.Config(QStringLiteral("ShareLocalPort=True"));
    Port.SetLocalPort(AlohaPort);
    int Calls = 0;
    Port.SetOnDataIn([&](TUdpPort* Sender, const QString&, const QString&, int) {
        ++Calls;
        Sender->SetActive(false);
    });
    Port.SetActive(true);
    QUdpSocket Remote;
    for (int I = 0; I < 5; ++I)
        Remote.writeDatagram(QByteArray("x"), QHostAddress(LabAddress), AlohaPort);
    QTRY_COMPARE(Calls, 1);
    QTest::qWait(100);
    QCOMPARE(Calls, 1);
    QVERIFY(!Port.Active());

    // Reopening from the handler's aftermath works as ever.
    Port.SetOnDataIn([&](TUdpPort*, const QString&, const QString&, int) { ++Calls; });
    Port.SetActive(true);
    Remote.writeDatagram(QByteArray("x"), QHostAddress(LabAddress), AlohaPort);
    QTRY_COMPARE(Calls, 2);
}

void TestUdpPort::handlerReleasingThePortDoesNotCrash() {
    auto Port = std::make_unique<TUdpPort>();
    Port->SetLocalPort(AlohaPort);
    int Calls = 0;
    Port->SetOnDataIn([&](TUdpPort*, const QString&, const QString&, int) {
        ++Calls;
        Port.reset();
    });
    Port->SetActive(true);
    QUdpSocket Remote;
    for (int I = 0; I < 3; ++I)
        Remote.writeDatagram(QByteArray("x"), QHostAddress(LabAddress), AlohaPort);
    QTRY_VERIFY(!Port);
    QTest::qWait(100);
    QCOMPARE(Calls, 1);
}

LANFINDER_LAB_TEST_MAIN(TestUdpPort)
#include "TestUdpPort.moc"

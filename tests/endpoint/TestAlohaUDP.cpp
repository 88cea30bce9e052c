// The discovery endpoint over real sockets in the network lab: a workstation and
// servers in one process, a plain reader socket to see what went on the wire, and
// the activity log read back from disk.
#include "AlohaUDP.h"
#include "Errors.h"
#include "LabGuard.h"
#include "MyActivityLog.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <functional>
#include <memory>
#include <unistd.h>

namespace {

const QString LabAddress = QStringLiteral("198.18.0.1");
const QString LabBroadcast = QStringLiteral("198.18.0.255");
const QString LimitedBroadcast = QStringLiteral("255.255.255.255");
const QString LabHostName = QStringLiteral("Lab-Host");
constexpr quint16 AlohaPort = 15350;

struct TEntry {
    QString Level;
    QString Value;
    friend bool operator==(const TEntry&, const TEntry&) = default;
};

char* toString(const TEntry& Entry) {
    return QTest::toString(QString(Entry.Level + " | " + Entry.Value));
}

// The lines an endpoint's log gained since this reader was made.
class TLogTail {
public:
    enum TFrom { FromNow, FromStart };
    explicit TLogTail(const TAlohaUDP& Endpoint, TFrom From = FromNow)
        : FPath(Endpoint.AlohaLog()->LogFolder() + u'/' +
                TActivityLog::LogFileName(QStringLiteral("Aloha"), QDate::currentDate())) {
        FStart = From == FromStart ? 0 : QFile(FPath).size();
    }
    QList<TEntry> Entries() const {
        QFile File(FPath);
        QList<TEntry> Result;
        if (!File.open(QIODevice::ReadOnly))
            return Result;
        File.seek(FStart);
        for (const QByteArray& Raw : File.readAll().split('\n')) {
            // "yyyy-mm-dd hh:nn:ss;Level;Value;" then CR LF
            QString Line = QString::fromLatin1(Raw);
            if (Line.endsWith(u'\r'))
                Line.chop(1);
            if (Line.isEmpty())
                continue;
            const QString Rest = Line.mid(20);
            const qsizetype Semicolon = Rest.indexOf(u';');
            Result.append({Rest.left(Semicolon), Rest.mid(Semicolon + 1).chopped(1)});
        }
        return Result;
    }
    QStringList Values() const {
        QStringList Result;
        for (const TEntry& Entry : Entries())
            Result << Entry.Value;
        return Result;
    }

private:
    QString FPath;
    qint64 FStart = 0;
};

// Sees every datagram on the discovery port, as any other program on the host would.
class TWireReader {
public:
    TWireReader() {
        FSocket.bind(QHostAddress::AnyIPv4, AlohaPort, QUdpSocket::ShareAddress);
        QObject::connect(&FSocket, &QUdpSocket::readyRead, &FSocket, [this] {
            while (FSocket.hasPendingDatagrams())
                FDatagrams.append(FSocket.receiveDatagram());
        });
    }
    bool Bound() const { return FSocket.state() == QAbstractSocket::BoundState; }
    const QList<QNetworkDatagram>& Datagrams() const { return FDatagrams; }
    qsizetype Count() const { return FDatagrams.size(); }
    QStringList Destinations() const {
        QStringList Result;
        for (const QNetworkDatagram& D : FDatagrams)
            Result << D.destinationAddress().toString();
        return Result;
    }

private:
    QUdpSocket FSocket;
    QList<QNetworkDatagram> FDatagrams;
};

QString RaisedMessage(const std::function<void()>& Operation) {
    try {
        Operation();
    } catch (const EError& E) {
        return E.Message();
    }
    return QString();
}

enum class TSend { Find, FindResponse, Announce, Hello, Goodbye };

void Send(TAlohaUDP& Endpoint, TSend Kind) {
    switch (Kind) {
    case TSend::Find:
        Endpoint.SendFindServerMessage();
        break;
    case TSend::FindResponse:
        Endpoint.SendServerFindResponseMessage();
        break;
    case TSend::Announce:
        Endpoint.SendServerAnnounceMessage();
        break;
    case TSend::Hello:
        Endpoint.SendServerHelloMessage();
        break;
    case TSend::Goodbye:
        Endpoint.SendServerGoodbyeMessage();
        break;
    }
}

int Ip(const QStringList& Arguments) {
    return QProcess::execute(QStringLiteral("ip"), Arguments);
}

QString LabInterface() {
    return qEnvironmentVariable("LANFINDER_NETLAB_IF", QStringLiteral("lab0"));
}

// Undoes a change to the lab's network when a test ends, passed or failed.
class TLabChange {
public:
    TLabChange(const QStringList& Apply, QStringList Undo) : FUndo(std::move(Undo)) {
        FApplied = Ip(Apply) == 0;
    }
    ~TLabChange() {
        if (FApplied)
            Ip(FUndo);
    }
    bool Applied() const { return FApplied; }

private:
    QStringList FUndo;
    bool FApplied = false;
};

struct TServerReport {
    TAlohaUDP* Sender;
    QString Name;
    QString Address;
    qint32 Port;
};

} // namespace

Q_DECLARE_METATYPE(TSend)

class TestAlohaUDP : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void construction();
    void sendWhileClosedRaisesAndLogsNothing_data();
    void sendWhileClosedRaisesAndLogsNothing();
    void destinationsFollowTheLocalAddress_data();
    void destinationsFollowTheLocalAddress();
    void findRequestOnTheWire();
    void hearsItsOwnFindRequest();
    void nameFilter_data();
    void nameFilter();
    void announcementCarriesStoredValues();
    void usernameIsTrimmed();
    void firstWriteOfAcceptDataFalseStopsReception();
    void restartOnAnOpenPort();
    void secondAddressOnAdapterZero();
    void portHeldWithoutAddressReuse();
    void noDefaultRouteStillSendsTheSubnetBroadcast();
    void brokenLogFolderCostsNoEventAndNoSend();
    void stopFromInsideAHandler();

private:
    std::unique_ptr<QTemporaryDir> FState;
};

void TestAlohaUDP::initTestCase() {
    // The lab has its own UTS namespace: a known, mixed-case computer name.
    const QByteArray Name = LabHostName.toLatin1();
    QVERIFY2(sethostname(Name.constData(), size_t(Name.size())) == 0, "cannot set the lab's name");
}

void TestAlohaUDP::init() {
    // Each test its own log folder, so earlier tests' lines never mix in.
    FState = std::make_unique<QTemporaryDir>();
    QVERIFY(FState->isValid());
    qputenv("XDG_STATE_HOME", FState->path().toLocal8Bit());
}

void TestAlohaUDP::construction() {
    const TAlohaUDP Workstation(false);
    QCOMPARE(Workstation.AlohaLog()->LogFolder(),
             FState->path() + "/Ternwick Software/Quillory 5/WorkstationLogs");
    const TAlohaUDP Server(true);
    QCOMPARE(Server.AlohaLog()->LogFolder(),
             FState->path() + "/Ternwick Software/Quillory 5/ServerLogs");

    TAlohaUDP Endpoint(false);
    QCOMPARE(Endpoint.LocalIPAddress(), LabAddress);
    QCOMPARE(Endpoint.ServerName(), LabHostName);
    QCOMPARE(Endpoint.WorkstationName(), LabHostName);
    QCOMPARE(Endpoint.LocalPort(), 15350);
    QCOMPARE(Endpoint.RemotePort(), 15350);
    QCOMPARE(Endpoint.RemoteHost(), QString());
    QCOMPARE(Endpoint.ActivityLogEnabled(), false);
    QCOMPARE(Endpoint.AcceptData(), true);
    // Nothing went wrong, so nothing was logged (the subnet broadcast was found).
    QVERIFY(!QFile::exists(Endpoint.AlohaLog()->LogFolder() + u'/' +
                           TActivityLog::LogFileName("Aloha", QDate::currentDate())));
}

void TestAlohaUDP::sendWhileClosedRaisesAndLogsNothing_data() {
    QTest::addColumn<TSend>("Kind");
    QTest::newRow("find request") << TSend::Find;
    QTest::newRow("find response") << TSend::FindResponse;
    QTest::newRow("announcement") << TSend::Announce;
    QTest::newRow("hello") << TSend::Hello;
    QTest::newRow("goodbye") << TSend::Goodbye;
}

void TestAlohaUDP::sendWhileClosedRaisesAndLogsNothing() {
    QFETCH(TSend, Kind);
    TWireReader Wire;
    QVERIFY(Wire.Bound());
    TAlohaUDP Endpoint(true);
    const TLogTail Log(Endpoint);
    const QString NotActive = QStringLiteral("Error: Communication is NOT active!");

    QCOMPARE(RaisedMessage([&] { Send(Endpoint, Kind); }), NotActive);
    QVERIFY(Endpoint.StartCommunication());
    Endpoint.StopCommunication();
    QCOMPARE(RaisedMessage([&] { Send(Endpoint, Kind); }), NotActive);
    QTest::qWait(100);
    QCOMPARE(Log.Entries(), QList<TEntry>());
    QCOMPARE(Wire.Count(), 0);
}

void TestAlohaUDP::destinationsFollowTheLocalAddress_data() {
    QTest::addColumn<QString>("LocalIPAddress");
    QTest::addColumn<QStringList>("Destinations");
    QTest::newRow("without a local address, the limited broadcast alone")
        << QString() << QStringList{LimitedBroadcast};
    QTest::newRow("with a local address, the subnet broadcast as well")
        << LabAddress << QStringList{LimitedBroadcast, LabBroadcast};
}

void TestAlohaUDP::destinationsFollowTheLocalAddress() {
    QFETCH(QString, LocalIPAddress);
    QFETCH(QStringList, Destinations);
    TWireReader Wire;
    TAlohaUDP Endpoint(true);
    Endpoint.SetLocalIPAddress(LocalIPAddress);
    QVERIFY(Endpoint.StartCommunication());
    const TLogTail Log(Endpoint);

    Endpoint.SendServerHelloMessage();
    QTRY_COMPARE(Wire.Count(), Destinations.size());
    QTest::qWait(100);
    QCOMPARE(Wire.Count(), Destinations.size());
    QStringList Expected;
    for (const QString& Destination : Destinations)
        Expected << "Broadcasting on " + Destination;
    QCOMPARE(Log.Values(), Expected);
    QCOMPARE(Log.Entries().first().Level, QStringLiteral("Info"));
    QCOMPARE(Wire.Destinations(), Destinations);
}

void TestAlohaUDP::findRequestOnTheWire() {
    TWireReader Wire;
    TAlohaUDP Workstation(false);
    QVERIFY(Workstation.StartCommunication());
    Workstation.SendFindServerMessage();
    QTRY_COMPARE(Wire.Count(), 2);
    const QByteArray Expected = "protocol=aloha\r\n"
                                "application=quillory\r\n"
                                "message_type=find_server\r\n"
                                "from_ip_address=198.18.0.1\r\n";
    QCOMPARE(Expected.size(), 94 - 2); // the worked example's address is two characters longer
    for (const QNetworkDatagram& Datagram : Wire.Datagrams()) {
        QCOMPARE(Datagram.data(), Expected);
        QCOMPARE(Datagram.destinationPort(), int(AlohaPort));
    }
}

void TestAlohaUDP::hearsItsOwnFindRequest() {
    TAlohaUDP Workstation(false);
    QList<QStringList> Heard;
    Workstation.SetOnFindServerReceived(
        [&](TAlohaUDP* Sender, const QString& Name, const QString& Address) {
            QCOMPARE(Sender, &Workstation);
            Heard.append({Name, Address});
        });
    QVERIFY(Workstation.StartCommunication());
    const TLogTail Log(Workstation);
    Workstation.SendFindServerMessage();
    QTRY_COMPARE(Heard.size(), 2);
    QCOMPARE(Heard.first(), (QStringList{QString(), LabAddress}));
    // No computer_name in our own request: two blanks between "from" and "at".
    const QString Received = "Received Find Server Request from  at " + LabAddress;
    QCOMPARE(Log.Values().count(Received), 2);
}

void TestAlohaUDP::nameFilter_data() {
    QTest::addColumn<TSend>("Kind");
    QTest::addColumn<QString>("Filter");
    QTest::addColumn<bool>("Reported");
    QTest::addColumn<qint32>("Port");

    QTest::newRow("announcement, no filter") << TSend::Announce << QString() << true << 4242;
    QTest::newRow("announcement, the exact name") << TSend::Announce << LabHostName << true << 4242;
    QTest::newRow("announcement, the name in capitals")
        << TSend::Announce << LabHostName.toUpper() << false << 4242;
    QTest::newRow("announcement, the name in small letters")
        << TSend::Announce << LabHostName.toLower() << false << 4242;
    QTest::newRow("find response, no filter") << TSend::FindResponse << QString() << true << 4242;
    QTest::newRow("find response, the name in capitals")
        << TSend::FindResponse << LabHostName.toUpper() << false << 4242;
    QTest::newRow("hello, another name") << TSend::Hello << "Elsewhere" << true << 12600;
    QTest::newRow("goodbye, another name") << TSend::Goodbye << "Elsewhere" << true << 0;
}

void TestAlohaUDP::nameFilter() {
    QFETCH(TSend, Kind);
    QFETCH(QString, Filter);
    QFETCH(bool, Reported);
    QFETCH(qint32, Port);

    TAlohaUDP Workstation(false);
    Workstation.SetUseOnlyThisServername(Filter);
    QList<TServerReport> Reports;
    const auto Record = [&](TAlohaUDP* Sender, const QString& Name, const QString& Address,
                            qint32 ReportedPort) {
        Reports.append({Sender, Name, Address, ReportedPort});
    };
    Workstation.SetOnServerAnnounce(Record);
    Workstation.SetOnFindServerResponseReceived(Record);
    Workstation.SetOnServerHelloReceived(Record);
    Workstation.SetOnServerGoodbyeReceived(
        [&](TAlohaUDP* Sender, const QString& Name, const QString& Address) {
            Record(Sender, Name, Address, 0);
        });
    QVERIFY(Workstation.StartCommunication());
    const TLogTail Log(Workstation);

    TWireReader Wire;
    TAlohaUDP Server(true);
    Server.SetServerName(LabHostName); // find responses carry the computer name, the same
    Server.SetServerPort(4242);
    QVERIFY(Server.StartCommunication());
    Send(Server, Kind);
    QTRY_COMPARE(Wire.Count(), 2);

    if (Reported) {
        QTRY_COMPARE(Reports.size(), 2);
        QCOMPARE(Reports.first().Sender, &Workstation);
        QCOMPARE(Reports.first().Name, LabHostName);
        QCOMPARE(Reports.first().Address, LabAddress);
        QCOMPARE(Reports.first().Port, Port);
    } else {
        QTest::qWait(200);
        QCOMPARE(Reports.size(), 0);
    }
    // Written for every find response, before the filter.
    const qsizetype Responding = Log.Values().count("Responding to Find Server Request.");
    QCOMPARE(Responding, Kind == TSend::FindResponse ? 2 : 0);
}

void TestAlohaUDP::announcementCarriesStoredValues() {
    TWireReader Wire;
    TAlohaUDP Server(true);
    QVERIFY(Server.StartCommunication());
    const auto LastAnnouncement = [&] {
        Server.SendServerAnnounceMessage();
        const qsizetype Before = Wire.Count();
        if (!QTest::qWaitFor([&] { return Wire.Count() >= Before + 2; }))
            return QByteArray("nothing arrived");
        return Wire.Datagrams().last().data();
    };

    // Stored values, not the readers' fallbacks.
    QVERIFY(LastAnnouncement().contains("\r\nserver_port=0\r\n"));
    QCOMPARE(Server.ServerPort(), 15350);
    QVERIFY(LastAnnouncement().contains("\r\nserver_port=15350\r\n"));

    Server.SetServerIPAddress(QString());
    QVERIFY(!LastAnnouncement().contains("server_ip_address"));
    QCOMPARE(Server.ServerIPAddress(), LabAddress);
    QVERIFY(LastAnnouncement().startsWith("protocol=aloha\r\napplication=quillory\r\n"
                                          "message_type=server_announce\r\n"
                                          "server_ip_address=198.18.0.1\r\n"
                                          "server_port=15350\r\n"
                                          "server_name=Lab-Host\r\n"));
}

void TestAlohaUDP::usernameIsTrimmed() {
    TAlohaUDP Endpoint(false);
    Endpoint.SetUsername(QStringLiteral(" \t Ann Smith \r\n"));
    QCOMPARE(Endpoint.Username(), QStringLiteral("Ann Smith"));
    Endpoint.SetUsername(QStringLiteral("Ann Smith"));
    QCOMPARE(Endpoint.Username(), QStringLiteral("Ann Smith"));
    // A non-breaking space is not a blank of this kind and stays.
    Endpoint.SetUsername(QStringLiteral("\u00A0Ann"));
    QCOMPARE(Endpoint.Username(), QStringLiteral("\u00A0Ann"));
}

void TestAlohaUDP::firstWriteOfAcceptDataFalseStopsReception() {
    TAlohaUDP Workstation(false);
    int Heard = 0;
    Workstation.SetOnFindServerReceived(
        [&](TAlohaUDP*, const QString&, const QString&) { ++Heard; });
    QVERIFY(Workstation.StartCommunication());
    TWireReader Wire;

    Workstation.SetAcceptData(false);
    QCOMPARE(Workstation.AcceptData(), false);
    Workstation.SendFindServerMessage();
    QTRY_COMPARE(Wire.Count(), 2);
    QTest::qWait(200);
    QCOMPARE(Heard, 0);

    Workstation.SetAcceptData(true);
    QCOMPARE(Workstation.AcceptData(), true);
    Workstation.SendFindServerMessage();
    QTRY_COMPARE(Heard, 2);
}

void TestAlohaUDP::restartOnAnOpenPort() {
    TAlohaUDP Workstation(false);
    int Heard = 0;
    Workstation.SetOnFindServerReceived(
        [&](TAlohaUDP*, const QString&, const QString&) { ++Heard; });
    QVERIFY(Workstation.StartCommunication());
    QVERIFY(Workstation.StartCommunication());
    Workstation.SendFindServerMessage();
    QTRY_COMPARE(Heard, 2);
    Workstation.StopCommunication();
    Workstation.StopCommunication(); // closed already: nothing happens
    QVERIFY(Workstation.StartCommunication());
    Workstation.SendFindServerMessage();
    QTRY_COMPARE(Heard, 4);
}

void TestAlohaUDP::secondAddressOnAdapterZero() {
    const TLabChange SecondAddress({"addr", "add", "198.18.0.2/24", "dev", LabInterface()},
                                   {"addr", "del", "198.18.0.2/24", "dev", LabInterface()});
    QVERIFY(SecondAddress.Applied());

    // Construction writes the entries, so read the file from its start.
    TAlohaUDP Workstation(false);
    const QList<TEntry> Written = TLogTail(Workstation, TLogTail::FromStart).Entries();
    QCOMPARE(Written.size(), 4);
    QCOMPARE(Written[0].Level, QStringLiteral("Error"));
    QVERIFY2(Written[0].Value.startsWith("ERROR: No local IP Address: '"),
             qPrintable(Written[0].Value));
    // The two lists as one text each: their line breaks are gone in the log.
    QCOMPARE(Written[1], (TEntry{"Debug", "IP Address: 198.18.0.1198.18.0.2"}));
    QCOMPARE(Written[2], (TEntry{"Debug", "Subnet Mask: 255.255.255.0255.255.255.0"}));
    QCOMPARE(Written[3].Level, QString());
    QVERIFY(!Written[3].Value.isEmpty());

    // The local address is still known, so the second send goes to an empty host:
    // refused by the port and logged, not quietly delivered to this host.
    QCOMPARE(Workstation.LocalIPAddress(), LabAddress);
    TWireReader Wire;
    QVERIFY(Workstation.StartCommunication());
    const TLogTail Log(Workstation);
    Workstation.SendFindServerMessage();
    const QList<TEntry> Sent = Log.Entries();
    QCOMPARE(Sent.size(), 3);
    QCOMPARE(Sent[0], (TEntry{"Info", "Broadcasting on " + LimitedBroadcast}));
    QCOMPARE(Sent[1], (TEntry{"Info", "Broadcasting on "}));
    QCOMPARE(Sent[2].Level, QStringLiteral("Error"));
    const QString Prefix = QStringLiteral("An error occurred when sending the Broadcast message: ");
    QVERIFY2(Sent[2].Value.startsWith(Prefix) && Sent[2].Value.size() > Prefix.size(),
             qPrintable(Sent[2].Value));
    QTRY_COMPARE(Wire.Count(), 1);
    QTest::qWait(200);
    QCOMPARE(Wire.Count(), 1);
}

void TestAlohaUDP::portHeldWithoutAddressReuse() {
    QUdpSocket Holder;
    QVERIFY(Holder.bind(QHostAddress::AnyIPv4, AlohaPort, QUdpSocket::DontShareAddress));
    TAlohaUDP Workstation(false);
    const TLogTail Log(Workstation);
    QVERIFY(!Workstation.StartCommunication());
    const QList<TEntry> Entries = Log.Entries();
    QCOMPARE(Entries.size(), 1);
    QCOMPARE(Entries[0].Level, QStringLiteral("Error"));
    const QString Prefix = QStringLiteral("Error when starting communication: ");
    QVERIFY2(Entries[0].Value.startsWith(Prefix) && Entries[0].Value.size() > Prefix.size(),
             qPrintable(Entries[0].Value));

    // A failed start leaves the endpoint closed.
    QCOMPARE(RaisedMessage([&] { Workstation.SendFindServerMessage(); }),
             QStringLiteral("Error: Communication is NOT active!"));
    QCOMPARE(Log.Entries().size(), 1);
}

void TestAlohaUDP::noDefaultRouteStillSendsTheSubnetBroadcast() {
    const TLabChange NoRoute({"route", "del", "default"},
                             {"route", "add", "default", "dev", LabInterface()});
    QVERIFY(NoRoute.Applied());
    TWireReader Wire;
    TAlohaUDP Workstation(false);
    QVERIFY(Workstation.StartCommunication());
    const TLogTail Log(Workstation);

    QCOMPARE(RaisedMessage([&] { Workstation.SendFindServerMessage(); }), QString());
    const QList<TEntry> Entries = Log.Entries();
    QCOMPARE(Entries.size(), 3);
    QCOMPARE(Entries[0], (TEntry{"Info", "Broadcasting on " + LimitedBroadcast}));
    QCOMPARE(Entries[1].Level, QStringLiteral("Error"));
    QVERIFY2(Entries[1].Value.startsWith("An error occurred when sending the Broadcast message: "),
             qPrintable(Entries[1].Value));
    QCOMPARE(Entries[2], (TEntry{"Info", "Broadcasting on " + LabBroadcast}));
    QTRY_COMPARE(Wire.Count(), 1);
    QCOMPARE(Wire.Destinations(), QStringList{LabBroadcast});
}

void TestAlohaUDP::brokenLogFolderCostsNoEventAndNoSend() {
    // A folder where the day's file should be: every entry fails to be written.
    const QString Folder = FState->path() + "/Ternwick Software/Quillory 5/WorkstationLogs";
    QVERIFY(
        QDir().mkpath(Folder + u'/' + TActivityLog::LogFileName("Aloha", QDate::currentDate())));

    static QStringList Reported;
    Reported.clear();
    const QtMessageHandler Previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext& Context, const QString& Message) {
            if (QByteArrayView(Context.category) == "lanfinder.discovery")
                Reported << Message;
        });
    const auto Restore = qScopeGuard([Previous] { qInstallMessageHandler(Previous); });

    TWireReader Wire;
    TAlohaUDP Workstation(false);
    int Heard = 0;
    Workstation.SetOnFindServerReceived(
        [&](TAlohaUDP*, const QString&, const QString&) { ++Heard; });
    QVERIFY(Workstation.StartCommunication());
    Workstation.SendFindServerMessage();
    QTRY_COMPARE(Wire.Count(), 2);
    QTRY_COMPARE(Heard, 2);
    Workstation.SendFindServerMessage();
    QTRY_COMPARE(Heard, 4);
    QCOMPARE(Reported.size(), 1);

    // What the endpoint raises on purpose still reaches the caller.
    Workstation.StopCommunication();
    QCOMPARE(RaisedMessage([&] { Workstation.SendFindServerMessage(); }),
             QStringLiteral("Error: Communication is NOT active!"));
}

void TestAlohaUDP::stopFromInsideAHandler() {
    TAlohaUDP Workstation(false);
    int Heard = 0;
    Workstation.SetOnFindServerReceived([&](TAlohaUDP* Sender, const QString&, const QString&) {
        ++Heard;
        Sender->StopCommunication();
    });
    QVERIFY(Workstation.StartCommunication());
    TWireReader Wire;
    Workstation.SendFindServerMessage();
    QTRY_COMPARE(Wire.Count(), 2);
    QTRY_COMPARE(Heard, 1);
    QTest::qWait(200);
    QCOMPARE(Heard, 1); // the second datagram was still queued when the port closed
    QCOMPARE(RaisedMessage([&] { Workstation.SendFindServerMessage(); }),
             QStringLiteral("Error: Communication is NOT active!"));
}

LANFINDER_LAB_TEST_MAIN(TestAlohaUDP)
#include "TestAlohaUDP.moc"

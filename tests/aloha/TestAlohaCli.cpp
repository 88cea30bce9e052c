// aloha find, serve and listen end to end in the network lab: servers as separate
// hosts with their own computer names, the tool's output and exit status as a
// script would see them.
#include "../endpoint/LabGuard.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

QString AlohaBinary() {
    return qEnvironmentVariable("LANFINDER_BIN_DIR") + QStringLiteral("/aloha");
}

QString Netlab() {
    return qEnvironmentVariable("LANFINDER_SOURCE_DIR") + QStringLiteral("/scripts/netlab");
}

// One aloha process, as another host of the lab when it has a name.
class TAloha {
public:
    TAloha(const QStringList& Arguments, const QString& HostName = {}) {
        if (HostName.isEmpty())
            FProcess.start(AlohaBinary(), Arguments);
        else
            FProcess.start(Netlab(),
                           QStringList{"host", HostName, "--", AlohaBinary()} + Arguments);
    }
    ~TAloha() {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.kill();
            FProcess.waitForFinished(5000);
        }
    }
    bool WaitForError(const QString& Text, int Timeout = 10000) {
        return QTest::qWaitFor(
            [&] {
                FError += FProcess.readAllStandardError();
                return QString::fromUtf8(FError).contains(Text);
            },
            Timeout);
    }
    bool WaitForOutput(const QString& Text, int Timeout = 10000) {
        return QTest::qWaitFor(
            [&] {
                FOutput += FProcess.readAllStandardOutput();
                return QString::fromUtf8(FOutput).contains(Text);
            },
            Timeout);
    }
    void Terminate() { FProcess.terminate(); }
    // The exit status, or -1 when it did not end in time or did not exit normally.
    int Finish(int Timeout = 15000) {
        if (!FProcess.waitForFinished(Timeout) || FProcess.exitStatus() != QProcess::NormalExit)
            return -1;
        FOutput += FProcess.readAllStandardOutput();
        FError += FProcess.readAllStandardError();
        return FProcess.exitCode();
    }
    QString Output() const { return QString::fromUtf8(FOutput); }
    QString Error() const { return QString::fromUtf8(FError); }
    QList<QJsonObject> JsonLines() const {
        QList<QJsonObject> Result;
        for (const QByteArray& Line : FOutput.split('\n'))
            if (!Line.isEmpty())
                Result << QJsonDocument::fromJson(Line).object();
        return Result;
    }

private:
    QProcess FProcess;
    QByteArray FOutput;
    QByteArray FError;
};

} // namespace

class TestAlohaCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void badArguments_data();
    void badArguments();
    void findListsTheServersOfTwoHosts();
    void findWithoutAServerExitsOne();
    void listenReportsHelloAnnouncementAndGoodbye();

private:
    QTemporaryDir FState;
};

void TestAlohaCli::initTestCase() {
    QVERIFY2(QFile::exists(AlohaBinary()), qPrintable("no aloha at " + AlohaBinary()));
    QVERIFY2(QFile::exists(Netlab()), qPrintable("no netlab at " + Netlab()));
    QVERIFY(FState.isValid());
    qputenv("XDG_STATE_HOME", FState.path().toLocal8Bit()); // the children's logs
}

void TestAlohaCli::badArguments_data() {
    QTest::addColumn<QStringList>("Arguments");
    QTest::addColumn<QString>("Message");

    QTest::newRow("find, a wait that is not a number")
        << QStringList{"find", "--wait", "soon"}
        << "aloha find: --wait needs a number of seconds from 0 to 86400, not 'soon'";
    QTest::newRow("find, a negative wait")
        << QStringList{"find", "--wait", "-1"}
        << "aloha find: --wait needs a number of seconds from 0 to 86400, not '-1'";
    QTest::newRow("find, an unknown option")
        << QStringList{"find", "--loud"}
        << "aloha find: Unknown option 'loud'. See 'aloha find --help'.";
    QTest::newRow("find, a stray argument")
        << QStringList{"find", "SRV-ONE"}
        << "aloha find: unexpected argument 'SRV-ONE'. See 'aloha find --help'.";
    QTest::newRow("find, a wait without its value")
        << QStringList{"find", "--wait"}
        << "aloha find: Missing value after '--wait'. See 'aloha find --help'.";
    QTest::newRow("serve, port 0")
        << QStringList{"serve", "--port", "0"}
        << "aloha serve: --port needs a port number from 1 to 65535, not '0'";
    QTest::newRow("serve, a port beyond 65535")
        << QStringList{"serve", "--port", "65536"}
        << "aloha serve: --port needs a port number from 1 to 65535, not '65536'";
    QTest::newRow("serve, an empty name")
        << QStringList{"serve", "--name", ""} << "aloha serve: --name must not be empty";
    QTest::newRow("serve, announcing every 0 seconds")
        << QStringList{"serve", "--announce-every", "0"}
        << "aloha serve: --announce-every needs a number of seconds above 0 and up to 86400, "
           "not '0'";
    QTest::newRow("listen, a wait that is not a number")
        << QStringList{"listen", "--wait", "1s"}
        << "aloha listen: --wait needs a number of seconds from 0 to 86400, not '1s'";
}

void TestAlohaCli::badArguments() {
    QFETCH(QStringList, Arguments);
    QFETCH(QString, Message);
    TAloha Aloha(Arguments);
    QCOMPARE(Aloha.Finish(), 2);
    QCOMPARE(Aloha.Error(), Message + "\n");
    QCOMPARE(Aloha.Output(), QString());
}

void TestAlohaCli::findListsTheServersOfTwoHosts() {
    TAloha One({"serve"}, "SRV-ONE");
    TAloha Two({"serve"}, "SRV-TWO");
    QVERIFY2(One.WaitForError("serving as SRV-ONE"), qPrintable(One.Error()));
    QVERIFY2(Two.WaitForError("serving as SRV-TWO"), qPrintable(Two.Error()));

    TAloha Find({"find", "--wait", "3", "--json"});
    QCOMPARE(Find.Finish(), 0);
    QCOMPARE(Find.Error(), QStringLiteral("aloha find: 2 servers found in 3 s\n"));
    QSet<QString> Names;
    const QList<QJsonObject> Servers = Find.JsonLines();
    for (const QJsonObject& Server : Servers) {
        Names << Server["server_name"].toString();
        QCOMPARE(Server["server_ip_address"].toString(), QStringLiteral("198.18.0.1"));
        QCOMPARE(Server["server_port"].toInt(), 15350);
        QCOMPARE(Server["kind"].toString(), QStringLiteral("find_server_response"));
    }
    QCOMPARE(Servers.size(), 2); // each name once, though every answer came four times
    QCOMPARE(Names, (QSet<QString>{"SRV-ONE", "SRV-TWO"}));

    One.Terminate();
    Two.Terminate();
    QCOMPARE(One.Finish(), 0);
    QCOMPARE(Two.Finish(), 0);
    QVERIFY2(One.Error().contains("goodbye sent; 2 find requests answered"),
             qPrintable(One.Error()));
}

void TestAlohaCli::findWithoutAServerExitsOne() {
    TAloha Find({"find", "--wait", "2"});
    QCOMPARE(Find.Finish(), 1);
    QCOMPARE(Find.Output(), QString());
    QCOMPARE(Find.Error(), QStringLiteral("aloha find: no server found in 2 s\n"));
}

void TestAlohaCli::listenReportsHelloAnnouncementAndGoodbye() {
    TAloha Listen({"listen", "--json"});
    QVERIFY2(Listen.WaitForError("listening on UDP port 15350"), qPrintable(Listen.Error()));

    TAloha Server({"serve", "--name", "Front Office", "--port", "4242", "--announce-every", "0.3"},
                  "SRV-ONE");
    QVERIFY2(Server.WaitForError("serving as Front Office"), qPrintable(Server.Error()));
    QVERIFY(Listen.WaitForOutput("server_announce"));
    Server.Terminate();
    QCOMPARE(Server.Finish(), 0);
    QVERIFY(Listen.WaitForOutput("server_goodbye"));
    Listen.Terminate();
    QCOMPARE(Listen.Finish(), 0);

    QMap<QString, QJsonObject> ByKind;
    for (const QJsonObject& Message : Listen.JsonLines())
        ByKind.insert(Message["kind"].toString(), Message); // the last of each kind
    QCOMPARE(ByKind["server_hello"]["server_name"].toString(), QStringLiteral("Front Office"));
    QCOMPARE(ByKind["server_hello"]["server_port"].toInt(), 12600); // a hello has no port line
    QCOMPARE(ByKind["server_announce"]["server_port"].toInt(), 4242);
    QCOMPARE(ByKind["server_announce"]["server_ip_address"].toString(),
             QStringLiteral("198.18.0.1"));
    QCOMPARE(ByKind["server_goodbye"]["server_name"].toString(), QStringLiteral("Front Office"));
    QVERIFY(!ByKind["server_goodbye"].contains("server_port"));
    QVERIFY2(
        Listen.Error().contains(QRegularExpression("aloha listen: \\d+ messages in [0-9.]+ s\n$")),
        qPrintable(Listen.Error()));
}

LANFINDER_LAB_TEST_MAIN(TestAlohaCli)
#include "TestAlohaCli.moc"

// "aloha decode" over captured datagrams, broken ones among them, and its
// error texts; once through the built program to see streams and exit codes.
#include "AlohaCommands.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

namespace {

struct TResult {
    int Status;
    QString Out;
    QString Err;
};

TResult Decode(QStringList Arguments, const QByteArray& Input = {}) {
    QBuffer In;
    In.setData(Input);
    In.open(QIODevice::ReadOnly);
    QString Out, Err;
    QTextStream OutStream(&Out), ErrStream(&Err);
    TCommandStreams Streams{In, OutStream, ErrStream};
    Arguments.prepend("aloha decode");
    const int Status = RunDecode(Arguments, Streams);
    OutStream.flush();
    ErrStream.flush();
    return {Status, Out, Err};
}

QString Datagram(const QString& Name) {
    return QStringLiteral(LANFINDER_DATAGRAMS "/") + Name;
}

QByteArray Contents(const QString& Path) {
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

} // namespace

class TestDecodeCommand : public QObject {
    Q_OBJECT

private slots:
    void datagrams_data();
    void datagrams();
    void errors_data();
    void errors();
    void program_data();
    void program();
};

void TestDecodeCommand::datagrams_data() {
    QTest::addColumn<QString>("File");
    QTest::addColumn<QStringList>("Options");
    QTest::addColumn<QString>("Json");
    QTest::addColumn<int>("Status");
    const QStringList None;

    QTest::newRow("worked example find request")
        << "find_server-192.168.1.20.dgram" << None
        << R"({"kind":"find_server","computer_name":"","from_ip_address":"192.168.1.20"})" << 0;
    QTest::newRow("find request with a computer name")
        << "find_server-with-computer_name.dgram" << None
        << R"({"kind":"find_server","computer_name":"WS-LAB-07","from_ip_address":"10.20.30.7"})"
        << 0;
    QTest::newRow("find response with a code page 1252 name")
        << "find_server_response-cp1252-name.dgram" << None
        << QStringLiteral(
               u"{\"kind\":\"find_server_response\",\"server_name\":\"B\u00FCro-\u20ACSRV\","
               u"\"server_ip_address\":\"192.168.1.20\",\"server_port\":15350}")
        << 0;
    QTest::newRow("announce with port 0")
        << "server_announce-port0.dgram" << None
        << R"({"kind":"server_announce","server_name":"QUILLORY-SRV","server_ip_address":"192.168.1.20","server_port":0})"
        << 0;
    QTest::newRow("hello with LF line ends and no port")
        << "server_hello-lf-only.dgram" << None
        << R"({"kind":"server_hello","server_name":"QUILLORY-SRV","server_ip_address":"192.168.1.20","server_port":12600})"
        << 0;
    QTest::newRow("goodbye has no port")
        << "server_goodbye.dgram" << None
        << R"({"kind":"server_goodbye","server_name":"QUILLORY-SRV","server_ip_address":"192.168.1.20"})"
        << 0;
    QTest::newRow("cut inside the port: the digits that came")
        << "broken-truncated-in-port.dgram" << None
        << R"({"kind":"find_server_response","server_name":"QUILLORY-SRV","server_ip_address":"192.168.1.20","server_port":153})"
        << 0;
    QTest::newRow("cut inside the kind is dropped")
        << "broken-truncated-in-type.dgram" << None << R"({"kind":null})" << 1;
    QTest::newRow("what follows NUL padding is never read")
        << "broken-nul-padded.dgram" << None
        << R"({"kind":"server_announce","server_name":"QUILLORY-SRV","server_ip_address":"192.168.1.20","server_port":15350})"
        << 0;
    QTest::newRow("port with a trailing blank reads 12600")
        << "broken-port-trailing-blank.dgram" << None
        << R"({"kind":"find_server_response","server_name":"QUILLORY-SRV","server_ip_address":"192.168.1.20","server_port":12600})"
        << 0;
    QTest::newRow("control characters in a name are escaped")
        << "broken-controls-in-name.dgram" << None
        << QStringLiteral(u"{\"kind\":\"server_hello\",\"server_name\":"
                          u"\"\\u001b[2J\\\"q\\\"\\\\\\u007f\\u0081\u203A\\tx\","
                          u"\"server_ip_address\":\"192.168.1.20\",\"server_port\":12600}")
        << 0;
    QTest::newRow("protocol Aloha is dropped")
        << "broken-protocol-capital.dgram" << None << R"({"kind":null})" << 1;
    QTest::newRow("application Quillory is dropped")
        << "broken-application-capital.dgram" << None << R"({"kind":null})" << 1;
    QTest::newRow("application Quillory accepted by an endpoint of that name")
        << "broken-application-capital.dgram" << QStringList{"--application", "Quillory"}
        << R"({"kind":"find_server","computer_name":"","from_ip_address":"192.168.1.20"})" << 0;
    QTest::newRow("another application name drops quillory's")
        << "find_server-192.168.1.20.dgram" << QStringList{"--application=lab"}
        << R"({"kind":null})" << 1;
    QTest::newRow("empty datagram") << "broken-empty.dgram" << None << R"({"kind":null})" << 1;
    QTest::newRow("noise") << "broken-noise.dgram" << None << R"({"kind":null})" << 1;
}

void TestDecodeCommand::datagrams() {
    QFETCH(QString, File);
    QFETCH(QStringList, Options);
    QFETCH(QString, Json);
    QFETCH(int, Status);
    const QByteArray Bytes = Contents(Datagram(File));
    QVERIFY(Bytes.size() > 0 || File.contains("empty"));

    // The same answer from the file, from "-" and from standard input.
    const TResult Results[] = {Decode(Options + QStringList{Datagram(File)}),
                               Decode(Options + QStringList{"-"}, Bytes), Decode(Options, Bytes)};
    for (const TResult& Result : Results) {
        QCOMPARE(Result.Err, QString());
        QCOMPARE(Result.Out, Json + "\n");
        QCOMPARE(Result.Status, Status);
    }
    QJsonParseError Error;
    const QJsonDocument Document = QJsonDocument::fromJson(Json.toUtf8(), &Error);
    QVERIFY2(Document.isObject(), qPrintable(Error.errorString()));
}

void TestDecodeCommand::errors_data() {
    QTest::addColumn<QStringList>("Arguments");
    QTest::addColumn<QByteArray>("Input");
    QTest::addColumn<QString>("Message");

    QTest::newRow("missing file") << QStringList{"/nonexistent/datagram"} << QByteArray()
                                  << "aloha decode: cannot read '/nonexistent/datagram': No such "
                                     "file or directory\n";
    QTest::newRow("a folder") << QStringList{LANFINDER_DATAGRAMS} << QByteArray()
                              << "aloha decode: cannot read '" LANFINDER_DATAGRAMS
                                 "': it is a folder\n";
    QTest::newRow("two files") << QStringList{"a", "b"} << QByteArray()
                               << "aloha decode: give at most one FILE. See 'aloha decode "
                                  "--help'.\n";
    QTest::newRow("unknown option") << QStringList{"--port=1"} << QByteArray()
                                    << "aloha decode: Unknown option 'port'. See 'aloha decode "
                                       "--help'.\n";
    QTest::newRow("application without a name")
        << QStringList{"--application"} << QByteArray()
        << "aloha decode: Missing value after '--application'. See 'aloha decode --help'.\n";
    QTest::newRow("empty application name")
        << QStringList{"--application="} << QByteArray()
        << "aloha decode: the application name must not be empty\n";
    QTest::newRow("more than a datagram on standard input")
        << QStringList{} << QByteArray(65508, 'x')
        << "aloha decode: standard input is longer than a datagram can be (65507 bytes)\n";
    QTest::newRow("more than a datagram in a file")
        << QStringList{"/dev/zero"} << QByteArray()
        << "aloha decode: '/dev/zero' is longer than a datagram can be (65507 bytes)\n";
}

void TestDecodeCommand::errors() {
    QFETCH(QStringList, Arguments);
    QFETCH(QByteArray, Input);
    QFETCH(QString, Message);
    const TResult Result = Decode(Arguments, Input);
    QCOMPARE(Result.Err, Message);
    QCOMPARE(Result.Out, QString());
    QCOMPARE(Result.Status, 2);
}

void TestDecodeCommand::program_data() {
    QTest::addColumn<QStringList>("Arguments");
    QTest::addColumn<QString>("Input");
    QTest::addColumn<QString>("OutStart");
    QTest::addColumn<int>("ExitCode");

    QTest::newRow("largest datagram from standard input")
        << QStringList{"decode"}
        << "protocol=aloha\r\napplication=quillory\r\nmessage_type=server_hello\r\nserver_name=" +
               QString(65507 - 79, 'n') + "\r\n"
        << R"({"kind":"server_hello","server_name":"nnnn)" << 0;
    QTest::newRow("dropped") << QStringList{"decode", "-"} << "protocol=aloha\r\n"
                             << R"({"kind":null})" << 1;
    QTest::newRow("help") << QStringList{"decode", "--help"} << QString()
                          << "Usage: aloha decode [options] [FILE]\n"
                          << 0;
    QTest::newRow("bad option") << QStringList{"decode", "-q"} << QString() << QString() << 2;
}

void TestDecodeCommand::program() {
    QFETCH(QStringList, Arguments);
    QFETCH(QString, Input);
    QFETCH(QString, OutStart);
    QFETCH(int, ExitCode);
    QProcess Aloha;
    Aloha.start(ALOHA_BINARY, Arguments);
    QVERIFY(Aloha.waitForStarted());
    Aloha.write(Input.toLatin1());
    Aloha.closeWriteChannel();
    QVERIFY(Aloha.waitForFinished(10000));
    QCOMPARE(Aloha.exitStatus(), QProcess::NormalExit);
    QCOMPARE(Aloha.exitCode(), ExitCode);
    const QString Out = QString::fromUtf8(Aloha.readAllStandardOutput());
    const QString Err = QString::fromUtf8(Aloha.readAllStandardError());
    QVERIFY2(Out.startsWith(OutStart), qPrintable(Out.left(200)));
    if (ExitCode == 2) {
        QCOMPARE(Out, QString());
        QCOMPARE(Err.count(u'\n'), 1);
        QVERIFY(Err.endsWith(u'\n'));
    } else {
        QCOMPARE(Err, QString());
        if (!Arguments.contains("--help"))
            QCOMPARE(Out.count(u'\n'), 1);
    }
}

QTEST_GUILESS_MAIN(TestDecodeCommand)
#include "TestDecodeCommand.moc"

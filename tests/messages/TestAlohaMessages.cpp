// The "aloha" message text: what is built, how a received text is split and
// read, and which texts are accepted as which kind.
#include "AlohaMessages.h"
#include "AnsiCodePage.h"

#include <QTest>
#include <limits>

Q_DECLARE_METATYPE(TAlohaMessageKind)
Q_DECLARE_METATYPE(std::optional<TAlohaMessageKind>)

namespace {

// Every line followed by CR LF, as on the wire.
QString Wire(const QStringList& Lines) {
    QString Text;
    for (const QString& Line : Lines)
        Text += Line + "\r\n";
    return Text;
}

// A literal that holds NUL characters, all of it.
template <std::size_t N> QString WithNul(const char (&Literal)[N]) {
    return QString::fromLatin1(Literal, N - 1);
}

const QString App = QStringLiteral("quillory");

} // namespace

class TestAlohaMessages : public QObject {
    Q_OBJECT

private slots:
    void builtText_data();
    void builtText();
    void splitLines_data();
    void splitLines();
    void readField_data();
    void readField();
    void readPort_data();
    void readPort();
    void classify_data();
    void classify();
    void decodedFields_data();
    void decodedFields();
    void nonAsciiNamesCrossTheWire();
};

void TestAlohaMessages::builtText_data() {
    QTest::addColumn<QString>("Built");
    QTest::addColumn<QString>("Expected");
    QTest::addColumn<int>("WireBytes");

    QTest::newRow("find request of 192.168.1.20 is the 94-byte worked example")
        << BuildFindServerMessage(App, "192.168.1.20")
        << QStringLiteral("protocol=aloha\r\napplication=quillory\r\nmessage_type=find_server\r\n"
                          "from_ip_address=192.168.1.20\r\n")
        << 94;
    QTest::newRow("find request without a local address is the 64-byte header")
        << BuildFindServerMessage(App, "")
        << Wire({"protocol=aloha", "application=quillory", "message_type=find_server"}) << 64;
    QTest::newRow("find response: name, address, port")
        << BuildFindServerResponseMessage(App, "SRV-ONE", "198.18.0.1", 15350)
        << Wire({"protocol=aloha", "application=quillory", "message_type=find_server_response",
                 "server_name=SRV-ONE", "server_ip_address=198.18.0.1", "server_port=15350"})
        << -1;
    QTest::newRow("announce: address, port, name; port 0 is written as 0")
        << BuildServerAnnounceMessage(App, "198.18.0.1", 0, "SRV-ONE")
        << Wire({"protocol=aloha", "application=quillory", "message_type=server_announce",
                 "server_ip_address=198.18.0.1", "server_port=0", "server_name=SRV-ONE"})
        << -1;
    QTest::newRow("negative and extreme ports in plain decimal")
        << BuildServerAnnounceMessage(App, "", std::numeric_limits<qint32>::min(), "") +
               BuildServerAnnounceMessage(App, "", -1, "")
        << Wire({"protocol=aloha", "application=quillory", "message_type=server_announce",
                 "server_port=-2147483648", "protocol=aloha", "application=quillory",
                 "message_type=server_announce", "server_port=-1"})
        << -1;
    QTest::newRow("hello carries no port")
        << BuildServerHelloMessage(App, "SRV-ONE", "198.18.0.1")
        << Wire({"protocol=aloha", "application=quillory", "message_type=server_hello",
                 "server_name=SRV-ONE", "server_ip_address=198.18.0.1"})
        << -1;
    QTest::newRow("goodbye") << BuildServerGoodbyeMessage(App, "SRV-ONE", "198.18.0.1")
                             << Wire({"protocol=aloha", "application=quillory",
                                      "message_type=server_goodbye", "server_name=SRV-ONE",
                                      "server_ip_address=198.18.0.1"})
                             << -1;
    QTest::newRow("empty fields leave no line ending in =")
        << BuildFindServerResponseMessage("", "", "", 7)
        << Wire({"protocol=aloha", "message_type=find_server_response", "server_port=7"}) << -1;
    QTest::newRow("values are written unchanged: blanks, =, a line break")
        << BuildServerHelloMessage(App, " a=b\r\nx ", "198.18.0.1")
        << Wire({"protocol=aloha", "application=quillory", "message_type=server_hello",
                 "server_name= a=b", "x ", "server_ip_address=198.18.0.1"})
        << -1;
}

void TestAlohaMessages::builtText() {
    QFETCH(QString, Built);
    QFETCH(QString, Expected);
    QFETCH(int, WireBytes);
    QCOMPARE(Built, Expected);
    if (WireBytes >= 0)
        QCOMPARE(AnsiEncode(Built).size(), WireBytes);
}

void TestAlohaMessages::splitLines_data() {
    QTest::addColumn<QString>("Text");
    QTest::addColumn<QStringList>("Lines");

    QTest::newRow("empty text has no lines") << QString() << QStringList();
    QTest::newRow("CR LF") << "a=1\r\nb=2\r\n" << QStringList{"a=1", "b=2"};
    QTest::newRow("LF alone") << "a=1\nb=2\n" << QStringList{"a=1", "b=2"};
    QTest::newRow("CR alone") << "a=1\rb=2\r" << QStringList{"a=1", "b=2"};
    QTest::newRow("mixed breaks") << "a\r\nb\nc\rd" << QStringList{"a", "b", "c", "d"};
    QTest::newRow("no break after the last line") << "a\r\nb" << QStringList{"a", "b"};
    QTest::newRow("a lone break is one empty line") << "\r\n" << QStringList{""};
    QTest::newRow("LF then CR makes an empty line between them")
        << "a\n\rb" << QStringList{"a", "", "b"};
    QTest::newRow("CR CR LF is two breaks") << "a\r\r\nb" << QStringList{"a", "", "b"};
    QTest::newRow("blank lines stay") << "a\r\n\r\n\r\nb\r\n" << QStringList{"a", "", "", "b"};
    QTest::newRow("NUL ends the text") << WithNul("a\r\nb\0c\r\nd") << QStringList{"a", "b"};
    QTest::newRow("NUL first: nothing") << WithNul("\0a=1\r\n") << QStringList();
    QTest::newRow("NUL between CR and LF") << WithNul("a\r\0\nb") << QStringList{"a"};
}

void TestAlohaMessages::splitLines() {
    QFETCH(QString, Text);
    QFETCH(QStringList, Lines);
    QCOMPARE(SplitMessageLines(Text), Lines);
    // The endpoint joins the lines and splits them again for the kind's handler.
    QCOMPARE(SplitMessageLines(JoinMessageLines(Lines)), Lines);
}

void TestAlohaMessages::readField_data() {
    QTest::addColumn<QStringList>("Lines");
    QTest::addColumn<QString>("Value");

    QTest::newRow("exact name") << QStringList{"protocol=aloha", "server_name=SRV"} << "SRV";
    QTest::newRow("name in capitals") << QStringList{"SERVER_NAME=SRV"} << "SRV";
    QTest::newRow("name in mixed case") << QStringList{"Server_Name=SRV"} << "SRV";
    QTest::newRow("blanks around = make another name") << QStringList{"server_name = SRV"} << "";
    QTest::newRow("value keeps its blanks") << QStringList{"server_name= SRV "} << " SRV ";
    QTest::newRow("value keeps further =") << QStringList{"server_name=a=b"} << "a=b";
    QTest::newRow("first of two lines wins")
        << QStringList{"server_name=first", "server_name=second"} << "first";
    QTest::newRow("first wins even when empty")
        << QStringList{"server_name=", "server_name=second"} << "";
    QTest::newRow("a line without = has no name")
        << QStringList{"server_name", "server_name=SRV"} << "SRV";
    QTest::newRow("empty lines never match") << QStringList{"", "", "server_name=SRV"} << "SRV";
    QTest::newRow("longer name does not match") << QStringList{"server_names=SRV"} << "";
    QTest::newRow("shorter name does not match") << QStringList{"server_nam=SRV"} << "";
    QTest::newRow("missing field reads empty") << QStringList{"protocol=aloha"} << "";
    QTest::newRow("non-ASCII letter folds to no ASCII one")
        << QStringList{QStringLiteral(u"\u017Ferver_name=SRV")} << "";
}

void TestAlohaMessages::readField() {
    QFETCH(QStringList, Lines);
    QFETCH(QString, Value);
    QCOMPARE(ReadField(Lines, u"server_name"), Value);
}

void TestAlohaMessages::readPort_data() {
    QTest::addColumn<QStringList>("Lines");
    QTest::addColumn<qint32>("Port");
    const auto Port = [](const QString& Value) { return QStringList{"server_port=" + Value}; };

    QTest::newRow("15350") << Port("15350") << 15350;
    QTest::newRow("0 is a port, not a fallback") << Port("0") << 0;
    QTest::newRow("-1") << Port("-1") << -1;
    QTest::newRow("+7") << Port("+7") << 7;
    QTest::newRow("leading zeros") << Port("0015350") << 15350;
    QTest::newRow("leading blank") << Port(" 42") << 42;
    QTest::newRow("leading blanks before the sign") << Port("   -42") << -42;
    QTest::newRow("trailing blank") << Port("42 ") << 12600;
    QTest::newRow("tab is not a blank") << Port("\t42") << 12600;
    QTest::newRow("blank after the sign") << Port("- 42") << 12600;
    QTest::newRow("letters") << Port("abc") << 12600;
    QTest::newRow("digits then letters") << Port("42abc") << 12600;
    QTest::newRow("exponent") << Port("1e3") << 12600;
    QTest::newRow("empty value") << Port("") << 12600;
    QTest::newRow("only blanks") << Port("  ") << 12600;
    QTest::newRow("only a sign") << Port("-") << 12600;
    QTest::newRow("two signs") << Port("--5") << 12600;
    QTest::newRow("missing line") << QStringList{"server_name=SRV"} << 12600;
    QTest::newRow("name in capitals") << QStringList{"SERVER_PORT=15350"} << 15350;
    QTest::newRow("first port line wins") << QStringList{"server_port=1", "server_port=2"} << 1;
    QTest::newRow("an unreadable first line is not skipped")
        << QStringList{"server_port=x", "server_port=2"} << 12600;
    QTest::newRow("largest int32") << Port("2147483647") << std::numeric_limits<qint32>::max();
    QTest::newRow("smallest int32") << Port("-2147483648") << std::numeric_limits<qint32>::min();
    QTest::newRow("one above int32") << Port("2147483648") << 12600;
    QTest::newRow("one below int32") << Port("-2147483649") << 12600;
    QTest::newRow("far beyond 64 bits") << Port("99999999999999999999999") << 12600;
    QTest::newRow("$3BF6") << Port("$3BF6") << 15350;
    QTest::newRow("$3bf6") << Port("$3bf6") << 15350;
    QTest::newRow("0x3BF6") << Port("0x3BF6") << 15350;
    QTest::newRow("0X3bf6") << Port("0X3bf6") << 15350;
    QTest::newRow("x3BF6") << Port("x3BF6") << 15350;
    QTest::newRow("X3BF6") << Port("X3BF6") << 15350;
    QTest::newRow("signed hex") << Port(" -$10") << -16;
    QTest::newRow("hex with leading zeros") << Port("$000000000000FF") << 255;
    QTest::newRow("hex $7FFFFFFF") << Port("$7FFFFFFF") << std::numeric_limits<qint32>::max();
    QTest::newRow("hex $80000000 wraps") << Port("$80000000") << std::numeric_limits<qint32>::min();
    QTest::newRow("hex $FFFFFFFF wraps to -1") << Port("$FFFFFFFF") << -1;
    QTest::newRow("negated $FFFFFFFF is 1") << Port("-$FFFFFFFF") << 1;
    QTest::newRow("hex beyond 32 bits") << Port("$100000000") << 12600;
    QTest::newRow("prefix without digits") << Port("$") << 12600;
    QTest::newRow("0x without digits") << Port("0x") << 12600;
    QTest::newRow("blank after the prefix") << Port("$ 10") << 12600;
    QTest::newRow("not a hex digit") << Port("$3BG6") << 12600;
    QTest::newRow("hex digits without a prefix") << Port("3BF6") << 12600;
    QTest::newRow("sign after the prefix") << Port("0x-5") << 12600;
    QTest::newRow("prefix twice") << Port("0x0x5") << 12600;
    QTest::newRow("digits of another script") << Port(QStringLiteral(u"\u0664\u0662")) << 12600;
    QTest::newRow("full-width digits") << Port(QStringLiteral(u"\uFF14\uFF12")) << 12600;
}

void TestAlohaMessages::readPort() {
    QFETCH(QStringList, Lines);
    QFETCH(qint32, Port);
    QCOMPARE(ReadPortField(Lines), Port);
}

void TestAlohaMessages::classify_data() {
    using K = TAlohaMessageKind;
    QTest::addColumn<QString>("Text");
    QTest::addColumn<QString>("Application");
    QTest::addColumn<std::optional<K>>("Kind");
    const auto Msg = [](const QString& Type) {
        return Wire({"protocol=aloha", "application=quillory", "message_type=" + Type});
    };

    QTest::newRow("find_server") << Msg("find_server") << App << std::optional(K::FindServer);
    QTest::newRow("find_server_response")
        << Msg("find_server_response") << App << std::optional(K::FindServerResponse);
    QTest::newRow("server_announce")
        << Msg("server_announce") << App << std::optional(K::ServerAnnounce);
    QTest::newRow("server_hello") << Msg("server_hello") << App << std::optional(K::ServerHello);
    QTest::newRow("server_goodbye")
        << Msg("server_goodbye") << App << std::optional(K::ServerGoodbye);
    QTest::newRow("another endpoint's application name")
        << Wire({"protocol=aloha", "application=lanfinder-lab", "message_type=find_server"})
        << "lanfinder-lab" << std::optional(K::FindServer);
    QTest::newRow("header names in capitals")
        << Wire({"PROTOCOL=aloha", "Application=quillory", "MESSAGE_TYPE=server_hello"}) << App
        << std::optional(K::ServerHello);
    QTest::newRow("header lines in any order")
        << Wire({"message_type=server_hello", "application=quillory", "protocol=aloha"}) << App
        << std::optional(K::ServerHello);
    QTest::newRow("LF alone") << QString("protocol=aloha\napplication=quillory\n"
                                         "message_type=find_server")
                              << App << std::optional(K::FindServer);
    QTest::newRow("CR alone") << QString("protocol=aloha\rapplication=quillory\r"
                                         "message_type=find_server\r")
                              << App << std::optional(K::FindServer);
    QTest::newRow("protocol Aloha")
        << Msg("find_server").replace("=aloha", "=Aloha") << App << std::optional<K>();
    QTest::newRow("protocol with a trailing blank")
        << Msg("find_server").replace("=aloha", "=aloha ") << App << std::optional<K>();
    QTest::newRow("first protocol line decides")
        << "protocol=other\r\n" + Msg("find_server") << App << std::optional<K>();
    QTest::newRow("no protocol line")
        << Wire({"application=quillory", "message_type=find_server"}) << App << std::optional<K>();
    QTest::newRow("application Quillory")
        << Msg("find_server").replace("=quillory", "=Quillory") << App << std::optional<K>();
    QTest::newRow("no application line")
        << Wire({"protocol=aloha", "message_type=find_server"}) << App << std::optional<K>();
    QTest::newRow("unknown kind") << Msg("server_reboot") << App << std::optional<K>();
    QTest::newRow("kind in capitals") << Msg("FIND_SERVER") << App << std::optional<K>();
    QTest::newRow("kind with a trailing blank") << Msg("find_server ") << App << std::optional<K>();
    QTest::newRow("empty kind") << Msg("") << App << std::optional<K>();
    QTest::newRow("NUL before the kind")
        << WithNul("protocol=aloha\r\napplication=quillory\r\n\0message_type=find_server\r\n")
        << App << std::optional<K>();
    QTest::newRow("empty text") << QString() << App << std::optional<K>();
}

void TestAlohaMessages::classify() {
    QFETCH(QString, Text);
    QFETCH(QString, Application);
    QFETCH(std::optional<TAlohaMessageKind>, Kind);
    QCOMPARE(ClassifyMessage(SplitMessageLines(Text), Application), Kind);
    const std::optional<TAlohaMessage> Message = DecodeMessage(Text, Application);
    QCOMPARE(Message.has_value(), Kind.has_value());
    if (Message)
        QCOMPARE(Message->Kind, *Kind);
}

void TestAlohaMessages::decodedFields_data() {
    QTest::addColumn<QString>("Text");
    QTest::addColumn<TAlohaMessageKind>("Kind");
    // computer_name, from_ip_address, server_name, server_ip_address
    QTest::addColumn<QStringList>("Texts");
    QTest::addColumn<qint32>("Port");
    const QString Header = Wire({"protocol=aloha", "application=quillory"});

    QTest::newRow("find request built here reads no computer name")
        << BuildFindServerMessage(App, "192.168.1.20") << TAlohaMessageKind::FindServer
        << QStringList{"", "192.168.1.20", "", ""} << DefaultServerPort;
    QTest::newRow("find request of another sender with a computer name")
        << Header + Wire({"message_type=find_server", "computer_name=WS-7",
                          "from_ip_address=10.0.0.7", "server_name=ignored"})
        << TAlohaMessageKind::FindServer << QStringList{"WS-7", "10.0.0.7", "", ""}
        << DefaultServerPort;
    QTest::newRow("find response built here")
        << BuildFindServerResponseMessage(App, "SRV-ONE", "198.18.0.1", 15350)
        << TAlohaMessageKind::FindServerResponse << QStringList{"", "", "SRV-ONE", "198.18.0.1"}
        << 15350;
    QTest::newRow("announce with port 0 reads port 0")
        << BuildServerAnnounceMessage(App, "198.18.0.1", 0, "SRV-ONE")
        << TAlohaMessageKind::ServerAnnounce << QStringList{"", "", "SRV-ONE", "198.18.0.1"} << 0;
    QTest::newRow("hello built here reads port 12600")
        << BuildServerHelloMessage(App, "SRV-ONE", "198.18.0.1") << TAlohaMessageKind::ServerHello
        << QStringList{"", "", "SRV-ONE", "198.18.0.1"} << 12600;
    QTest::newRow("goodbye reads name and address")
        << BuildServerGoodbyeMessage(App, "SRV-ONE", "198.18.0.1")
        << TAlohaMessageKind::ServerGoodbye << QStringList{"", "", "SRV-ONE", "198.18.0.1"}
        << DefaultServerPort;
    QTest::newRow("known kind with every field missing is still delivered")
        << Header + Wire({"message_type=find_server_response"})
        << TAlohaMessageKind::FindServerResponse << QStringList{"", "", "", ""} << 12600;
    QTest::newRow("a line break in a name splits it into a further line")
        << BuildServerAnnounceMessage(App, "198.18.0.1", 15350, "SRV\r\nserver_port=1")
        << TAlohaMessageKind::ServerAnnounce << QStringList{"", "", "SRV", "198.18.0.1"} << 15350;
}

void TestAlohaMessages::decodedFields() {
    QFETCH(QString, Text);
    QFETCH(TAlohaMessageKind, Kind);
    QFETCH(QStringList, Texts);
    QFETCH(qint32, Port);
    const std::optional<TAlohaMessage> Message = DecodeMessage(Text, App);
    QVERIFY(Message);
    QCOMPARE(Message->Kind, Kind);
    QCOMPARE(Message->ComputerName, Texts[0]);
    QCOMPARE(Message->FromIPAddress, Texts[1]);
    QCOMPARE(Message->ServerName, Texts[2]);
    QCOMPARE(Message->ServerIPAddress, Texts[3]);
    QCOMPARE(Message->ServerPort, Port);
}

// Names are the one place a message carries characters beyond ASCII.
void TestAlohaMessages::nonAsciiNamesCrossTheWire() {
    const QString Sent =
        BuildServerHelloMessage(App, QStringLiteral(u"B\u00FCro-\u20AC-\u0100"), "198.18.0.1");
    const QByteArray Bytes = AnsiEncode(Sent);
    QVERIFY(Bytes.contains("server_name=B\xFC"
                           "ro-\x80-?\r\n"));
    const std::optional<TAlohaMessage> Received = DecodeMessage(AnsiDecode(Bytes), App);
    QVERIFY(Received);
    QCOMPARE(Received->ServerName, QStringLiteral(u"B\u00FCro-\u20AC-?"));
}

QTEST_APPLESS_MAIN(TestAlohaMessages)
#include "TestAlohaMessages.moc"

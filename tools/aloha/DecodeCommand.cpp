// aloha decode [FILE]: one raw datagram in, its reading as one line of JSON out.
#include "AlohaCommands.h"

#include "AlohaMessages.h"
#include "AnsiCodePage.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <optional>

namespace {

// The largest payload a UDP datagram over IPv4 can carry. Anything longer is
// not a datagram, and reading it whole (a device, an endless pipe) would never end.
constexpr qint64 MaxDatagramSize = 65507;

void AppendTextMember(QString& Json, QStringView Name, QStringView Value) {
    Json += u',';
    Json += JsonString(Name);
    Json += u':';
    Json += JsonString(Value);
}

// Reads up to one byte more than a datagram can hold, to tell "too long" apart.
std::optional<QByteArray> ReadDatagram(QIODevice& Device, const QString& What, QString& Error) {
    QByteArray Data(MaxDatagramSize + 1, Qt::Uninitialized);
    qint64 Size = 0;
    while (Size < Data.size()) {
        const qint64 Got = Device.read(Data.data() + Size, Data.size() - Size);
        if (Got < 0) {
            Error = QStringLiteral("cannot read %1: %2").arg(What, Device.errorString());
            return std::nullopt;
        }
        if (Got == 0)
            break;
        Size += Got;
    }
    if (Size > MaxDatagramSize) {
        Error = QStringLiteral("%1 is longer than a datagram can be (%2 bytes)")
                    .arg(What)
                    .arg(MaxDatagramSize);
        return std::nullopt;
    }
    Data.truncate(Size);
    return Data;
}

int Fail(TCommandStreams& Streams, const QString& Message) {
    Streams.Err << "aloha decode: " << Message << "\n";
    Streams.Err.flush();
    return 2;
}

} // namespace

QString AlohaMessageJson(const TAlohaMessage& Message) {
    QString Json = QStringLiteral("{\"kind\":");
    Json += JsonString(MessageKindText(Message.Kind));
    switch (Message.Kind) {
    case TAlohaMessageKind::FindServer:
        AppendTextMember(Json, u"computer_name", Message.ComputerName);
        AppendTextMember(Json, u"from_ip_address", Message.FromIPAddress);
        break;
    case TAlohaMessageKind::FindServerResponse:
    case TAlohaMessageKind::ServerAnnounce:
    case TAlohaMessageKind::ServerHello:
        AppendTextMember(Json, u"server_name", Message.ServerName);
        AppendTextMember(Json, u"server_ip_address", Message.ServerIPAddress);
        Json += QStringLiteral(",\"server_port\":%1").arg(Message.ServerPort);
        break;
    case TAlohaMessageKind::ServerGoodbye:
        AppendTextMember(Json, u"server_name", Message.ServerName);
        AppendTextMember(Json, u"server_ip_address", Message.ServerIPAddress);
        break;
    }
    Json += u'}';
    return Json;
}

int RunDecode(const QStringList& Arguments, TCommandStreams& Streams) {
    QCommandLineParser Parser;
    Parser.setApplicationDescription(
        "Decodes one raw \"aloha\" datagram, as the bytes arrived, and prints how a\n"
        "receiver reads it: one JSON object on one line. Exit status 0 when the\n"
        "message is accepted, 1 when it is dropped, 2 on an error.");
    const QCommandLineOption Help({"h", "help"}, "Show this help.");
    const QCommandLineOption Application(
        "application", "The receiving endpoint's application name (default \"quillory\").", "NAME",
        "quillory");
    Parser.addOption(Help);
    Parser.addOption(Application);
    Parser.addPositionalArgument("FILE", "The datagram's bytes; standard input when absent or -.",
                                 "[FILE]");

    if (!Parser.parse(Arguments))
        return Fail(Streams, Parser.errorText() + " See 'aloha decode --help'.");
    if (Parser.isSet(Help)) {
        // The parser names the running executable; name the command instead.
        QString Text = Parser.helpText();
        Text.replace(0, Text.indexOf(u'\n'),
                     "Usage: " + Arguments.value(0, "aloha decode") + " [options] [FILE]");
        Streams.Out << Text;
        Streams.Out.flush();
        return 0;
    }
    const QStringList Files = Parser.positionalArguments();
    if (Files.size() > 1)
        return Fail(Streams, "give at most one FILE. See 'aloha decode --help'.");
    const QString ApplicationName = Parser.value(Application);
    if (ApplicationName.isEmpty())
        return Fail(Streams, "the application name must not be empty");

    QString Error;
    std::optional<QByteArray> Datagram;
    const QString Path = Files.value(0, "-");
    if (Path == "-") {
        Datagram = ReadDatagram(Streams.In, "standard input", Error);
    } else {
        const QString What = "'" + Path + "'";
        if (QFileInfo(Path).isDir())
            return Fail(Streams, QStringLiteral("cannot read %1: it is a folder").arg(What));
        QFile File(Path);
        if (!File.open(QIODevice::ReadOnly))
            return Fail(Streams,
                        QStringLiteral("cannot read %1: %2").arg(What, File.errorString()));
        Datagram = ReadDatagram(File, What, Error);
    }
    if (!Datagram)
        return Fail(Streams, Error);

    const std::optional<TAlohaMessage> Message =
        DecodeMessage(AnsiDecode(*Datagram), ApplicationName);
    Streams.Out << (Message ? AlohaMessageJson(*Message) : QStringLiteral("{\"kind\":null}"))
                << "\n";
    Streams.Out.flush();
    return Message ? 0 : 1;
}

QString JsonString(QStringView Text) {
    QString Json = QStringLiteral("\"");
    for (const QChar c : Text) {
        const char16_t u = c.unicode();
        switch (u) {
        case u'"':
            Json += u"\\\"";
            break;
        case u'\\':
            Json += u"\\\\";
            break;
        case u'\n':
            Json += u"\\n";
            break;
        case u'\r':
            Json += u"\\r";
            break;
        case u'\t':
            Json += u"\\t";
            break;
        default:
            // Control characters (C1 ones included, which some terminals act on)
            // and lone surrogates never reach the output raw.
            if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || c.isSurrogate() || u == 0x2028 ||
                u == 0x2029)
                Json += QStringLiteral("\\u%1").arg(unsigned(u), 4, 16, QLatin1Char('0'));
            else
                Json += c;
        }
    }
    Json += u'"';
    return Json;
}

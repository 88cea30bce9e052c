#include "AlohaMessages.h"

#include <QVarLengthArray>
#include <initializer_list>
#include <utility>

namespace {

constexpr QStringView LineEnd = u"\r\n";

using TNamedValue = std::pair<QStringView, QStringView>;

// A field with an empty value is left out: no line ever ends right after "=".
QString BuildMessage(std::initializer_list<TNamedValue> Fields) {
    qsizetype Size = 0;
    for (const auto& [Name, Value] : Fields)
        if (!Value.isEmpty())
            Size += Name.size() + 1 + Value.size() + LineEnd.size();
    QString Text;
    Text.reserve(Size);
    for (const auto& [Name, Value] : Fields) {
        if (Value.isEmpty())
            continue;
        Text += Name;
        Text += u'=';
        Text += Value;
        Text += LineEnd;
    }
    return Text;
}

// Calls Emit(Line, Equals) for every line of Text, up to its first NUL, with
// the offset of the line's first "=" or -1. One pass, no copies: a received
// datagram is split on every arrival.
template <typename TEmit> void ForEachLine(QStringView Text, TEmit&& Emit) {
    const QChar* Data = Text.data();
    qsizetype End = Text.size();
    qsizetype Start = 0;
    qsizetype Equals = -1;
    for (qsizetype i = 0; i < End; ++i) {
        const char16_t c = Data[i].unicode();
        if (c > u'\r') { // above every character that ends a line or the text
            if (c == u'=' && Equals < 0)
                Equals = i - Start;
            continue;
        }
        if (c == u'\0') {
            End = i;
            break;
        }
        if (c == u'\r' || c == u'\n') {
            Emit(Text.sliced(Start, i - Start), Equals);
            if (c == u'\r' && i + 1 < End && Data[i + 1] == u'\n')
                ++i;
            Start = i + 1;
            Equals = -1;
        }
    }
    if (Start < End)
        Emit(Text.sliced(Start, End - Start), Equals);
}

// Field names are ASCII; a character beyond ASCII in a line's name only ever
// matches itself, so the result does not depend on the host's locale.
bool SameFieldName(QStringView LineName, QStringView Wanted) {
    if (LineName.size() != Wanted.size())
        return false;
    for (qsizetype i = 0; i < LineName.size(); ++i) {
        char16_t a = LineName[i].unicode();
        char16_t b = Wanted[i].unicode();
        if (a == b)
            continue;
        if (a >= u'A' && a <= u'Z')
            a += u'a' - u'A';
        if (b >= u'A' && b <= u'Z')
            b += u'a' - u'A';
        if (a != b)
            return false;
    }
    return true;
}

// A line cut at its first "=" once, so that reading several fields does not
// search every line again.
struct TLine {
    QStringView Name;
    QStringView Value;
    bool Named = false;
};

using TLines = QVarLengthArray<TLine, 16>;

TLine CutLine(QStringView Line, qsizetype Equals) {
    if (Equals < 0)
        return {};
    return {Line.first(Equals), Line.sliced(Equals + 1), true};
}

TLine CutLine(QStringView Line) {
    return CutLine(Line, Line.indexOf(QChar(u'=')));
}

TLines CutLines(QStringView Text) {
    TLines Lines;
    ForEachLine(Text, [&Lines](QStringView Line, qsizetype Equals) {
        Lines.append(CutLine(Line, Equals));
    });
    return Lines;
}

TLines CutLines(const QStringList& Lines) {
    TLines Result;
    Result.reserve(Lines.size());
    for (const QString& Line : Lines)
        Result.append(CutLine(Line));
    return Result;
}

QStringView FindField(const TLines& Lines, QStringView Name) {
    for (const TLine& Line : Lines)
        if (Line.Named && SameFieldName(Line.Name, Name))
            return Line.Value;
    return {};
}

qint32 FindPortField(const TLines& Lines) {
    return ParseInteger(FindField(Lines, u"server_port")).value_or(DefaultServerPort);
}

constexpr std::pair<QStringView, TAlohaMessageKind> KindsInOrder[] = {
    {u"server_announce", TAlohaMessageKind::ServerAnnounce},
    {u"server_hello", TAlohaMessageKind::ServerHello},
    {u"server_goodbye", TAlohaMessageKind::ServerGoodbye},
    {u"find_server_response", TAlohaMessageKind::FindServerResponse},
    {u"find_server", TAlohaMessageKind::FindServer},
};

std::optional<TAlohaMessageKind> Classify(const TLines& Lines, QStringView Application) {
    // Values are compared exactly: "Aloha" or "aloha " is another protocol.
    if (FindField(Lines, u"protocol") != u"aloha")
        return std::nullopt;
    const QStringView AppValue = FindField(Lines, u"application");
    const QStringView TypeValue = FindField(Lines, u"message_type");
    if (AppValue != Application)
        return std::nullopt;
    for (const auto& [Text, Kind] : KindsInOrder)
        if (TypeValue == Text)
            return Kind;
    return std::nullopt;
}

} // namespace

QString BuildFindServerMessage(const QString& Application, const QString& LocalIPAddress) {
    return BuildMessage({{u"protocol", u"aloha"},
                         {u"application", Application},
                         {u"message_type", u"find_server"},
                         {u"from_ip_address", LocalIPAddress}});
}

QString BuildFindServerResponseMessage(const QString& Application, const QString& ComputerName,
                                       const QString& LocalIPAddress, qint32 ServerPort) {
    const QString Port = QString::number(ServerPort);
    return BuildMessage({{u"protocol", u"aloha"},
                         {u"application", Application},
                         {u"message_type", u"find_server_response"},
                         {u"server_name", ComputerName},
                         {u"server_ip_address", LocalIPAddress},
                         {u"server_port", Port}});
}

QString BuildServerAnnounceMessage(const QString& Application, const QString& ServerIPAddress,
                                   qint32 ServerPort, const QString& ServerName) {
    const QString Port = QString::number(ServerPort);
    return BuildMessage({{u"protocol", u"aloha"},
                         {u"application", Application},
                         {u"message_type", u"server_announce"},
                         {u"server_ip_address", ServerIPAddress},
                         {u"server_port", Port},
                         {u"server_name", ServerName}});
}

QString BuildServerHelloMessage(const QString& Application, const QString& ServerName,
                                const QString& LocalIPAddress) {
    return BuildMessage({{u"protocol", u"aloha"},
                         {u"application", Application},
                         {u"message_type", u"server_hello"},
                         {u"server_name", ServerName},
                         {u"server_ip_address", LocalIPAddress}});
}

QString BuildServerGoodbyeMessage(const QString& Application, const QString& ServerName,
                                  const QString& LocalIPAddress) {
    return BuildMessage({{u"protocol", u"aloha"},
                         {u"application", Application},
                         {u"message_type", u"server_goodbye"},
                         {u"server_name", ServerName},
                         {u"server_ip_address", LocalIPAddress}});
}

QStringList SplitMessageLines(QStringView Text) {
    QStringList Lines;
    ForEachLine(Text, [&Lines](QStringView Line, qsizetype) { Lines.append(Line.toString()); });
    return Lines;
}

QString JoinMessageLines(const QStringList& Lines) {
    qsizetype Size = 0;
    for (const QString& Line : Lines)
        Size += Line.size() + LineEnd.size();
    QString Text;
    Text.reserve(Size);
    for (const QString& Line : Lines) {
        Text += Line;
        Text += LineEnd;
    }
    return Text;
}

QString ReadField(const QStringList& Lines, QStringView Name) {
    for (const QString& Line : Lines) {
        const TLine Cut = CutLine(Line);
        if (Cut.Named && SameFieldName(Cut.Name, Name))
            return Cut.Value.toString();
    }
    return {};
}

std::optional<qint32> ParseInteger(QStringView Text) {
    qsizetype i = 0;
    const qsizetype n = Text.size();
    while (i < n && Text[i] == u' ')
        ++i;
    bool Negative = false;
    if (i < n && (Text[i] == u'-' || Text[i] == u'+')) {
        Negative = Text[i] == u'-';
        ++i;
    }
    bool Hex = false;
    if (i < n && (Text[i] == u'$' || Text[i] == u'x' || Text[i] == u'X')) {
        Hex = true;
        ++i;
    } else if (i + 1 < n && Text[i] == u'0' && (Text[i + 1] == u'x' || Text[i + 1] == u'X')) {
        Hex = true;
        i += 2;
    }
    if (i == n)
        return std::nullopt;

    // Hexadecimal spells the 32 bits themselves, so it may reach $FFFFFFFF;
    // decimal must stay inside the signed range.
    const quint64 Limit = Hex ? 0xFFFFFFFFu : (Negative ? 0x80000000u : 0x7FFFFFFFu);
    const unsigned Base = Hex ? 16 : 10;
    quint64 Value = 0;
    for (; i < n; ++i) {
        const char16_t c = Text[i].unicode();
        unsigned Digit;
        if (c >= u'0' && c <= u'9')
            Digit = c - u'0';
        else if (Hex && c >= u'a' && c <= u'f')
            Digit = c - u'a' + 10;
        else if (Hex && c >= u'A' && c <= u'F')
            Digit = c - u'A' + 10;
        else
            return std::nullopt;
        Value = Value * Base + Digit;
        if (Value > Limit)
            return std::nullopt;
    }
    quint32 Bits = static_cast<quint32>(Value);
    if (Negative)
        Bits = 0u - Bits;
    return static_cast<qint32>(Bits); // two's complement: $FFFFFFFF is -1
}

qint32 ReadPortField(const QStringList& Lines) {
    return FindPortField(CutLines(Lines));
}

std::optional<TAlohaMessageKind> ClassifyMessage(const QStringList& Lines,
                                                 const QString& Application) {
    return Classify(CutLines(Lines), Application);
}

std::optional<TAlohaMessage> DecodeMessage(QStringView Text, const QString& Application) {
    const TLines Lines = CutLines(Text);
    const std::optional<TAlohaMessageKind> Kind = Classify(Lines, Application);
    if (!Kind)
        return std::nullopt;
    TAlohaMessage Message{*Kind, {}, {}, {}, {}, DefaultServerPort};
    switch (*Kind) {
    case TAlohaMessageKind::FindServer:
        Message.ComputerName = FindField(Lines, u"computer_name").toString();
        Message.FromIPAddress = FindField(Lines, u"from_ip_address").toString();
        break;
    case TAlohaMessageKind::FindServerResponse:
    case TAlohaMessageKind::ServerAnnounce:
    case TAlohaMessageKind::ServerHello:
        Message.ServerName = FindField(Lines, u"server_name").toString();
        Message.ServerIPAddress = FindField(Lines, u"server_ip_address").toString();
        Message.ServerPort = FindPortField(Lines);
        break;
    case TAlohaMessageKind::ServerGoodbye:
        Message.ServerName = FindField(Lines, u"server_name").toString();
        Message.ServerIPAddress = FindField(Lines, u"server_ip_address").toString();
        break;
    }
    return Message;
}

QString MessageKindText(TAlohaMessageKind Kind) {
    for (const auto& [Text, Each] : KindsInOrder)
        if (Each == Kind)
            return Text.toString();
    return {};
}

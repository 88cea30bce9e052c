// A received datagram, from raw bytes to the fields an endpoint reads. Besides
// the sanitizers, checks that the fast reading and the line-list reading agree
// and that what is read can be sent again unchanged.
#include "AlohaMessages.h"
#include "AnsiCodePage.h"

#include <cstddef>
#include <cstdint>

#define FUZZ_CHECK(Condition)                                                                      \
    do {                                                                                           \
        if (!(Condition))                                                                          \
            __builtin_trap();                                                                      \
    } while (false)

namespace {

const QString App = QStringLiteral("quillory");

void CheckResent(const TAlohaMessage& Message) {
    QString Text;
    switch (Message.Kind) {
    case TAlohaMessageKind::FindServer:
        Text = BuildFindServerMessage(App, Message.FromIPAddress);
        break;
    case TAlohaMessageKind::FindServerResponse:
        Text = BuildFindServerResponseMessage(App, Message.ServerName, Message.ServerIPAddress,
                                              Message.ServerPort);
        break;
    case TAlohaMessageKind::ServerAnnounce:
        Text = BuildServerAnnounceMessage(App, Message.ServerIPAddress, Message.ServerPort,
                                          Message.ServerName);
        break;
    case TAlohaMessageKind::ServerHello:
        Text = BuildServerHelloMessage(App, Message.ServerName, Message.ServerIPAddress);
        break;
    case TAlohaMessageKind::ServerGoodbye:
        Text = BuildServerGoodbyeMessage(App, Message.ServerName, Message.ServerIPAddress);
        break;
    }
    const std::optional<TAlohaMessage> Again = DecodeMessage(AnsiDecode(AnsiEncode(Text)), App);
    FUZZ_CHECK(Again && Again->Kind == Message.Kind);
    FUZZ_CHECK(Again->FromIPAddress == Message.FromIPAddress);
    FUZZ_CHECK(Again->ServerName == Message.ServerName);
    FUZZ_CHECK(Again->ServerIPAddress == Message.ServerIPAddress);
    // A hello is sent without a port, a goodbye's is never read.
    if (Message.Kind == TAlohaMessageKind::FindServerResponse ||
        Message.Kind == TAlohaMessageKind::ServerAnnounce)
        FUZZ_CHECK(Again->ServerPort == Message.ServerPort);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const QByteArrayView Bytes(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size));
    const QString Text = AnsiDecode(Bytes);
    FUZZ_CHECK(Text.size() == Bytes.size());

    const QStringList Lines = SplitMessageLines(Text);
    for (const QString& Line : Lines)
        FUZZ_CHECK(!Line.contains(u'\r') && !Line.contains(u'\n') && !Line.contains(QChar(0)));
    FUZZ_CHECK(SplitMessageLines(JoinMessageLines(Lines)) == Lines);

    const std::optional<TAlohaMessageKind> Kind = ClassifyMessage(Lines, App);
    const std::optional<TAlohaMessage> Message = DecodeMessage(Text, App);
    FUZZ_CHECK(Kind.has_value() == Message.has_value());

    const qint32 Port = ReadPortField(Lines);
    if (const std::optional<qint32> Parsed = ParseInteger(ReadField(Lines, u"server_port")))
        FUZZ_CHECK(*Parsed == Port && ParseInteger(QString::number(Port)) == Port);
    else
        FUZZ_CHECK(Port == DefaultServerPort);
    if (!Message)
        return 0;

    FUZZ_CHECK(Message->Kind == *Kind);
    if (*Kind == TAlohaMessageKind::FindServer) {
        FUZZ_CHECK(Message->ComputerName == ReadField(Lines, u"computer_name"));
        FUZZ_CHECK(Message->FromIPAddress == ReadField(Lines, u"from_ip_address"));
        FUZZ_CHECK(Message->ServerName.isEmpty() && Message->ServerIPAddress.isEmpty());
    } else {
        FUZZ_CHECK(Message->ServerName == ReadField(Lines, u"server_name"));
        FUZZ_CHECK(Message->ServerIPAddress == ReadField(Lines, u"server_ip_address"));
        FUZZ_CHECK(Message->ComputerName.isEmpty() && Message->FromIPAddress.isEmpty());
        if (*Kind != TAlohaMessageKind::ServerGoodbye)
            FUZZ_CHECK(Message->ServerPort == Port);
    }
    CheckResent(*Message);
    return 0;
}

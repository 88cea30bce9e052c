// aloha listen: every accepted message of all five kinds, as it arrives.
#include "AlohaCommands.h"

#include "AlohaMessages.h"
#include "AlohaUDP.h"
#include "EndpointCommand.h"
#include "Errors.h"
#include "MyActivityLog.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <exception>
#include <memory>

using namespace AlohaCommand;

namespace {

QString PlainLine(const TAlohaMessage& Message) {
    QStringList Fields{MessageKindText(Message.Kind)};
    switch (Message.Kind) {
    case TAlohaMessageKind::FindServer:
        Fields << PlainField(Message.ComputerName) << PlainField(Message.FromIPAddress);
        break;
    case TAlohaMessageKind::ServerGoodbye:
        Fields << PlainField(Message.ServerName) << PlainField(Message.ServerIPAddress);
        break;
    default:
        Fields << PlainField(Message.ServerName) << PlainField(Message.ServerIPAddress)
               << QString::number(Message.ServerPort);
    }
    return Fields.join(u'\t');
}

} // namespace

int RunListen(const QStringList& Arguments, TCommandStreams& Streams) {
    const QString Command = Arguments.value(0, QStringLiteral("aloha listen"));
    QuietDiagnostics();
    QCommandLineParser Parser;
    Parser.setApplicationDescription(
        "Listens on UDP port 15350 and reports every accepted \"aloha\" message, of all\n"
        "five kinds, as it arrives: the kind and its fields separated by tabs. Sends\n"
        "nothing. A summary goes to standard error. Exit status 0 when a message was\n"
        "heard, 1 when none, 2 on an error.");
    const QCommandLineOption Wait("wait", "How long to listen (default: until SIGINT or SIGTERM).",
                                  "SECONDS");
    const QCommandLineOption Json("json", "One JSON object per message, \"kind\" first.");
    Parser.addOption(Wait);
    Parser.addOption(Json);
    if (const std::optional<int> Status =
            ParseArguments(Parser, Arguments, "[--wait SECONDS] [--json]", Streams))
        return *Status;
    std::optional<double> Seconds;
    if (Parser.isSet(Wait)) {
        Seconds = ParseSeconds(Parser.value(Wait), true);
        if (!Seconds)
            return Fail(Streams, Command,
                        "--wait needs a number of seconds from 0 to 86400, not '" +
                            Parser.value(Wait) + "'");
    }
    const bool AsJson = Parser.isSet(Json);

    int Heard = 0;
    const auto Report = [&](const TAlohaMessage& Message) {
        ++Heard;
        Streams.Out << (AsJson ? AlohaMessageJson(Message) : PlainLine(Message)) << '\n';
        Streams.Out.flush();
    };
    const auto ServerMessage = [](TAlohaMessageKind Kind, const QString& Name,
                                  const QString& Address, qint32 Port) {
        TAlohaMessage Message{Kind, {}, {}, Name, Address, Port};
        return Message;
    };

    std::unique_ptr<TAlohaUDP> Endpoint;
    try {
        Endpoint = std::make_unique<TAlohaUDP>(false);
        Endpoint->SetActivityLogEnabled(true);
        Endpoint->SetOnFindServerReceived(
            [&](TAlohaUDP*, const QString& Computer, const QString& Address) {
                Report(TAlohaMessage{TAlohaMessageKind::FindServer, Computer, Address, {}, {}});
            });
        Endpoint->SetOnFindServerResponseReceived(
            [&](TAlohaUDP*, const QString& Name, const QString& Address, qint32 Port) {
                Report(ServerMessage(TAlohaMessageKind::FindServerResponse, Name, Address, Port));
            });
        Endpoint->SetOnServerAnnounce(
            [&](TAlohaUDP*, const QString& Name, const QString& Address, qint32 Port) {
                Report(ServerMessage(TAlohaMessageKind::ServerAnnounce, Name, Address, Port));
            });
        Endpoint->SetOnServerHelloReceived(
            [&](TAlohaUDP*, const QString& Name, const QString& Address, qint32 Port) {
                Report(ServerMessage(TAlohaMessageKind::ServerHello, Name, Address, Port));
            });
        Endpoint->SetOnServerGoodbyeReceived(
            [&](TAlohaUDP*, const QString& Name, const QString& Address) {
                Report(ServerMessage(TAlohaMessageKind::ServerGoodbye, Name, Address,
                                     DefaultServerPort));
            });
        if (!Endpoint->StartCommunication())
            return Fail(Streams, Command,
                        "cannot open UDP port 15350; the reason is in the activity log in " +
                            Endpoint->AlohaLog()->LogFolder());
    } catch (const EError& E) {
        return Fail(Streams, Command, E.Message());
    } catch (const std::exception& E) {
        return Fail(Streams, Command, QString::fromLocal8Bit(E.what()));
    }

    QEventLoop Loop;
    if (Seconds)
        QTimer::singleShot(Milliseconds(*Seconds), &Loop, &QEventLoop::quit);
    const TStopSignals Stop([&Loop] { Loop.quit(); });
    Streams.Err << Command << ": listening on UDP port 15350"
                << (Seconds ? QStringLiteral(" for %1 s").arg(*Seconds)
                            : QStringLiteral(" until SIGINT or SIGTERM"))
                << "\n";
    Streams.Err.flush();
    QElapsedTimer Clock;
    Clock.start();
    Loop.exec();
    Endpoint->StopCommunication();

    Streams.Err << Command << ": " << Heard << (Heard == 1 ? " message" : " messages") << " in "
                << QString::number(double(Clock.elapsed()) / 1000, 'f', 1) << " s\n";
    Streams.Err.flush();
    return Heard > 0 ? 0 : 1;
}

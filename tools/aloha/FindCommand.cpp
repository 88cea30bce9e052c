// aloha find: one find request, then every distinct server that answers or
// announces itself within the wait, as the window lists them.
#include "AlohaCommands.h"

#include "AlohaUDP.h"
#include "EndpointCommand.h"
#include "Errors.h"
#include "MyActivityLog.h"

#include <QEventLoop>
#include <QSet>
#include <QTimer>
#include <exception>
#include <memory>

using namespace AlohaCommand;

int RunFind(const QStringList& Arguments, TCommandStreams& Streams) {
    const QString Command = Arguments.value(0, QStringLiteral("aloha find"));
    QuietDiagnostics();
    QCommandLineParser Parser;
    Parser.setApplicationDescription(
        "Broadcasts one \"aloha\" find request on UDP port 15350 and lists every server\n"
        "that answers or announces itself, each name once, the moment it is heard:\n"
        "NAME, ADDRESS and PORT separated by tabs. A summary goes to standard error.\n"
        "Exit status 0 when a server was found, 1 when none, 2 on an error.");
    const QCommandLineOption Wait("wait", "How long to listen (default 30).", "SECONDS", "30");
    const QCommandLineOption Json(
        "json", "One JSON object per server: server_name, server_ip_address, server_port, kind.");
    Parser.addOption(Wait);
    Parser.addOption(Json);
    if (const std::optional<int> Status =
            ParseArguments(Parser, Arguments, "[--wait SECONDS] [--json]", Streams))
        return *Status;
    const std::optional<double> Seconds = ParseSeconds(Parser.value(Wait), true);
    if (!Seconds)
        return Fail(Streams, Command,
                    "--wait needs a number of seconds from 0 to 86400, not '" + Parser.value(Wait) +
                        "'");
    const bool AsJson = Parser.isSet(Json);

    QSet<QString> Seen;
    const auto Report = [&](const QString& Name, const QString& Address, qint32 Port,
                            const char* Kind) {
        // First report wins, by exact name, as in the window's list.
        if (Seen.contains(Name))
            return;
        Seen.insert(Name);
        if (AsJson)
            Streams.Out << "{\"server_name\":" << JsonString(Name)
                        << ",\"server_ip_address\":" << JsonString(Address)
                        << ",\"server_port\":" << Port << ",\"kind\":\"" << Kind << "\"}\n";
        else
            Streams.Out << PlainField(Name) << '\t' << PlainField(Address) << '\t' << Port << '\n';
        Streams.Out.flush();
    };

    std::unique_ptr<TAlohaUDP> Endpoint;
    try {
        Endpoint = std::make_unique<TAlohaUDP>(false);
        Endpoint->SetActivityLogEnabled(true);
        Endpoint->SetOnFindServerResponseReceived(
            [&](TAlohaUDP*, const QString& Name, const QString& Address, qint32 Port) {
                Report(Name, Address, Port, "find_server_response");
            });
        Endpoint->SetOnServerAnnounce(
            [&](TAlohaUDP*, const QString& Name, const QString& Address, qint32 Port) {
                Report(Name, Address, Port, "server_announce");
            });
        if (!Endpoint->StartCommunication())
            return Fail(Streams, Command,
                        "cannot open UDP port 15350; the reason is in the activity log in " +
                            Endpoint->AlohaLog()->LogFolder());
        Endpoint->SendFindServerMessage();
    } catch (const EError& E) {
        return Fail(Streams, Command, E.Message());
    } catch (const std::exception& E) {
        return Fail(Streams, Command, QString::fromLocal8Bit(E.what()));
    }

    QEventLoop Loop;
    QTimer::singleShot(Milliseconds(*Seconds), &Loop, &QEventLoop::quit);
    const TStopSignals Stop([&Loop] { Loop.quit(); });
    Loop.exec();
    Endpoint->StopCommunication();

    const qsizetype Found = Seen.size();
    Streams.Err << Command << ": "
                << (Found == 0   ? QStringLiteral("no server found")
                    : Found == 1 ? QStringLiteral("1 server found")
                                 : QStringLiteral("%1 servers found").arg(Found))
                << " in " << QString::number(*Seconds) << " s\n";
    Streams.Err.flush();
    return Found > 0 ? 0 : 1;
}

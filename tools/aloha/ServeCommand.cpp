// aloha serve: the server role from the command line, for admins and for
// end-to-end tests: hello, an answer to every find request, announcements on
// request, goodbye on SIGINT or SIGTERM.
#include "AlohaCommands.h"

#include "AlohaUDP.h"
#include "EndpointCommand.h"
#include "Errors.h"
#include "MyActivityLog.h"

#include <QEventLoop>
#include <QTimer>
#include <exception>
#include <memory>

using namespace AlohaCommand;

int RunServe(const QStringList& Arguments, TCommandStreams& Streams) {
    const QString Command = Arguments.value(0, QStringLiteral("aloha serve"));
    QuietDiagnostics();
    QCommandLineParser Parser;
    Parser.setApplicationDescription(
        "Acts as a Quillory 5 server on UDP port 15350: sends a hello, answers every\n"
        "find request, announces itself when asked to, and sends a goodbye on SIGINT\n"
        "or SIGTERM. Find responses carry the computer name; hellos, goodbyes and\n"
        "announcements carry --name. Exit status 0 after the goodbye, 2 on an error.");
    const QCommandLineOption Name("name", "The server name (default: the computer name).", "NAME");
    const QCommandLineOption Port("port", "The server port to report (default 15350).", "N");
    const QCommandLineOption AnnounceEvery("announce-every",
                                           "Announce at start and then every SECONDS.", "SECONDS");
    Parser.addOption(Name);
    Parser.addOption(Port);
    Parser.addOption(AnnounceEvery);
    if (const std::optional<int> Status = ParseArguments(
            Parser, Arguments, "[--name NAME] [--port N] [--announce-every SECONDS]", Streams))
        return *Status;

    if (Parser.isSet(Name) && Parser.value(Name).isEmpty())
        return Fail(Streams, Command, "--name must not be empty");
    qint32 ServerPort = 0;
    if (Parser.isSet(Port)) {
        bool Ok = false;
        const int Value = Parser.value(Port).toInt(&Ok);
        if (!Ok || Value < 1 || Value > 65535)
            return Fail(Streams, Command,
                        "--port needs a port number from 1 to 65535, not '" + Parser.value(Port) +
                            "'");
        ServerPort = Value;
    }
    std::optional<double> Interval;
    if (Parser.isSet(AnnounceEvery)) {
        Interval = ParseSeconds(Parser.value(AnnounceEvery), false);
        if (!Interval)
            return Fail(Streams, Command,
                        "--announce-every needs a number of seconds above 0 and up to 86400, "
                        "not '" +
                            Parser.value(AnnounceEvery) + "'");
    }

    int Answered = 0;
    std::unique_ptr<TAlohaUDP> Endpoint;
    try {
        Endpoint = std::make_unique<TAlohaUDP>(true);
        Endpoint->SetActivityLogEnabled(true);
        if (Parser.isSet(Name))
            Endpoint->SetServerName(Parser.value(Name));
        if (ServerPort != 0)
            Endpoint->SetServerPort(ServerPort);
        else
            Endpoint->ServerPort(); // announcements then carry 15350 too, not 0
        Endpoint->SetOnFindServerReceived([&](TAlohaUDP* Sender, const QString&, const QString&) {
            try {
                Sender->SendServerFindResponseMessage();
                ++Answered;
            } catch (const EError& E) {
                Streams.Err << Command << ": cannot answer a find request: " << E.Message() << "\n";
                Streams.Err.flush();
            }
        });
        if (!Endpoint->StartCommunication())
            return Fail(Streams, Command,
                        "cannot open UDP port 15350; the reason is in the activity log in " +
                            Endpoint->AlohaLog()->LogFolder());
        Endpoint->SendServerHelloMessage();
        if (Interval)
            Endpoint->SendServerAnnounceMessage();
    } catch (const EError& E) {
        return Fail(Streams, Command, E.Message());
    } catch (const std::exception& E) {
        return Fail(Streams, Command, QString::fromLocal8Bit(E.what()));
    }

    QEventLoop Loop;
    QTimer Announcer;
    if (Interval) {
        QObject::connect(&Announcer, &QTimer::timeout, &Loop, [&] {
            try {
                Endpoint->SendServerAnnounceMessage();
            } catch (const EError& E) {
                Streams.Err << Command << ": cannot announce: " << E.Message() << "\n";
                Streams.Err.flush();
            }
        });
        Announcer.start(Milliseconds(*Interval));
    }
    const TStopSignals Stop([&Loop] { Loop.quit(); });
    Streams.Err << Command << ": serving as " << PlainField(Endpoint->ServerName())
                << " on UDP port 15350 until SIGINT or SIGTERM\n";
    Streams.Err.flush();
    Loop.exec();
    Announcer.stop();

    try {
        Endpoint->SendServerGoodbyeMessage();
    } catch (const EError& E) {
        return Fail(Streams, Command, "cannot send the goodbye: " + E.Message());
    }
    Endpoint->StopCommunication();
    Streams.Err << Command << ": goodbye sent; " << Answered << " find request"
                << (Answered == 1 ? "" : "s") << " answered\n";
    Streams.Err.flush();
    return 0;
}

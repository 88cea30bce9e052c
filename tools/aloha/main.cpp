// aloha: the discovery protocol from the command line.
#include "AlohaCommands.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTextStream>
#include <cstdio>

namespace {

struct TCommand {
    const char* Name;
    const char* Summary;
    int (*Run)(const QStringList&, TCommandStreams&);
};

constexpr TCommand Commands[] = {
    {"decode", "Decode one raw datagram and print it as JSON", RunDecode},
    {"find", "Send a find request and list the servers that answer", RunFind},
    {"serve", "Act as a server: hello, answers, announcements, goodbye", RunServe},
    {"listen", "Report every accepted message as it arrives", RunListen},
};

void PrintHelp(QTextStream& Out) {
    Out << "Usage: aloha [--help] [--version] COMMAND [ARGS...]\n\n"
           "The \"aloha\" discovery protocol of Quillory 5 servers on UDP port 15350.\n\n"
           "Commands:\n";
    for (const TCommand& c : Commands)
        Out << "  " << QString::fromLatin1(c.Name).leftJustified(8) << c.Summary << "\n";
    Out << "\nRun 'aloha COMMAND --help' for a command's options.\n";
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication App(argc, argv);
    QCoreApplication::setApplicationName("aloha");
    QTextStream Out(stdout);
    QTextStream Err(stderr);
    QFile In;
    if (!In.open(stdin, QIODevice::ReadOnly)) {
        Err << "aloha: cannot read standard input\n";
        return 2;
    }
    TCommandStreams Streams{In, Out, Err};

    const QStringList Arguments = App.arguments();
    const QString First = Arguments.value(1);
    if (First.isEmpty()) {
        PrintHelp(Err);
        return 2;
    }
    if (First == "--help" || First == "-h" || First == "help") {
        PrintHelp(Out);
        return 0;
    }
    if (First == "--version" || First == "-v") {
        Out << "aloha " << AlohaVersionText() << "\n";
        return 0;
    }
    for (const TCommand& c : Commands) {
        if (First == QLatin1String(c.Name)) {
            QStringList CommandArguments = Arguments.mid(2);
            CommandArguments.prepend("aloha " + First);
            return c.Run(CommandArguments, Streams);
        }
    }
    Err << "aloha: unknown command '" << First << "'; see 'aloha --help'\n";
    return 2;
}

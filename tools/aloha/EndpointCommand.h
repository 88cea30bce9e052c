#pragma once
// What find, serve and listen share: reading their numeric options, writing
// names that came off the network, and ending on SIGINT or SIGTERM.

#include "AlohaCommands.h"

#include <QCommandLineParser>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QString>
#include <QTextStream>
#include <cmath>
#include <memory>
#include <optional>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace AlohaCommand {

// Seconds as a non-negative decimal number (fractions allowed), at most a day.
inline std::optional<double> ParseSeconds(const QString& Text, bool AllowZero) {
    bool Ok = false;
    const double Value = Text.trimmed().toDouble(&Ok);
    if (!Ok || !std::isfinite(Value) || Value < 0 || Value > 86400 || (!AllowZero && Value == 0))
        return std::nullopt;
    return Value;
}

inline int Milliseconds(double Seconds) {
    return int(std::lround(Seconds * 1000));
}

// A name or address from the network, made safe for a terminal and for a
// tab-separated line: every control character becomes "?".
inline QString PlainField(const QString& Text) {
    QString Result = Text;
    for (QChar& c : Result) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029)
            c = u'?';
    }
    return Result;
}

// Debug diagnostics of the modules stay out of a script's standard error unless
// asked for: QT_LOGGING_RULES still takes precedence over these rules.
inline void QuietDiagnostics() {
    QLoggingCategory::setFilterRules(QStringLiteral("lanfinder.*.debug=false"));
}

inline int Fail(TCommandStreams& Streams, const QString& Command, const QString& Message) {
    Streams.Err << Command << ": " << Message << "\n";
    Streams.Err.flush();
    return 2;
}

// Parses, answers --help, and turns every parser complaint into one line.
// Returns an exit status when the command should end here.
inline std::optional<int> ParseArguments(QCommandLineParser& Parser, const QStringList& Arguments,
                                         const QString& Synopsis, TCommandStreams& Streams) {
    const QCommandLineOption Help({"h", "help"}, "Show this help.");
    Parser.addOption(Help);
    const QString Command = Arguments.value(0);
    if (!Parser.parse(Arguments))
        return Fail(Streams, Command, Parser.errorText() + " See '" + Command + " --help'.");
    if (Parser.isSet(Help)) {
        // The parser names the running executable; name the command instead.
        QString Text = Parser.helpText();
        Text.replace(0, Text.indexOf(u'\n'), "Usage: " + Command + " " + Synopsis);
        Streams.Out << Text;
        Streams.Out.flush();
        return 0;
    }
    if (!Parser.positionalArguments().isEmpty())
        return Fail(Streams, Command,
                    "unexpected argument '" + Parser.positionalArguments().first() + "'. See '" +
                        Command + " --help'.");
    return std::nullopt;
}

#ifdef Q_OS_UNIX
// SIGINT and SIGTERM as an event on the event loop: the handler only writes a
// byte to a pipe, which is all a signal handler may safely do.
class TStopSignals {
public:
    template <typename TCallback> explicit TStopSignals(TCallback OnStop) {
        if (pipe(Pipe()) != 0)
            return;
        for (int Fd : {Pipe()[0], Pipe()[1]}) {
            fcntl(Fd, F_SETFD, FD_CLOEXEC);
            fcntl(Fd, F_SETFL, fcntl(Fd, F_GETFL) | O_NONBLOCK);
        }
        FNotifier = std::make_unique<QSocketNotifier>(Pipe()[0], QSocketNotifier::Read);
        QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(),
                         [OnStop](QSocketDescriptor Fd, QSocketNotifier::Type) {
                             char Bytes[16];
                             while (read(int(Fd), Bytes, sizeof Bytes) > 0) {
                             }
                             OnStop();
                         });
        struct sigaction Action = {};
        Action.sa_handler = &TStopSignals::Handler;
        sigemptyset(&Action.sa_mask);
        Action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &Action, &FOldInt);
        sigaction(SIGTERM, &Action, &FOldTerm);
        FInstalled = true;
    }
    ~TStopSignals() {
        if (FInstalled) {
            sigaction(SIGINT, &FOldInt, nullptr);
            sigaction(SIGTERM, &FOldTerm, nullptr);
        }
        FNotifier.reset();
        for (int i = 0; i < 2; ++i) {
            if (Pipe()[i] >= 0)
                close(Pipe()[i]);
            Pipe()[i] = -1;
        }
    }
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

private:
    static int* Pipe() {
        static int Fds[2] = {-1, -1};
        return Fds;
    }
    static void Handler(int) {
        const int Saved = errno;
        const char Byte = 1;
        [[maybe_unused]] const auto Written = write(Pipe()[1], &Byte, 1);
        errno = Saved;
    }

    std::unique_ptr<QSocketNotifier> FNotifier;
    struct sigaction FOldInt = {};
    struct sigaction FOldTerm = {};
    bool FInstalled = false;
};
#else
class TStopSignals {
public:
    template <typename TCallback> explicit TStopSignals(TCallback) {}
};
#endif

} // namespace AlohaCommand

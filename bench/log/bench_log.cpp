// bench_log [ENTRIES [ROUNDS]]: the activity log's rate against the bare append
// loop of the same line on the same file system, rounds alternating, medians
// reported. Both files go to the log folder below a temporary folder (in $TMPDIR).

#include "AnsiCodePage.h"
#include "MyActivityLog.h"

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

using TClockType = std::chrono::steady_clock;

template <typename Body> double EntriesPerSecond(int Entries, Body&& Run) {
    const auto Start = TClockType::now();
    for (int i = 0; i < Entries; ++i)
        Run();
    const std::chrono::duration<double> Elapsed = TClockType::now() - Start;
    return Entries / Elapsed.count();
}

double Median(std::vector<double> Values) {
    std::sort(Values.begin(), Values.end());
    const std::size_t Mid = Values.size() / 2;
    return Values.size() % 2 ? Values[Mid] : (Values[Mid - 1] + Values[Mid]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    const int Entries = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int Rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    if (Entries <= 0 || Rounds <= 0) {
        std::fprintf(stderr, "usage: bench_log [ENTRIES [ROUNDS]]\n");
        return 2;
    }

    QTemporaryDir Dir;
    if (!Dir.isValid()) {
        std::fprintf(stderr, "bench_log: no temporary folder\n");
        return 1;
    }
    qputenv("XDG_STATE_HOME", QFile::encodeName(Dir.path()));

    const QString Text = QStringLiteral("Broadcasting on 255.255.255.255");
    const QByteArray Line =
        AnsiEncode(QStringLiteral("2018-03-05 14:07:09;Info;") + Text + QStringLiteral(";\r\n"));
    TActivityLog Log(QStringLiteral("WorkstationLogs"), QStringLiteral("Aloha"));
    // Beside the day's file: the same folder depth, so only the log's own work differs.
    const QByteArray BarePath =
        QFile::encodeName(Log.LogFolder() + QStringLiteral("/bare.logfile"));
    bool Failed = false;
    const auto Bare = [&] {
        const int Fd =
            ::open(BarePath.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (Fd < 0 || ::write(Fd, Line.constData(), Line.size()) != Line.size())
            Failed = true;
        if (Fd >= 0)
            ::close(Fd);
    };

    std::vector<double> LogRates, BareRates;
    const auto Logged = [&] { Log.AddLogEntry(Text); };
    for (int Round = 0; Round < Rounds; ++Round) {
        // Which goes first changes every round, so neither always meets a warm cache.
        if (Round % 2 == 0) {
            LogRates.push_back(EntriesPerSecond(Entries, Logged));
            BareRates.push_back(EntriesPerSecond(Entries, Bare));
        } else {
            BareRates.push_back(EntriesPerSecond(Entries, Bare));
            LogRates.push_back(EntriesPerSecond(Entries, Logged));
        }
    }
    if (Failed) {
        std::fprintf(stderr, "bench_log: the bare loop could not write %s\n", BarePath.constData());
        return 1;
    }

    const double LogMedian = Median(LogRates), BareMedian = Median(BareRates);
    std::printf("entries per round %d, rounds %d, line %lld bytes, folder %s\n", Entries, Rounds,
                static_cast<long long>(Line.size()), qPrintable(Dir.path()));
    std::printf("TActivityLog   %12.0f entries/s (median)\n", LogMedian);
    std::printf("bare append    %12.0f entries/s (median)\n", BareMedian);
    std::printf("ratio          %12.3f (goal >= 0.8)\n", LogMedian / BareMedian);
    return 0;
}

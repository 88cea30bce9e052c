// bench_window: many servers reported into the real window during a real scan.
//
// The window is shown (offscreen), Scan is pressed, and 985 ms later N distinct
// servers are reported through the window's own report handlers, the way the
// endpoint raises them: a batch of reports per pass of the event loop, so the
// window's tick (due at 1000 ms, in the middle of the reports) and a 10 ms probe
// timer get their chance between batches. Then every name is reported a second
// time, which must change nothing. Each trial ends with the window closed
// mid-scan, without the completion box.
#include "FlatButton.h"
#include "LabGuard.h"
#include "LabRun.h"
#include "ListGrid.h"
#include "Main.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct TBenchOptions {
    int Servers = 10000;
    int Repeats = 5;
    std::vector<int> Batches{100, 1000, 10000};
    int ReportsAfter = 985; // ms after Scan: the first tick falls due among the reports
};

const char* const Usage =
    "Usage: scripts/netlab -- build/bin/bench_window [--servers N] [--repeats R]\n"
    "         [--batches B,B,...] [--after MS]\n"
    "\n"
    "Reports N distinct servers (default 10000) into a scanning window, B reports\n"
    "per pass of the event loop (default 100,1000,10000), R trials each (default 5).\n"
    "Needs QT_QPA_PLATFORM=offscreen (set when unset) and the network lab: Scan\n"
    "opens UDP port 15350.\n";

TBenchOptions ParseOptions(int argc, char* argv[]) {
    TBenchOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string Option = argv[i];
        if (Option == "--help" || Option == "-h") {
            std::fputs(Usage, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc)
            throw std::invalid_argument(Option + " needs a value");
        const char* Value = argv[++i];
        if (Option == "--servers") {
            o.Servers = static_cast<int>(labsender::WholeNumberOption(Option, Value, 1, 10000000));
        } else if (Option == "--repeats") {
            o.Repeats = static_cast<int>(labsender::WholeNumberOption(Option, Value, 1, 10000000));
        } else if (Option == "--after") {
            o.ReportsAfter =
                static_cast<int>(labsender::WholeNumberOption(Option, Value, 0, 10000000));
        } else if (Option == "--batches") {
            o.Batches.clear();
            const std::string List = Value;
            std::size_t At = 0;
            while (At <= List.size()) {
                const std::size_t Comma = std::min(List.find(',', At), List.size());
                o.Batches.push_back(static_cast<int>(labsender::WholeNumberOption(
                    Option, List.substr(At, Comma - At), 1, 10000000)));
                At = Comma + 1;
            }
        } else {
            throw std::invalid_argument("unknown option '" + Option + "' (see --help)");
        }
    }
    return o;
}

double Median(std::vector<double> Values) {
    std::sort(Values.begin(), Values.end());
    const std::size_t N = Values.size();
    return N % 2 ? Values[N / 2] : (Values[N / 2 - 1] + Values[N / 2]) / 2;
}

struct TTrial {
    double TotalMs = 0;     // first report to last, event loop passes in between included
    double BusyMs = 0;      // time inside the handlers alone
    double ProbeLateMs = 0; // worst lateness of the 10 ms probe while reports came in
    double TickLateMs = 0;  // worst lateness of the window's own ticks up to the one after
    int TicksSeen = 0;      // window ticks in that span
    double RepeatUsPerCall = 0;
    double RepaintUs = 0; // one synchronous repaint of the full list, alone
    int Rows = 0;
    bool FirstKept = true; // a repeated name left its row as it was
};

QString Name(int I) {
    return QStringLiteral("SRV-%1").arg(I, 5, 10, QLatin1Char('0'));
}

QString Address(int I, int Base) {
    return QStringLiteral("198.18.%1.%2").arg(Base + I / 250).arg(1 + I % 250);
}

// Runs Work(From, To) over [0, Count) in slices of Batch, one slice per pass
// of the event loop, and returns when the last slice is done.
void InSlices(int Count, int Batch, const std::function<void(int, int)>& Work) {
    QEventLoop Loop;
    int Next = 0;
    std::function<void()> Slice = [&] {
        const int To = std::min(Count, Next + Batch);
        Work(Next, To);
        Next = To;
        if (Next < Count)
            QTimer::singleShot(0, &Loop, Slice);
        else
            Loop.quit();
    };
    QTimer::singleShot(0, &Loop, Slice);
    Loop.exec();
}

void Wait(int Ms) {
    QEventLoop Loop;
    QTimer::singleShot(Ms, &Loop, &QEventLoop::quit);
    Loop.exec();
}

TTrial RunTrial(const TBenchOptions& o, int Batch) {
    TTrial Result;
    TfrmMain Form;
    Form.show();
    QElapsedTimer Exposing;
    Exposing.start();
    while (!(Form.windowHandle() && Form.windowHandle()->isExposed())) {
        if (Exposing.elapsed() > 5000)
            throw std::runtime_error("the window was never exposed");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    Wait(50);

    QElapsedTimer Clock;
    std::vector<qint64> Ticks;
    QObject::connect(Form.tmrScan, &QTimer::timeout, &Form,
                     [&] { Ticks.push_back(Clock.nsecsElapsed()); });

    bool Probing = false, ReportsDone = false;
    qint64 LastProbe = 0;
    double ProbeLate = 0;
    QTimer Probe;
    Probe.setTimerType(Qt::PreciseTimer);
    Probe.setInterval(10);
    QObject::connect(&Probe, &QTimer::timeout, [&] {
        const qint64 Now = Clock.nsecsElapsed();
        if (Probing || ReportsDone)
            ProbeLate = std::max(ProbeLate, (Now - LastProbe) / 1e6 - Probe.interval());
        if (ReportsDone)
            Probing = ReportsDone = false; // the gap that ended just now is the last one
        LastProbe = Now;
    });

    Clock.start();
    Form.btnScan->click();
    if (!Form.Aloha())
        throw std::runtime_error("Scan did not start a scan");
    Probe.start();
    Wait(o.ReportsAfter);

    Probing = true;
    LastProbe = Clock.nsecsElapsed();
    QElapsedTimer Busy;
    qint64 BusyNs = 0;
    const qint64 ReportsFrom = Clock.nsecsElapsed();
    InSlices(o.Servers, Batch, [&](int From, int To) {
        Busy.start();
        for (int I = From; I < To; ++I) {
            if (I % 2)
                Form.AlohaServerAnnounce(nullptr, Name(I), Address(I, 0), 15350);
            else
                Form.AlohaFindServerResponseReceived(nullptr, Name(I), Address(I, 0), 15350);
        }
        BusyNs += Busy.nsecsElapsed();
    });
    const qint64 ReportsTo = Clock.nsecsElapsed();
    ReportsDone = true;
    // The list as the user sees it: painted once more after the last report.
    QCoreApplication::processEvents();
    const qint64 PaintedTo = Clock.nsecsElapsed();
    Result.TotalMs = (PaintedTo - ReportsFrom) / 1e6;
    Result.BusyMs = BusyNs / 1e6;
    while (ReportsDone)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    Result.ProbeLateMs = ProbeLate;

    // Up to the first tick due after the reports, so a tick the reports held up is seen.
    const qint64 Period = qint64(TfrmMain::TickInterval) * 1'000'000;
    const qint64 Until = (ReportsTo / Period + 1) * Period;
    while (Ticks.empty() || Ticks.back() < Until) {
        if (Clock.nsecsElapsed() > Until + 5 * Period)
            throw std::runtime_error("the window's timer stopped ticking (" +
                                     std::to_string(Ticks.size()) + " ticks, reports took " +
                                     std::to_string(Result.TotalMs) + " ms)");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    // Late ticks are not made up: each tick is due one interval after the one before.
    for (std::size_t K = 0; K < Ticks.size(); ++K)
        Result.TickLateMs =
            std::max(Result.TickLateMs, (Ticks[K] - (K ? Ticks[K - 1] : 0) - Period) / 1e6);
    Result.TicksSeen = int(Ticks.size());
    // Every name again, from other addresses: what a second answer costs.
    QElapsedTimer Repeats;
    Repeats.start();
    for (int I = 0; I < o.Servers; ++I)
        Form.AlohaFindServerResponseReceived(nullptr, Name(I), Address(I, 100), 1);
    Result.RepeatUsPerCall = Repeats.nsecsElapsed() / 1e3 / o.Servers;
    Result.Rows = Form.grdServers->RowCount();
    QElapsedTimer Repainting;
    Repainting.start();
    for (int I = 0; I < 200; ++I)
        Form.grdServers->viewport()->repaint();
    Result.RepaintUs = Repainting.nsecsElapsed() / 1e3 / 200;
    for (int I : {0, o.Servers / 2, o.Servers - 1})
        Result.FirstKept = Result.FirstKept && Form.grdServers->Cell(I, 0) == Name(I) &&
                           Form.grdServers->Cell(I, 1) == Address(I, 0) &&
                           Form.grdServers->Cell(I, 2) == QLatin1String("15350");
    Probe.stop();
    Form.close();
    return Result;
}

} // namespace

int main(int argc, char* argv[]) {
    TBenchOptions o;
    try {
        o = ParseOptions(argc, argv);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "bench_window: %s\n", E.what());
        return 2;
    }
    const labsender::TLabCheck Lab = labsender::CheckLab();
    if (!Lab.Inside) {
        std::fprintf(stderr, "bench_window: refusing to scan outside the network lab: %s\n",
                     Lab.Problem.c_str());
        return 77;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The scan's endpoint writes its log; keep it out of the user's folders.
    QTemporaryDir State;
    if (!State.isValid()) {
        std::fprintf(stderr, "bench_window: no temporary folder: %s\n",
                     qPrintable(State.errorString()));
        return 1;
    }
    qputenv("XDG_STATE_HOME", State.path().toLocal8Bit());

    QApplication Application(argc, argv);
    std::printf("%d servers into a scanning window, %d trials per batch size, reports from "
                "%d ms after Scan\n",
                o.Servers, o.Repeats, o.ReportsAfter);
    std::printf("%7s %5s %10s %10s %11s %11s %6s %13s %6s %10s\n", "batch", "trial", "total ms",
                "busy ms", "probe late", "tick late", "ticks", "repeat us/call", "rows",
                "repaint us");
    bool Sound = true;
    std::string Json = "{\"servers\":" + std::to_string(o.Servers) + ",\"batches\":[";
    bool Goal = true;
    for (std::size_t B = 0; B < o.Batches.size(); ++B) {
        const int Batch = o.Batches[B];
        std::vector<double> Total, Busy, ProbeLate, TickLate, Repeat;
        for (int T = 0; T < o.Repeats; ++T) {
            TTrial R;
            try {
                R = RunTrial(o, Batch);
            } catch (const std::exception& E) {
                std::fprintf(stderr, "bench_window: %s\n", E.what());
                return 1;
            }
            std::printf("%7d %5d %10.1f %10.1f %11.1f %11.1f %6d %14.2f %6d %10.1f%s\n", Batch,
                        T + 1, R.TotalMs, R.BusyMs, R.ProbeLateMs, R.TickLateMs, R.TicksSeen,
                        R.RepeatUsPerCall, R.Rows, R.RepaintUs,
                        R.FirstKept ? "" : "  FIRST ROWS CHANGED");
            std::fflush(stdout);
            Sound = Sound && R.Rows == o.Servers && R.FirstKept;
            Total.push_back(R.TotalMs);
            Busy.push_back(R.BusyMs);
            ProbeLate.push_back(R.ProbeLateMs);
            TickLate.push_back(R.TickLateMs);
            Repeat.push_back(R.RepeatUsPerCall);
        }
        const double MTotal = Median(Total), MTick = Median(TickLate);
        const double WorstTick = *std::max_element(TickLate.begin(), TickLate.end());
        std::printf("median  batch %d: total %.1f ms (busy %.1f ms, %.1f us per new server), "
                    "probe late %.1f ms, window tick late %.1f ms (worst %.1f), "
                    "repeated name %.2f us per report\n",
                    Batch, MTotal, Median(Busy), Median(Busy) * 1e3 / o.Servers, Median(ProbeLate),
                    MTick, WorstTick, Median(Repeat));
        Goal = Goal && MTotal < 1000 && MTick <= 100;
        char Line[512];
        std::snprintf(Line, sizeof Line,
                      "%s{\"batch\":%d,\"total_ms\":%.1f,\"busy_ms\":%.1f,\"probe_late_ms\":%.1f,"
                      "\"tick_late_ms\":%.1f,\"tick_late_worst_ms\":%.1f,"
                      "\"repeat_us_per_call\":%.2f}",
                      B ? "," : "", Batch, MTotal, Median(Busy), Median(ProbeLate), MTick,
                      WorstTick, Median(Repeat));
        Json += Line;
    }
    Json += "],\"goal_met\":";
    Json += Goal ? "true" : "false";
    Json += "}";
    std::printf("goal (medians: under 1000 ms in all, window tick late by at most 100 ms): %s\n",
                Goal ? "met" : "missed");
    std::printf("%s\n", Json.c_str());
    if (!Sound) {
        std::fprintf(stderr, "bench_window: the list does not hold each server once as first "
                             "reported\n");
        return 1;
    }
    return 0;
}

// bench_ingest: the highest steady rate of find responses a receiver takes in
// without losing one, for the scanning endpoint and for a bare recvmmsg loop
// on the same kind of socket (the limit), and the ratio of the two.
//
// Each point is a few trials of lab_sender --rate R --seconds S; a point is
// lossless when the median trial lost nothing. The rate doubles until a point
// loses, then narrows down between the last lossless and the first lossy rate.
#include "LabGuard.h"
#include "LabReceivers.h"
#include "LabRun.h"
#include "LabSender.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

using namespace labsender;

namespace {

struct TBenchOptions {
    std::vector<EReceiver> Receivers{EReceiver::Endpoint, EReceiver::Bare};
    double Seconds = 3;
    int Repeats = 3;
    int Names = 1000;
    double StartRate = 5000;
    double MaxRate = 4e6;
    double Precision = 0.05;
    int Senders = 2; // one sender alone can't keep up with the bare loop
};

const char* const Usage =
    "Usage: scripts/netlab -- build/bin/bench_ingest [--receivers LIST] [--seconds S]\n"
    "         [--repeats R] [--names N] [--start RATE] [--max RATE] [--precision P]\n"
    "         [--senders N]\n"
    "\n"
    "LIST is a comma-separated choice of endpoint, port, qt, qt-default and bare\n"
    "(default endpoint,bare). The ratio is printed when both endpoint and bare ran.\n"
    "RATE is the total of N lab_sender processes (default 2), each sending RATE/N.\n";

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
        if (Option == "--receivers") {
            o.Receivers.clear();
            std::string List = Value;
            std::size_t At = 0;
            while (At <= List.size()) {
                const std::size_t Comma = std::min(List.find(',', At), List.size());
                o.Receivers.push_back(ReceiverFromName(List.substr(At, Comma - At)));
                At = Comma + 1;
            }
        } else if (Option == "--seconds") {
            o.Seconds = PositiveNumberOption(Option, Value);
        } else if (Option == "--repeats") {
            o.Repeats = static_cast<int>(PositiveNumberOption(Option, Value));
        } else if (Option == "--names") {
            o.Names = static_cast<int>(PositiveNumberOption(Option, Value));
        } else if (Option == "--start") {
            o.StartRate = PositiveNumberOption(Option, Value);
        } else if (Option == "--max") {
            o.MaxRate = PositiveNumberOption(Option, Value);
        } else if (Option == "--senders") {
            o.Senders = static_cast<int>(PositiveNumberOption(Option, Value));
        } else if (Option == "--precision") {
            o.Precision = PositiveNumberOption(Option, Value);
        } else {
            throw std::invalid_argument("unknown option '" + Option + "'");
        }
    }
    return o;
}

struct TPoint {
    double Rate = 0;
    bool Lossless = false;
    bool SenderLimited = false; // the sender could not reach the rate
    double MedianLost = 0;
    double MedianReceived = 0;
    double MedianAchieved = 0;
    double MedianRcvbufErrors = 0;
};

struct TSearch {
    double Highest = 0; // highest lossless rate measured
    bool SenderLimited = false;
    int ReceiveBuffer = 0;
};

TPoint Measure(EReceiver Kind, double Rate, const TBenchOptions& o, int BareBuffer,
               TSearch& Search) {
    std::vector<double> Lost, Received, Achieved, Errors;
    const std::vector<std::string> Args = {"--rate",    std::to_string(Rate / o.Senders),
                                           "--seconds", std::to_string(o.Seconds),
                                           "--names",   std::to_string(o.Names)};
    for (int r = 0; r < o.Repeats; ++r) {
        const TTrial t = RunTrial(Kind, Args, BareBuffer, o.Senders);
        if (!t.Error.empty())
            throw std::runtime_error(std::string(ReceiverName(Kind)) + ": " + t.Error);
        Lost.push_back(static_cast<double>(t.Lost()));
        Received.push_back(static_cast<double>(t.Received));
        Achieved.push_back(t.AchievedRate);
        Errors.push_back(static_cast<double>(t.RcvbufErrors));
        Search.ReceiveBuffer = t.ReceiveBuffer;
    }
    TPoint p;
    p.Rate = Rate;
    p.MedianLost = Median(Lost);
    p.MedianReceived = Median(Received);
    p.MedianAchieved = Median(Achieved);
    p.MedianRcvbufErrors = Median(Errors);
    p.Lossless = p.MedianLost <= 0;
    p.SenderLimited = p.MedianAchieved < 0.97 * Rate;
    std::printf("  %-10s %10.0f/s  sent at %10.0f/s  received %10.0f  lost %9.0f  "
                "RcvbufErrors %9.0f  %s%s\n",
                ReceiverName(Kind), Rate, p.MedianAchieved, p.MedianReceived, p.MedianLost,
                p.MedianRcvbufErrors, p.Lossless ? "lossless" : "LOSS",
                p.SenderLimited ? " (sender behind)" : "");
    std::fflush(stdout);
    return p;
}

TSearch Search(EReceiver Kind, const TBenchOptions& o, int BareBuffer) {
    TSearch s;
    double Pass = 0, Fail = 0;
    for (double Rate = o.StartRate; Rate <= o.MaxRate; Rate *= 2) {
        const TPoint p = Measure(Kind, Rate, o, BareBuffer, s);
        if (!p.Lossless) {
            Fail = Rate;
            break;
        }
        Pass = Rate;
        if (p.SenderLimited) {
            // Faster asks would only measure the sender.
            Pass = p.MedianAchieved;
            s.SenderLimited = true;
            break;
        }
    }
    while (Pass > 0 && Fail > 0 && Fail > Pass * (1 + o.Precision)) {
        const double Mid = std::round(std::sqrt(Pass * Fail) / 100) * 100;
        if (Mid <= Pass || Mid >= Fail)
            break;
        const TPoint p = Measure(Kind, Mid, o, BareBuffer, s);
        if (p.Lossless) {
            Pass = Mid;
            if (p.SenderLimited) {
                Pass = p.MedianAchieved;
                s.SenderLimited = true;
                break;
            }
        } else {
            Fail = Mid;
        }
    }
    s.Highest = Pass;
    return s;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication App(argc, argv);
    TBenchOptions o;
    try {
        o = ParseOptions(argc, argv);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "bench_ingest: %s\n\n%s", e.what(), Usage);
        return 2;
    }
    QTemporaryDir LogHome;
    if (const int Status = EnterLabWithTemporaryLogs("bench_ingest", LogHome))
        return Status;
    try {
        // The bare loop asks for what the endpoint's port ends up with (the
        // kernel reports double what it was asked for).
        const int PortBuffer = EndpointReceiveBuffer();
        const int BareBuffer = PortBuffer / 2;
        std::printf("bench_ingest: %d-byte find responses from %d names, %g s per trial, "
                    "median of %d, %d senders; endpoint's SO_RCVBUF %d\n",
                    static_cast<int>(FindServerResponse(0, o.Names).size()), o.Names, o.Seconds,
                    o.Repeats, o.Senders, PortBuffer);
        double Endpoint = -1, Bare = -1;
        std::string Json = "{";
        for (EReceiver Kind : o.Receivers) {
            std::printf("%s:\n", ReceiverName(Kind));
            const TSearch s = Search(Kind, o, BareBuffer);
            std::printf("%s: highest lossless rate %.0f datagrams/s%s (SO_RCVBUF %d)\n",
                        ReceiverName(Kind), s.Highest,
                        s.SenderLimited ? ", sender-limited: the receiver may take more" : "",
                        s.ReceiveBuffer);
            std::fflush(stdout);
            if (Kind == EReceiver::Endpoint)
                Endpoint = s.Highest;
            if (Kind == EReceiver::Bare)
                Bare = s.Highest;
            Json += (Json.size() > 1 ? "," : "") + std::string("\"") + ReceiverName(Kind) +
                    "\":{\"rate\":" + std::to_string(static_cast<long long>(s.Highest)) +
                    ",\"sender_limited\":" + (s.SenderLimited ? "true" : "false") + "}";
        }
        if (Endpoint >= 0 && Bare > 0) {
            const double Ratio = Endpoint / Bare;
            std::printf("ratio endpoint/bare: %.2f (goal at least 0.5)\n", Ratio);
            Json += ",\"ratio\":" + std::to_string(Ratio);
        }
        std::printf("%s}\n", Json.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_ingest: %s\n", e.what());
        return 1;
    }
    return 0;
}

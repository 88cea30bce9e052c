// bench_burst: K distinct servers answer one find request at once (lab_sender
// --burst K, back to back). For each K, a few trials per receiver; a K holds
// when the median trial lost nothing. Compares the scanning endpoint with a
// plain QUdpSocket reader left at Qt's defaults.
#include "LabGuard.h"
#include "LabReceivers.h"
#include "LabRun.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

using namespace labsender;

namespace {

struct TBenchOptions {
    std::vector<EReceiver> Receivers{EReceiver::Endpoint, EReceiver::QtDefault};
    std::vector<long long> Sizes{500, 1000, 2000, 4000, 8000};
    int Repeats = 3;
};

const char* const Usage =
    "Usage: scripts/netlab -- build/bin/bench_burst [--receivers LIST] [--sizes K,K,...]\n"
    "         [--repeats R]\n"
    "\n"
    "LIST is a comma-separated choice of endpoint, port, qt, qt-default and bare\n"
    "(default endpoint,qt-default); sizes default to 500,1000,2000,4000,8000.\n";

std::vector<std::string> SplitList(const std::string& List) {
    std::vector<std::string> Out;
    std::size_t At = 0;
    while (At <= List.size()) {
        const std::size_t Comma = std::min(List.find(',', At), List.size());
        Out.push_back(List.substr(At, Comma - At));
        At = Comma + 1;
    }
    return Out;
}

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
        const std::string Value = argv[++i];
        if (Option == "--receivers") {
            o.Receivers.clear();
            for (const std::string& Name : SplitList(Value))
                o.Receivers.push_back(ReceiverFromName(Name));
        } else if (Option == "--sizes") {
            o.Sizes.clear();
            for (const std::string& K : SplitList(Value))
                o.Sizes.push_back(WholeNumberOption(Option, K, 1, 10000000));
        } else if (Option == "--repeats") {
            o.Repeats = static_cast<int>(WholeNumberOption(Option, Value, 1, 10000000));
        } else {
            throw std::invalid_argument("unknown option '" + Option + "'");
        }
    }
    return o;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication App(argc, argv);
    TBenchOptions o;
    try {
        o = ParseOptions(argc, argv);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "bench_burst: %s\n\n%s", e.what(), Usage);
        return 2;
    }
    QTemporaryDir LogHome;
    if (const int Status = EnterLabWithTemporaryLogs("bench_burst", LogHome))
        return Status;
    try {
        const int BareBuffer = EndpointReceiveBuffer() / 2;
        std::printf("bench_burst: K distinct find responses back to back, median of %d trials\n",
                    o.Repeats);
        std::string Json = "{";
        for (EReceiver Kind : o.Receivers) {
            long long Largest = 0;
            int Buffer = 0;
            for (long long K : o.Sizes) {
                const std::vector<std::string> Args = {"--burst", std::to_string(K), "--names",
                                                       std::to_string(K)};
                std::vector<double> Lost, Received, Names, Rates, Errors;
                for (int r = 0; r < o.Repeats; ++r) {
                    const TTrial t = RunTrial(Kind, Args, BareBuffer);
                    if (!t.Error.empty())
                        throw std::runtime_error(std::string(ReceiverName(Kind)) + ": " + t.Error);
                    Lost.push_back(static_cast<double>(t.Lost()));
                    Received.push_back(static_cast<double>(t.Received));
                    Names.push_back(static_cast<double>(t.DistinctNames));
                    Rates.push_back(t.AchievedRate);
                    Errors.push_back(static_cast<double>(t.RcvbufErrors));
                    Buffer = t.ReceiveBuffer;
                }
                const bool Holds = Median(Lost) <= 0;
                if (Holds)
                    Largest = std::max(Largest, K);
                std::printf("  %-10s K=%-6lld sent at %9.0f/s  received %7.0f", ReceiverName(Kind),
                            K, Median(Rates), Median(Received));
                if (Median(Names) >= 0)
                    std::printf("  names %7.0f", Median(Names));
                std::printf("  lost %6.0f  RcvbufErrors %6.0f  %s\n", Median(Lost), Median(Errors),
                            Holds ? "zero loss" : "LOSS");
                std::fflush(stdout);
            }
            std::printf("%s: largest K with zero loss %lld (SO_RCVBUF %d)\n", ReceiverName(Kind),
                        Largest, Buffer);
            Json += (Json.size() > 1 ? "," : "") + std::string("\"") + ReceiverName(Kind) +
                    "\":" + std::to_string(Largest);
        }
        std::printf("%s}\n", Json.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_burst: %s\n", e.what());
        return 1;
    }
    return 0;
}

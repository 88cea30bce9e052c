#pragma once
// What the lab benchmarks share: starting lab_sender as a separate process and
// reading its report, the kernel's UDP counters, and medians.

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace labsender {

// lab_sender beside the running program (build/bin/).
std::string SenderPath();

class TSenderProcess {
public:
    TSenderProcess() = default;
    ~TSenderProcess();
    TSenderProcess(const TSenderProcess&) = delete;
    TSenderProcess& operator=(const TSenderProcess&) = delete;

    // Throws std::runtime_error when the program can't be started.
    void Start(const std::string& Program, const std::vector<std::string>& Args);
    // Without blocking: has it ended? Reads its report as it comes.
    bool Finished();
    void Wait();
    int ExitStatus() const { return FStatus; }
    // The JSON line it printed (empty until it ends).
    const std::string& Report() const { return FOutput; }

private:
    void ReadOutput();
    pid_t FPid = -1;
    int FOut = -1;
    int FStatus = -1;
    std::string FOutput;
};

// A number field of a flat JSON line such as lab_sender's report; -1 if absent.
double JsonField(const std::string& Json, const std::string& Name);

// This namespace's UDP counters from /proc/net/snmp.
struct TUdpCounters {
    std::uint64_t InDatagrams = 0;
    std::uint64_t RcvbufErrors = 0;
    std::uint64_t InErrors = 0;
};
TUdpCounters ReadUdpCounters();

double Median(std::vector<double> Values);

// The benchmarks' numeric options; a bad value throws std::invalid_argument
// naming the option and the text.
long long WholeNumberOption(const std::string& Option, const std::string& Text, long long Min,
                            long long Max);
double PositiveNumberOption(const std::string& Option, const std::string& Text);

} // namespace labsender

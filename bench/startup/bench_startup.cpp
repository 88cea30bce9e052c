// bench_startup: start-up time and peak memory of lanfinder against the least a
// Qt Widgets program needs (startup_baseline), side by side on one X server.
//
// Both programs run unchanged under a private Xvfb. "Shown" is the moment the
// program first flushes its painted window to the screen, which Qt reports on
// its own logging category qt.widgets.painting ("Flushing ...") when that is
// switched on through QT_LOGGING_RULES; the same switch for both programs.
// Start-up is the time from just before the driver forks the program to that
// line. Memory is VmHWM from /proc: for lanfinder after one full scan (Scan is
// clicked with xdotool, and the scan is over when its "Information" box is
// mapped; also once it has been shown for a second, before Scan), for the
// baseline once it has been shown for a second. Every program
// is then ended with SIGTERM. The scan opens UDP 15350, so this runs only
// inside the network lab.
#include "LabGuard.h"
#include "LabRun.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct TBenchOptions {
    int Runs = 15;
    int Scans = 2;
    std::string Lanfinder;
    std::string Baseline;
};

const char* const Usage =
    "Usage: scripts/netlab -- build/bin/bench_startup [--runs N] [--scans M]\n"
    "         [--lanfinder PATH] [--baseline PATH]\n"
    "\n"
    "Starts lanfinder and startup_baseline N times each, alternately (default 15),\n"
    "for the time to the first painted window; then M times each (default 2) for\n"
    "peak memory, lanfinder after one full 31-second scan. Programs default to the\n"
    "ones beside this driver. Needs Xvfb and xdotool.\n";

using TClock = std::chrono::steady_clock;

std::string Beside(const char* Name) {
    std::error_code Error;
    const auto Self = std::filesystem::read_symlink("/proc/self/exe", Error);
    if (Error)
        return Name;
    return (Self.parent_path() / Name).string();
}

TBenchOptions ParseOptions(int argc, char* argv[]) {
    TBenchOptions o;
    o.Lanfinder = Beside("lanfinder");
    o.Baseline = Beside("startup_baseline");
    for (int i = 1; i < argc; ++i) {
        const std::string Option = argv[i];
        if (Option == "--help" || Option == "-h") {
            std::fputs(Usage, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc)
            throw std::invalid_argument(Option + " needs a value");
        const char* Value = argv[++i];
        if (Option == "--runs")
            o.Runs = static_cast<int>(labsender::WholeNumberOption(Option, Value, 1, 10000));
        else if (Option == "--scans")
            o.Scans = static_cast<int>(labsender::WholeNumberOption(Option, Value, 1, 10000));
        else if (Option == "--lanfinder")
            o.Lanfinder = Value;
        else if (Option == "--baseline")
            o.Baseline = Value;
        else
            throw std::invalid_argument("unknown option '" + Option + "' (see --help)");
    }
    for (const std::string* Program : {&o.Lanfinder, &o.Baseline})
        if (access(Program->c_str(), X_OK) != 0)
            throw std::invalid_argument("no program to run at '" + *Program + "'");
    return o;
}

double Median(std::vector<double> Values) {
    std::sort(Values.begin(), Values.end());
    const std::size_t N = Values.size();
    return N % 2 ? Values[N / 2] : (Values[N / 2 - 1] + Values[N / 2]) / 2;
}

double MsSince(TClock::time_point From) {
    return std::chrono::duration<double, std::milli>(TClock::now() - From).count();
}

// A program started with its standard error on a pipe, ended when this goes.
class TChild {
public:
    TChild(const std::string& Program, bool LogPainting) {
        int Pipe[2];
        if (pipe2(Pipe, O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        Started = TClock::now();
        FPid = fork();
        if (FPid < 0)
            throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
        if (FPid == 0) {
            dup2(Pipe[1], STDERR_FILENO);
            const int Null = open("/dev/null", O_RDWR);
            dup2(Null, STDIN_FILENO);
            dup2(Null, STDOUT_FILENO);
            if (LogPainting)
                setenv("QT_LOGGING_RULES", "qt.widgets.painting=true", 1);
            execl(Program.c_str(), Program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(Pipe[1]);
        FErr = Pipe[0];
    }
    ~TChild() { End(); }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    pid_t Pid() const { return FPid; }

    // Reads standard error until a line holds Text; false when the program
    // ended or the time ran out first.
    bool WaitForLine(const char* Text, int TimeoutMs) {
        const auto Deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
        for (;;) {
            std::size_t Newline;
            while ((Newline = FBuffer.find('\n')) != std::string::npos) {
                const bool Found = FBuffer.substr(0, Newline).find(Text) != std::string::npos;
                FBuffer.erase(0, Newline + 1);
                if (Found)
                    return true;
            }
            const auto Left =
                std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - TClock::now());
            if (Left.count() <= 0)
                return false;
            pollfd P{FErr, POLLIN, 0};
            if (poll(&P, 1, int(Left.count())) <= 0)
                continue;
            char Chunk[4096];
            const ssize_t N = read(FErr, Chunk, sizeof Chunk);
            if (N <= 0)
                return false;
            FBuffer.append(Chunk, std::size_t(N));
        }
    }

    // Keeps the pipe from filling up while the program runs on.
    void Drain() {
        pollfd P{FErr, POLLIN, 0};
        char Chunk[4096];
        while (poll(&P, 1, 0) > 0 && read(FErr, Chunk, sizeof Chunk) > 0) {
        }
        FBuffer.clear();
    }

    // VmHWM (peak resident set) in KiB, or -1.
    long PeakKiB() const {
        std::ifstream Status("/proc/" + std::to_string(FPid) + "/status");
        std::string Line;
        while (std::getline(Status, Line))
            if (Line.rfind("VmHWM:", 0) == 0)
                return std::strtol(Line.c_str() + 6, nullptr, 10);
        return -1;
    }

    void End() {
        if (FPid > 0) {
            kill(FPid, SIGTERM);
            close(FErr);
            int Status = 0;
            waitpid(FPid, &Status, 0);
            FPid = -1;
        }
    }

    TClock::time_point Started;

private:
    pid_t FPid = -1;
    int FErr = -1;
    std::string FBuffer;
};

// A private X server, on whatever display number is free.
class TXServer {
public:
    TXServer() {
        int Pipe[2];
        if (pipe(Pipe) != 0)
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        FPid = fork();
        if (FPid == 0) {
            close(Pipe[0]);
            const int Null = open("/dev/null", O_RDWR);
            dup2(Null, STDOUT_FILENO);
            dup2(Null, STDERR_FILENO);
            const std::string Fd = std::to_string(Pipe[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", Fd.c_str(), "-screen", "0", "1024x768x24",
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(Pipe[1]);
        std::string Number;
        char C;
        pollfd P{Pipe[0], POLLIN, 0};
        while (poll(&P, 1, 10000) > 0 && read(Pipe[0], &C, 1) == 1 && C != '\n')
            Number += C;
        close(Pipe[0]);
        if (Number.empty())
            throw std::runtime_error("Xvfb did not start (is it installed?)");
        Display = ":" + Number;
    }
    ~TXServer() {
        kill(FPid, SIGTERM);
        waitpid(FPid, nullptr, 0);
    }
    TXServer(const TXServer&) = delete;
    TXServer& operator=(const TXServer&) = delete;
    std::string Display;

private:
    pid_t FPid = -1;
};

constexpr int ShowTimeoutMs = 20000;

double StartupMs(const std::string& Program) {
    TChild Child(Program, true);
    if (!Child.WaitForLine("Flushing", ShowTimeoutMs))
        throw std::runtime_error(Program + " showed no window within 20 s");
    return MsSince(Child.Started);
}

long BaselinePeak(const std::string& Program) {
    TChild Child(Program, true);
    if (!Child.WaitForLine("Flushing", ShowTimeoutMs))
        throw std::runtime_error(Program + " showed no window within 20 s");
    usleep(1000 * 1000);
    Child.Drain();
    return Child.PeakKiB();
}

struct TPeaks {
    long Shown = -1; // once the window is up, before Scan
    long Scanned = -1;
};

TPeaks LanfinderPeaks(const std::string& Program) {
    TPeaks Peaks;
    TChild Child(Program, true);
    if (!Child.WaitForLine("Flushing", ShowTimeoutMs))
        throw std::runtime_error(Program + " showed no window within 20 s");
    usleep(1000 * 1000);
    Child.Drain();
    Peaks.Shown = Child.PeakKiB();
    // The middle of Scan, in the window's own coordinates.
    if (std::system("xdotool search --sync --name '^Quillory 5 Server Scan$' "
                    "mousemove --window %1 592 22 click 1 >/dev/null") != 0)
        throw std::runtime_error("xdotool could not press Scan");
    // The pipe keeps being read so the program never blocks on its log lines.
    const auto Started = TClock::now();
    for (;;) {
        Child.WaitForLine("\x01", 500); // no such line: just reads for half a second
        if (std::system("xdotool search --name '^Information$' >/dev/null 2>&1") == 0)
            break;
        if (MsSince(Started) > 60000)
            throw std::runtime_error("the scan did not complete within 60 s");
    }
    Peaks.Scanned = Child.PeakKiB();
    std::printf("    scan completed after %.1f s\n", MsSince(Started) / 1000);
    return Peaks;
}

} // namespace

int main(int argc, char* argv[]) {
    TBenchOptions o;
    try {
        o = ParseOptions(argc, argv);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "bench_startup: %s\n", E.what());
        return 2;
    }
    const labsender::TLabCheck Lab = labsender::CheckLab();
    if (!Lab.Inside) {
        std::fprintf(stderr, "bench_startup: refusing to scan outside the network lab: %s\n",
                     Lab.Problem.c_str());
        return 77;
    }
    signal(SIGPIPE, SIG_IGN);

    char StateTemplate[] = "/tmp/bench_startup.XXXXXX";
    if (!mkdtemp(StateTemplate)) {
        std::fprintf(stderr, "bench_startup: no temporary folder: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string State = StateTemplate;
    std::filesystem::create_directory(State + "/runtime");
    std::filesystem::permissions(State + "/runtime", std::filesystem::perms::owner_all);
    // The scan's log goes to the temporary folder, not the user's.
    setenv("XDG_STATE_HOME", State.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (State + "/runtime").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    unsetenv("QT_LOGGING_RULES");

    int Result = 0;
    try {
        TXServer X;
        setenv("DISPLAY", X.Display.c_str(), 1);
        std::printf("X server %s; %d start-ups and %d peak-memory runs of each program\n",
                    X.Display.c_str(), o.Runs, o.Scans);

        // One of each first, unmeasured, so that neither gets the cold caches.
        StartupMs(o.Baseline);
        StartupMs(o.Lanfinder);
        std::vector<double> Ours, Base;
        std::printf("%5s %14s %14s\n", "run", "lanfinder ms", "baseline ms");
        for (int Run = 0; Run < o.Runs; ++Run) {
            double L, B;
            if (Run % 2) {
                L = StartupMs(o.Lanfinder);
                B = StartupMs(o.Baseline);
            } else {
                B = StartupMs(o.Baseline);
                L = StartupMs(o.Lanfinder);
            }
            Ours.push_back(L);
            Base.push_back(B);
            std::printf("%5d %14.1f %14.1f\n", Run + 1, L, B);
            std::fflush(stdout);
        }

        std::vector<double> OursKiB, BaseKiB;
        for (int Scan = 0; Scan < o.Scans; ++Scan) {
            const long B = BaselinePeak(o.Baseline);
            const TPeaks Peaks = LanfinderPeaks(o.Lanfinder);
            const long L = Peaks.Scanned;
            if (B < 0 || L < 0 || Peaks.Shown < 0)
                throw std::runtime_error("VmHWM could not be read from /proc");
            std::printf("  memory run %d: lanfinder %ld KiB after a scan (%ld KiB before Scan), "
                        "baseline %ld KiB\n",
                        Scan + 1, L, Peaks.Shown, B);
            std::fflush(stdout);
            OursKiB.push_back(double(L));
            BaseKiB.push_back(double(B));
        }

        const double L = Median(Ours), B = Median(Base);
        const double LM = Median(OursKiB), BM = Median(BaseKiB);
        std::printf("start-up to first paint, median: lanfinder %.1f ms, baseline %.1f ms, "
                    "ratio %.2f\n",
                    L, B, L / B);
        std::printf("peak resident memory (VmHWM), median: lanfinder %.0f KiB after a scan, "
                    "baseline %.0f KiB, ratio %.2f\n",
                    LM, BM, LM / BM);
        const bool Goal = L / B <= 1.3 && LM / BM <= 1.3;
        std::printf("goal (at most 1.3 on both): %s\n", Goal ? "met" : "missed");
        std::printf("{\"startup_ms\":{\"lanfinder\":%.1f,\"baseline\":%.1f,\"ratio\":%.3f},"
                    "\"vmhwm_kib\":{\"lanfinder\":%.0f,\"baseline\":%.0f,\"ratio\":%.3f},"
                    "\"runs\":%d,\"scans\":%d,\"goal_met\":%s}\n",
                    L, B, L / B, LM, BM, LM / BM, o.Runs, o.Scans, Goal ? "true" : "false");
    } catch (const std::exception& E) {
        std::fprintf(stderr, "bench_startup: %s\n", E.what());
        Result = 1;
    }
    std::error_code Ignored;
    std::filesystem::remove_all(State, Ignored);
    return Result;
}

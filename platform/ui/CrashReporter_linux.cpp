#include "CrashReporterOS.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace CrashReporterOS {

namespace {

constexpr int FatalSignals[] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};
constexpr std::size_t PathSize = 4096;
constexpr std::size_t DetailsSize = 8192;
constexpr int MaxFrames = 64;

// Two copies, so that a signal during an update still finds one complete text.
struct TFatalText {
    char FileName[PathSize];
    char Folder[PathSize];
    char Details[DetailsSize];
    std::size_t DetailsLength;
};
TFatalText FatalText[2];
std::atomic<int> CurrentText{-1};
static_assert(std::atomic<int>::is_always_lock_free);

struct sigaction PreviousActions[std::size(FatalSignals)];
bool HandlersInstalled = false;
volatile std::sig_atomic_t InHandler = 0;
// A stack overflow leaves no room for the handler on the thread's own stack.
alignas(16) char AlternateStack[64 * 1024];

void WriteAll(int Fd, const char* Data, std::size_t Length) {
    while (Length > 0) {
        ssize_t Written = ::write(Fd, Data, Length);
        if (Written < 0 && errno == EINTR)
            continue;
        if (Written <= 0)
            return;
        Data += Written;
        Length -= static_cast<std::size_t>(Written);
    }
}

void WriteText(int Fd, const char* Text) {
    WriteAll(Fd, Text, std::strlen(Text));
}

void WriteNumber(int Fd, long Value) {
    char Digits[24];
    std::size_t Pos = sizeof Digits;
    bool Negative = Value < 0;
    unsigned long Rest =
        Negative ? 0UL - static_cast<unsigned long>(Value) : static_cast<unsigned long>(Value);
    do {
        Digits[--Pos] = static_cast<char>('0' + Rest % 10);
        Rest /= 10;
    } while (Rest != 0);
    if (Negative)
        Digits[--Pos] = '-';
    WriteAll(Fd, Digits + Pos, sizeof Digits - Pos);
}

const char* SignalName(int Signal) {
    switch (Signal) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGABRT:
        return "SIGABRT";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    default:
        return "signal";
    }
}

// mkdir -p on a copy of the path, with nothing but system calls.
void MakeFolders(const char* Folder) {
    static char Path[PathSize];
    std::size_t Length = std::strlen(Folder);
    if (Length == 0 || Length >= PathSize)
        return;
    std::memcpy(Path, Folder, Length + 1);
    for (std::size_t i = 1; i <= Length; ++i) {
        if (Path[i] == '/' || Path[i] == '\0') {
            char Saved = Path[i];
            Path[i] = '\0';
            ::mkdir(Path, 0755);
            Path[i] = Saved;
        }
    }
}

void FatalSignalHandler(int Signal) {
    if (InHandler == 0) {
        InHandler = 1;
        int Index = CurrentText.load();
        if (Index >= 0) {
            const TFatalText& Text = FatalText[Index];
            int Fd = ::open(Text.FileName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
            if (Fd < 0) {
                MakeFolders(Text.Folder);
                Fd = ::open(Text.FileName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
            }
            if (Fd >= 0) {
                char Time[32];
                std::size_t TimeLength = FormatUtcTime(std::time(nullptr), Time, sizeof Time);
                WriteText(Fd, "\n======== Fatal signal ========\n");
                WriteText(Fd, "Date/time         : ");
                WriteAll(Fd, Time, TimeLength);
                WriteText(Fd, "\nSignal            : ");
                WriteText(Fd, SignalName(Signal));
                WriteText(Fd, " (");
                WriteNumber(Fd, Signal);
                WriteText(Fd, ")\nProcess id        : ");
                WriteNumber(Fd, static_cast<long>(::getpid()));
                WriteText(Fd, "\n");
                WriteAll(Fd, Text.Details, Text.DetailsLength);
                WriteText(Fd, "Call stack        :\n");
                void* Frames[MaxFrames];
                int Count = ::backtrace(Frames, MaxFrames);
                ::backtrace_symbols_fd(Frames, Count, Fd);
                ::close(Fd);
                WriteText(STDERR_FILENO, "Fatal ");
                WriteText(STDERR_FILENO, SignalName(Signal));
                WriteText(STDERR_FILENO, "; report appended to ");
                WriteText(STDERR_FILENO, Text.FileName);
                WriteText(STDERR_FILENO, "\n");
            }
        }
    }
    // The default action ends the process the way it would have ended without us,
    // core dump and exit status included.
    struct sigaction Default {};
    Default.sa_handler = SIG_DFL;
    sigemptyset(&Default.sa_mask);
    ::sigaction(Signal, &Default, nullptr);
    sigset_t Unblock;
    sigemptyset(&Unblock);
    sigaddset(&Unblock, Signal);
    ::sigprocmask(SIG_UNBLOCK, &Unblock, nullptr);
    ::raise(Signal);
}

void CopyText(char* Target, std::size_t Size, const QByteArray& Source, std::size_t& Length) {
    Length = std::min(static_cast<std::size_t>(Source.size()), Size - 1);
    std::memcpy(Target, Source.constData(), Length);
    Target[Length] = '\0';
}

} // namespace

void SetFatalReport(const QByteArray& FileName, const QByteArray& Folder,
                    const QByteArray& Details) {
    int Next = CurrentText.load() == 0 ? 1 : 0;
    TFatalText& Text = FatalText[Next];
    std::size_t Ignored;
    CopyText(Text.FileName, PathSize, FileName, Ignored);
    CopyText(Text.Folder, PathSize, Folder, Ignored);
    CopyText(Text.Details, DetailsSize, Details, Text.DetailsLength);
    CurrentText.store(Next);
}

void InstallFatalSignalHandlers() {
    if (HandlersInstalled)
        return;
    // The first backtrace() loads libgcc, which allocates: never let that happen
    // inside the handler.
    void* Warmup[2];
    ::backtrace(Warmup, 2);

    stack_t Stack{};
    Stack.ss_sp = AlternateStack;
    Stack.ss_size = sizeof AlternateStack;
    ::sigaltstack(&Stack, nullptr);

    struct sigaction Action {};
    Action.sa_handler = FatalSignalHandler;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = SA_ONSTACK;
    for (std::size_t i = 0; i < std::size(FatalSignals); ++i)
        ::sigaction(FatalSignals[i], &Action, &PreviousActions[i]);
    HandlersInstalled = true;
}

void RemoveFatalSignalHandlers() {
    if (!HandlersInstalled)
        return;
    for (std::size_t i = 0; i < std::size(FatalSignals); ++i)
        ::sigaction(FatalSignals[i], &PreviousActions[i], nullptr);
    HandlersInstalled = false;
}

QStringList CallStack(int SkipFrames) {
    void* Frames[MaxFrames];
    int Count = ::backtrace(Frames, MaxFrames);
    std::unique_ptr<char*, decltype(&std::free)> Symbols(::backtrace_symbols(Frames, Count),
                                                         &std::free);
    QStringList Lines;
    if (!Symbols)
        return Lines;
    for (int i = SkipFrames + 1; i < Count; ++i) {
        // "module(mangled+0x12) [0x...]": the function's name is easier read demangled.
        QByteArray Line(Symbols.get()[i]);
        const qsizetype Open = Line.indexOf('(');
        const qsizetype Plus = Open < 0 ? -1 : Line.indexOf('+', Open);
        if (Plus > Open + 1) {
            const QByteArray Mangled = Line.mid(Open + 1, Plus - Open - 1);
            int Status = 0;
            std::unique_ptr<char, decltype(&std::free)> Name(
                abi::__cxa_demangle(Mangled.constData(), nullptr, nullptr, &Status), &std::free);
            if (Status == 0 && Name)
                Line.replace(Open + 1, Mangled.size(), Name.get());
        }
        Lines << QString::fromLocal8Bit(Line);
    }
    return Lines;
}

QString TypeName(const std::type_info& Type) {
    int Status = 0;
    std::unique_ptr<char, decltype(&std::free)> Name(
        abi::__cxa_demangle(Type.name(), nullptr, nullptr, &Status), &std::free);
    return QString::fromLatin1(Status == 0 && Name ? Name.get() : Type.name());
}

QString CurrentExceptionTypeName() {
    const std::type_info* Type = abi::__cxa_current_exception_type();
    return Type ? TypeName(*Type) : QStringLiteral("unknown");
}

std::size_t FormatUtcTime(std::time_t Seconds, char* Buffer, std::size_t Size) {
    constexpr std::size_t Length = 20;
    if (Size < Length)
        return 0;
    long long Days = Seconds / 86400;
    long long Rest = Seconds % 86400;
    if (Rest < 0) {
        Rest += 86400;
        --Days;
    }
    // Days since 1970-01-01 to a civil date (proleptic Gregorian), after
    // H. Hinnant's days_from_civil inverse.
    long long Z = Days + 719468;
    long long Era = (Z >= 0 ? Z : Z - 146096) / 146097;
    long long DayOfEra = Z - Era * 146097;
    long long YearOfEra = (DayOfEra - DayOfEra / 1460 + DayOfEra / 36524 - DayOfEra / 146096) / 365;
    long long Year = YearOfEra + Era * 400;
    long long DayOfYear = DayOfEra - (365 * YearOfEra + YearOfEra / 4 - YearOfEra / 100);
    long long MonthIndex = (5 * DayOfYear + 2) / 153;
    long long Day = DayOfYear - (153 * MonthIndex + 2) / 5 + 1;
    long long Month = MonthIndex < 10 ? MonthIndex + 3 : MonthIndex - 9;
    if (Month <= 2)
        ++Year;
    if (Year < 0 || Year > 9999)
        Year = 0;

    auto Put = [Buffer](std::size_t At, long long Value, int Digits) {
        for (int i = Digits - 1; i >= 0; --i) {
            Buffer[At + static_cast<std::size_t>(i)] = static_cast<char>('0' + Value % 10);
            Value /= 10;
        }
    };
    Put(0, Year, 4);
    Buffer[4] = '-';
    Put(5, Month, 2);
    Buffer[7] = '-';
    Put(8, Day, 2);
    Buffer[10] = 'T';
    Put(11, Rest / 3600, 2);
    Buffer[13] = ':';
    Put(14, Rest / 60 % 60, 2);
    Buffer[16] = ':';
    Put(17, Rest % 60, 2);
    Buffer[19] = 'Z';
    return Length;
}

} // namespace CrashReporterOS

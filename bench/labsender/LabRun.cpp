#include "LabRun.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace labsender {

std::string SenderPath() {
    char Self[4096] = {};
    const ssize_t Length = readlink("/proc/self/exe", Self, sizeof Self - 1);
    std::string Path = Length > 0 ? std::string(Self, static_cast<std::size_t>(Length)) : "";
    const std::size_t Slash = Path.rfind('/');
    return (Slash == std::string::npos ? std::string(".") : Path.substr(0, Slash)) + "/lab_sender";
}

TSenderProcess::~TSenderProcess() {
    if (FPid > 0) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
    }
    if (FOut >= 0)
        close(FOut);
}

void TSenderProcess::Start(const std::string& Program, const std::vector<std::string>& Args) {
    int Pipe[2];
    if (pipe2(Pipe, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
    std::vector<char*> Argv;
    Argv.push_back(const_cast<char*>(Program.c_str()));
    for (const std::string& a : Args)
        Argv.push_back(const_cast<char*>(a.c_str()));
    Argv.push_back(nullptr);
    const pid_t Pid = fork();
    if (Pid < 0)
        throw std::runtime_error(std::string("cannot fork: ") + std::strerror(errno));
    if (Pid == 0) {
        dup2(Pipe[1], STDOUT_FILENO);
        execve(Program.c_str(), Argv.data(), environ);
        _exit(127);
    }
    close(Pipe[1]);
    FPid = Pid;
    FOut = Pipe[0];
    fcntl(FOut, F_SETFL, O_NONBLOCK);
}

void TSenderProcess::ReadOutput() {
    char Buffer[4096];
    for (;;) {
        const ssize_t n = read(FOut, Buffer, sizeof Buffer);
        if (n <= 0)
            break;
        FOutput.append(Buffer, static_cast<std::size_t>(n));
    }
}

bool TSenderProcess::Finished() {
    if (FPid <= 0)
        return true;
    ReadOutput();
    int Status = 0;
    if (waitpid(FPid, &Status, WNOHANG) != FPid)
        return false;
    FPid = -1;
    ReadOutput();
    FStatus = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
    return true;
}

void TSenderProcess::Wait() {
    while (!Finished())
        usleep(2000);
}

double JsonField(const std::string& Json, const std::string& Name) {
    const std::string Key = "\"" + Name + "\":";
    const std::size_t At = Json.find(Key);
    if (At == std::string::npos)
        return -1;
    return std::strtod(Json.c_str() + At + Key.size(), nullptr);
}

TUdpCounters ReadUdpCounters() {
    // Two "Udp:" lines: the names, then the values.
    std::ifstream In("/proc/net/snmp");
    std::string Line, Names, Values;
    while (std::getline(In, Line)) {
        if (Line.rfind("Udp:", 0) != 0)
            continue;
        if (Names.empty())
            Names = Line;
        else {
            Values = Line;
            break;
        }
    }
    TUdpCounters c;
    std::istringstream n(Names), v(Values);
    std::string Name, Value;
    while (n >> Name && v >> Value) {
        if (Name == "InDatagrams")
            c.InDatagrams = std::stoull(Value);
        else if (Name == "RcvbufErrors")
            c.RcvbufErrors = std::stoull(Value);
        else if (Name == "InErrors")
            c.InErrors = std::stoull(Value);
    }
    return c;
}

double Median(std::vector<double> Values) {
    if (Values.empty())
        return 0;
    std::sort(Values.begin(), Values.end());
    const std::size_t Mid = Values.size() / 2;
    return Values.size() % 2 ? Values[Mid] : (Values[Mid - 1] + Values[Mid]) / 2;
}

long long WholeNumberOption(const std::string& Option, const std::string& Text, long long Min,
                            long long Max) {
    char* End = nullptr;
    errno = 0;
    const long long Value = std::strtoll(Text.c_str(), &End, 10);
    if (Text.empty() || *End != '\0' || errno == ERANGE || Value < Min || Value > Max)
        throw std::invalid_argument(Option + " wants a whole number from " + std::to_string(Min) +
                                    " to " + std::to_string(Max) + ", not '" + Text + "'");
    return Value;
}

double PositiveNumberOption(const std::string& Option, const std::string& Text) {
    char* End = nullptr;
    const double Value = std::strtod(Text.c_str(), &End);
    if (Text.empty() || *End != '\0' || !std::isfinite(Value) || Value <= 0)
        throw std::invalid_argument(Option + " wants a number above 0, not '" + Text + "'");
    return Value;
}

} // namespace labsender

// lab_sender: "aloha" traffic for the benchmarks and the flood test, sent to the
// lab's subnet broadcast address and nowhere else.
#include "LabGuard.h"
#include "LabSender.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace labsender;

namespace {

using TClock = std::chrono::steady_clock;

// The most datagrams one sendmmsg takes (UIO_MAXIOV).
constexpr std::size_t BatchLimit = 1024;

[[noreturn]] void Fail(const std::string& Message) {
    std::fprintf(stderr, "lab_sender: %s\n", Message.c_str());
    std::exit(1);
}

int OpenSocket(const std::string& Interface) {
    const int Socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (Socket < 0)
        Fail(std::string("cannot open a UDP socket: ") + std::strerror(errno));
    const int On = 1;
    if (setsockopt(Socket, SOL_SOCKET, SO_BROADCAST, &On, sizeof On) != 0)
        Fail(std::string("cannot allow broadcasts: ") + std::strerror(errno));
    // Pin the socket to the lab interface where the namespace lets us; the
    // destination check already keeps every datagram on it.
    (void)setsockopt(Socket, SOL_SOCKET, SO_BINDTODEVICE, Interface.c_str(),
                     static_cast<socklen_t>(Interface.size()));
    sockaddr_in To{};
    To.sin_family = AF_INET;
    To.sin_port = htons(DiscoveryPort);
    To.sin_addr.s_addr = htonl(ParseDotted(LabBroadcast));
    // Connected once: no route lookup per datagram, and no other destination.
    if (connect(Socket, reinterpret_cast<const sockaddr*>(&To), sizeof To) != 0)
        Fail(std::string("cannot aim at ") + LabBroadcast + ": " + std::strerror(errno));
    return Socket;
}

// Sends Datagrams[0, Count) in order, waiting out a full send queue. Returns
// only when all went out; any other refusal ends the program.
void SendAll(int Socket, const std::string* const* Datagrams, std::size_t Count) {
    static mmsghdr Headers[BatchLimit];
    static iovec Parts[BatchLimit];
    std::size_t Done = 0;
    while (Done < Count) {
        const std::size_t Batch = std::min(Count - Done, BatchLimit);
        for (std::size_t i = 0; i < Batch; ++i) {
            Parts[i].iov_base = const_cast<char*>(Datagrams[Done + i]->data());
            Parts[i].iov_len = Datagrams[Done + i]->size();
            Headers[i] = mmsghdr{};
            Headers[i].msg_hdr.msg_iov = &Parts[i];
            Headers[i].msg_hdr.msg_iovlen = 1;
        }
        const int Sent = sendmmsg(Socket, Headers, static_cast<unsigned>(Batch), 0);
        if (Sent < 0) {
            if (errno == EINTR)
                continue;
            if (errno == ENOBUFS || errno == EAGAIN) {
                std::this_thread::sleep_for(std::chrono::microseconds(50));
                continue;
            }
            Fail(std::string("sending failed: ") + std::strerror(errno));
        }
        Done += static_cast<std::size_t>(Sent);
    }
}

struct TSendState {
    int Socket;
    TReport Report;
};

void SendValid(TSendState& State, const TOptions& Options, TClock::time_point Start) {
    std::vector<std::string> Datagrams;
    Datagrams.reserve(Options.Names);
    for (int i = 0; i < Options.Names; ++i)
        Datagrams.push_back(FindServerResponse(i, Options.Names));
    std::vector<const std::string*> Order(BatchLimit);

    const long long Total =
        Options.Mode == TOptions::EMode::Burst
            ? Options.Count
            : static_cast<long long>(std::llround(Options.Rate * Options.Seconds));
    long long Sent = 0;
    long long Bytes = 0;
    int Next = 0;
    while (Sent < Total) {
        long long Due = Total;
        if (Options.Mode == TOptions::EMode::Rate) {
            const double Elapsed = std::chrono::duration<double>(TClock::now() - Start).count();
            Due = std::min(Total, static_cast<long long>(Options.Rate * Elapsed) + 1);
            if (Due <= Sent) {
                // Sleep until the next datagram is due, but not much less than
                // that: the kernel's timer slack is some 50 us.
                const double At = static_cast<double>(Sent) / Options.Rate;
                const auto Wake = Start + std::chrono::duration_cast<TClock::duration>(
                                              std::chrono::duration<double>(At));
                std::this_thread::sleep_until(Wake);
                continue;
            }
        }
        const auto Batch = static_cast<std::size_t>(
            std::min<long long>(Due - Sent, static_cast<long long>(BatchLimit)));
        for (std::size_t i = 0; i < Batch; ++i) {
            Order[i] = &Datagrams[Next];
            Bytes += static_cast<long long>(Datagrams[Next].size());
            Next = (Next + 1) % Options.Names;
        }
        SendAll(State.Socket, Order.data(), Batch);
        Sent += static_cast<long long>(Batch);
    }
    State.Report.Sent = Sent;
    State.Report.Bytes = Bytes;
    State.Report.Kinds["find_server_response"] = Sent;
}

void SendFlood(TSendState& State, const TOptions& Options, TClock::time_point Start) {
    TFloodGenerator Generator(Options.Seed, Options.Names, Options.RandomPool);
    std::vector<std::string> Buffers(BatchLimit);
    std::vector<const std::string*> Order(BatchLimit);
    std::array<long long, FloodKindCount> PerKind{};
    long long Sent = 0;
    long long Bytes = 0;
    // Smaller batches when paced, so the rate stays even.
    const std::size_t BatchSize = Options.Rate > 0 ? 64 : BatchLimit;
    while (Sent < Options.Count) {
        if (Options.Rate > 0) {
            const auto Wake = Start + std::chrono::duration_cast<TClock::duration>(
                                          std::chrono::duration<double>(Sent / Options.Rate));
            std::this_thread::sleep_until(Wake);
        }
        const auto Batch = static_cast<std::size_t>(
            std::min<long long>(Options.Count - Sent, static_cast<long long>(BatchSize)));
        for (std::size_t i = 0; i < Batch; ++i) {
            ++PerKind[static_cast<int>(Generator.Next(Buffers[i]))];
            Bytes += static_cast<long long>(Buffers[i].size());
            Order[i] = &Buffers[i];
        }
        SendAll(State.Socket, Order.data(), Batch);
        Sent += static_cast<long long>(Batch);
    }
    State.Report.Sent = Sent;
    State.Report.Bytes = Bytes;
    for (int k = 0; k < FloodKindCount; ++k)
        State.Report.Kinds[FloodKindName(static_cast<EFloodKind>(k))] = PerKind[k];
}

} // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> Args(argv + 1, argv + argc);
    if (!Args.empty() && (Args[0] == "--help" || Args[0] == "-h")) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    TOptions Options;
    try {
        Options = ParseOptions(Args);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "lab_sender: %s\n\n%s", e.what(), UsageText().c_str());
        return 2;
    }
    const TLabCheck Lab = CheckLab();
    if (!Lab.Inside)
        Fail("refusing to send: " + Lab.Problem);

    TSendState State{OpenSocket(Lab.Interface), {}};
    State.Report.Interface = Lab.Interface;
    State.Report.Names = Options.Names;
    State.Report.RequestedRate = Options.Rate;
    const auto Start = TClock::now();
    switch (Options.Mode) {
    case TOptions::EMode::Rate:
        State.Report.Mode = "rate";
        SendValid(State, Options, Start);
        break;
    case TOptions::EMode::Burst:
        State.Report.Mode = "burst";
        SendValid(State, Options, Start);
        break;
    case TOptions::EMode::Flood:
        State.Report.Mode = "flood";
        SendFlood(State, Options, Start);
        break;
    }
    State.Report.Seconds = std::chrono::duration<double>(TClock::now() - Start).count();
    close(State.Socket);
    std::printf("%s\n", FormatReport(State.Report).c_str());
    return 0;
}

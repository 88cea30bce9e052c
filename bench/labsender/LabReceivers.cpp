#include "LabReceivers.h"

#include "AlohaUDP.h"
#include "LabGuard.h"
#include "LabRun.h"
#include "UdpPort.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkDatagram>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace labsender {

namespace {

constexpr quint16 Port = 15350;
// The socket counts as drained once nothing has come for this long after the
// sender ended; a receiver that is still behind keeps resetting it.
constexpr int QuietMs = 300;
constexpr int GiveUpMs = 60000;

// SO_RCVBUF of this process's UDP socket on the discovery port, found by its
// address since the port stand-in keeps its socket to itself.
int FindPortSocketBuffer() {
    DIR* Dir = opendir("/proc/self/fd");
    if (Dir == nullptr)
        return 0;
    int Found = 0;
    while (const dirent* e = readdir(Dir)) {
        const int Fd = std::atoi(e->d_name);
        if (Fd <= 2 || Fd == dirfd(Dir))
            continue;
        sockaddr_in Address{};
        socklen_t Length = sizeof Address;
        int Type = 0;
        socklen_t TypeLength = sizeof Type;
        if (getsockname(Fd, reinterpret_cast<sockaddr*>(&Address), &Length) != 0 ||
            Address.sin_family != AF_INET || ntohs(Address.sin_port) != Port)
            continue;
        if (getsockopt(Fd, SOL_SOCKET, SO_TYPE, &Type, &TypeLength) != 0 || Type != SOCK_DGRAM)
            continue;
        int Size = 0;
        socklen_t SizeLength = sizeof Size;
        if (getsockopt(Fd, SOL_SOCKET, SO_RCVBUF, &Size, &SizeLength) == 0)
            Found = Size;
    }
    closedir(Dir);
    return Found;
}

// Several lab_sender processes started together with the same arguments: one
// sender alone can't outrun the bare loop.
class TSenders {
public:
    TSenders(const std::vector<std::string>& Args, int Count) {
        for (int i = 0; i < Count; ++i) {
            FProcesses.push_back(std::make_unique<TSenderProcess>());
            FProcesses.back()->Start(SenderPath(), Args);
        }
    }
    bool Finished() {
        bool All = true;
        for (auto& p : FProcesses)
            All = p->Finished() && All;
        return All;
    }
    // Sums the reports into Trial, or sets its error.
    void Report(TTrial& Trial) const {
        for (const auto& p : FProcesses) {
            if (p->ExitStatus() != 0) {
                Trial.Error = "lab_sender ended with status " + std::to_string(p->ExitStatus());
                return;
            }
            const double Sent = JsonField(p->Report(), "sent");
            if (Sent < 0) {
                Trial.Error = "lab_sender printed no report: " + p->Report();
                return;
            }
            Trial.Sent += static_cast<long long>(Sent);
            Trial.AchievedRate += JsonField(p->Report(), "achieved_rate");
        }
    }

private:
    std::vector<std::unique_ptr<TSenderProcess>> FProcesses;
};

// Runs the Qt event loop while the receiver takes datagrams in, until the
// sender has ended and the count has stood still for QuietMs.
void RunUntilQuiet(TSenders& Sender, const long long& Count) {
    QEventLoop Loop;
    QTimer Poll;
    QElapsedTimer SinceChange, Total;
    long long Last = -1;
    bool SenderDone = false;
    Total.start();
    SinceChange.start();
    QObject::connect(&Poll, &QTimer::timeout, &Loop, [&] {
        if (Count != Last) {
            Last = Count;
            SinceChange.restart();
        }
        if (!SenderDone) {
            SenderDone = Sender.Finished();
            if (SenderDone)
                SinceChange.restart();
            return;
        }
        if (SinceChange.elapsed() >= QuietMs || Total.elapsed() >= GiveUpMs)
            Loop.quit();
    });
    Poll.start(5);
    Loop.exec();
}

void FinishTrial(TTrial& Trial, const TSenders& Sender, const TUdpCounters& Before) {
    const TUdpCounters After = ReadUdpCounters();
    Trial.RcvbufErrors = After.RcvbufErrors - Before.RcvbufErrors;
    Sender.Report(Trial);
}

TTrial RunEndpoint(const std::vector<std::string>& SenderArgs, int Senders) {
    TTrial Trial;
    long long Count = 0;
    QSet<QString> Names;
    auto Endpoint = std::make_unique<TAlohaUDP>(false);
    Endpoint->SetOnFindServerResponseReceived(
        [&](TAlohaUDP*, const QString& ServerName, const QString&, qint32) {
            ++Count;
            Names.insert(ServerName);
        });
    Endpoint->SetActivityLogEnabled(true);
    const TUdpCounters Before = ReadUdpCounters();
    if (!Endpoint->StartCommunication()) {
        Trial.Error = "the endpoint could not start communicating";
        return Trial;
    }
    Endpoint->SendFindServerMessage();
    Trial.ReceiveBuffer = FindPortSocketBuffer();
    TSenders Sender(SenderArgs, Senders);
    RunUntilQuiet(Sender, Count);
    Endpoint->StopCommunication();
    FinishTrial(Trial, Sender, Before);
    Trial.Received = Count;
    Trial.DistinctNames = Names.size();
    return Trial;
}

TTrial RunPort(const std::vector<std::string>& SenderArgs, int Senders) {
    TTrial Trial;
    long long Count = 0;
    TUdpPort UdpPort;
    UdpPort.Config("ShareLocalPort=True");
    UdpPort.SetLocalPort(Port);
    UdpPort.SetRemotePort(Port);
    UdpPort.SetOnDataIn([&](TUdpPort*, const QString&, const QString&, int) { ++Count; });
    const TUdpCounters Before = ReadUdpCounters();
    UdpPort.SetActive(true);
    Trial.ReceiveBuffer = FindPortSocketBuffer();
    TSenders Sender(SenderArgs, Senders);
    RunUntilQuiet(Sender, Count);
    UdpPort.SetActive(false);
    FinishTrial(Trial, Sender, Before);
    Trial.Received = Count;
    return Trial;
}

TTrial RunQt(const std::vector<std::string>& SenderArgs, int ReceiveBuffer, int Senders) {
    TTrial Trial;
    long long Count = 0;
    QUdpSocket Socket;
    const TUdpCounters Before = ReadUdpCounters();
    if (!Socket.bind(QHostAddress::AnyIPv4, Port,
                     QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        Trial.Error = "cannot bind: " + Socket.errorString().toStdString();
        return Trial;
    }
    if (ReceiveBuffer > 0)
        Socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                               QVariant(ReceiveBuffer));
    Trial.ReceiveBuffer = FindPortSocketBuffer();
    QObject::connect(&Socket, &QUdpSocket::readyRead, &Socket, [&] {
        while (Socket.hasPendingDatagrams()) {
            Socket.receiveDatagram();
            ++Count;
        }
    });
    TSenders Sender(SenderArgs, Senders);
    RunUntilQuiet(Sender, Count);
    Socket.close();
    FinishTrial(Trial, Sender, Before);
    Trial.Received = Count;
    return Trial;
}

TTrial RunBare(const std::vector<std::string>& SenderArgs, int ReceiveBuffer, int Senders) {
    TTrial Trial;
    const int Socket = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (Socket < 0) {
        Trial.Error = std::string("socket: ") + std::strerror(errno);
        return Trial;
    }
    const int On = 1;
    setsockopt(Socket, SOL_SOCKET, SO_REUSEADDR, &On, sizeof On);
    setsockopt(Socket, SOL_SOCKET, SO_BROADCAST, &On, sizeof On);
    if (ReceiveBuffer > 0)
        setsockopt(Socket, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons(Port);
    Address.sin_addr.s_addr = htonl(INADDR_ANY);
    const TUdpCounters Before = ReadUdpCounters();
    if (bind(Socket, reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0) {
        Trial.Error = std::string("bind: ") + std::strerror(errno);
        close(Socket);
        return Trial;
    }
    Trial.ReceiveBuffer = FindPortSocketBuffer();
    const int Poll = epoll_create1(EPOLL_CLOEXEC);
    epoll_event Interest{};
    Interest.events = EPOLLIN;
    epoll_ctl(Poll, EPOLL_CTL_ADD, Socket, &Interest);

    constexpr int Batch = 256;
    static char Buffers[Batch][2048];
    static iovec Parts[Batch];
    static mmsghdr Headers[Batch];
    for (int i = 0; i < Batch; ++i) {
        Parts[i] = {Buffers[i], sizeof Buffers[i]};
        Headers[i] = mmsghdr{};
        Headers[i].msg_hdr.msg_iov = &Parts[i];
        Headers[i].msg_hdr.msg_iovlen = 1;
    }
    TSenders Sender(SenderArgs, Senders);
    long long Count = 0;
    bool SenderDone = false;
    QElapsedTimer SinceData, Total;
    Total.start();
    SinceData.start();
    for (;;) {
        epoll_event Ready{};
        const int n = epoll_wait(Poll, &Ready, 1, 5);
        if (n > 0) {
            for (;;) {
                const int Got = recvmmsg(Socket, Headers, Batch, MSG_DONTWAIT, nullptr);
                if (Got <= 0)
                    break;
                Count += Got;
            }
            SinceData.restart();
        }
        if (!SenderDone) {
            SenderDone = Sender.Finished();
            if (SenderDone)
                SinceData.restart();
        } else if (SinceData.elapsed() >= QuietMs || Total.elapsed() >= GiveUpMs) {
            break;
        }
    }
    close(Poll);
    close(Socket);
    FinishTrial(Trial, Sender, Before);
    Trial.Received = Count;
    return Trial;
}

} // namespace

const char* ReceiverName(EReceiver Kind) {
    switch (Kind) {
    case EReceiver::Endpoint:
        return "endpoint";
    case EReceiver::Port:
        return "port";
    case EReceiver::Qt:
        return "qt";
    case EReceiver::QtDefault:
        return "qt-default";
    case EReceiver::Bare:
        return "bare";
    }
    return "?";
}

EReceiver ReceiverFromName(const std::string& Name) {
    for (EReceiver k : {EReceiver::Endpoint, EReceiver::Port, EReceiver::Qt, EReceiver::QtDefault,
                        EReceiver::Bare}) {
        if (Name == ReceiverName(k))
            return k;
    }
    throw std::invalid_argument("unknown receiver '" + Name +
                                "' (endpoint, port, qt, qt-default, bare)");
}

TTrial RunTrial(EReceiver Kind, const std::vector<std::string>& SenderArgs, int BareReceiveBuffer,
                int Senders) {
    try {
        switch (Kind) {
        case EReceiver::Endpoint:
            return RunEndpoint(SenderArgs, Senders);
        case EReceiver::Port:
            return RunPort(SenderArgs, Senders);
        case EReceiver::Qt:
            return RunQt(SenderArgs, BareReceiveBuffer, Senders);
        case EReceiver::QtDefault:
            return RunQt(SenderArgs, 0, Senders);
        case EReceiver::Bare:
            return RunBare(SenderArgs, BareReceiveBuffer, Senders);
        }
    } catch (const std::exception& e) {
        TTrial Trial;
        Trial.Error = e.what();
        return Trial;
    }
    return {};
}

int EndpointReceiveBuffer() {
    TAlohaUDP Endpoint(false);
    if (!Endpoint.StartCommunication())
        return 0;
    const int Size = FindPortSocketBuffer();
    Endpoint.StopCommunication();
    return Size;
}

int EnterLabWithTemporaryLogs(const char* Program, const QTemporaryDir& LogHome) {
    const TLabCheck Lab = CheckLab();
    if (!Lab.Inside) {
        std::fprintf(stderr, "%s: refusing to run: %s\n", Program, Lab.Problem.c_str());
        return 77;
    }
    if (!LogHome.isValid()) {
        std::fprintf(stderr, "%s: cannot make a folder for the endpoint's logs: %s\n", Program,
                     qPrintable(LogHome.errorString()));
        return 1;
    }
    qputenv("XDG_STATE_HOME", QFile::encodeName(LogHome.path()));
    return 0;
}

} // namespace labsender

#pragma once
// The receivers the lab benchmarks compare, each fed by one lab_sender run:
// from the scanning endpoint itself down to a bare recvmmsg loop, the limit.

#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <string>
#include <vector>

namespace labsender {

// What a networked benchmark does first: refuse to run outside the lab (exit 77)
// and point the endpoint's logs at LogHome, keeping the millions of lines a run
// writes out of the user's own log folder. 0 when the benchmark may go on,
// otherwise the exit status, with one line on stderr.
int EnterLabWithTemporaryLogs(const char* Program, const QTemporaryDir& LogHome);

enum class EReceiver {
    Endpoint,  // a scanning TAlohaUDP whose handler lists each name once, as the window does
    Port,      // the UDP port stand-in alone, counting data-arrived events
    Qt,        // QUdpSocket with the same receive buffer, drained on every readyRead
    QtDefault, // QUdpSocket with Qt's default settings, drained on every readyRead
    Bare,      // epoll and recvmmsg on a socket bound like the port's, the limit
};
const char* ReceiverName(EReceiver Kind);
// Throws std::invalid_argument for a name that is none of the above.
EReceiver ReceiverFromName(const std::string& Name);

struct TTrial {
    long long Sent = 0;
    double AchievedRate = 0; // as the sender measured it
    long long Received = 0;  // events, or datagrams for the bare loops
    long long DistinctNames = -1;
    std::uint64_t RcvbufErrors = 0;
    int ReceiveBuffer = 0; // SO_RCVBUF of the receiving socket, as the kernel reports it
    std::string Error;     // the trial could not be run
    long long Lost() const { return Sent - Received; }
};

// One trial: opens the receiver, runs Senders lab_sender processes at once with
// SenderArgs, and waits until they have ended and the socket has been quiet for
// a while. Sent and AchievedRate are their sums. The
// bare loop asks for BareReceiveBuffer bytes (what the kernel reports for the
// port, halved, since the kernel doubles what it is asked for). Needs a
// QCoreApplication for every receiver but the bare one.
TTrial RunTrial(EReceiver Kind, const std::vector<std::string>& SenderArgs, int BareReceiveBuffer,
                int Senders = 1);

// SO_RCVBUF of the endpoint's socket once it communicates; 0 if none is found.
int EndpointReceiveBuffer();

} // namespace labsender

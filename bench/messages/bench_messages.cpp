// What reception costs per datagram before any event is raised, and what
// building a find request costs. Reception should stay well under the ~1 us of
// the system call that brings a datagram in.
#include "AlohaMessages.h"
#include "AnsiCodePage.h"

#include <benchmark/benchmark.h>

namespace {

const QString App = QStringLiteral("quillory");

// A find response as a server sends it: a host name, a private address, the default port.
QByteArray FindServerResponse() {
    return AnsiEncode(BuildFindServerResponseMessage(App, "QSRV-01", "10.1.1.20", 15350));
}

void DecodeFindServerResponse(benchmark::State& State) {
    const QByteArray Datagram = FindServerResponse();
    for (auto _ : State) {
        std::optional<TAlohaMessage> Message = DecodeMessage(AnsiDecode(Datagram), App);
        benchmark::DoNotOptimize(Message);
    }
    State.SetBytesProcessed(State.iterations() * Datagram.size());
    State.counters["datagram_bytes"] = static_cast<double>(Datagram.size());
}
BENCHMARK(DecodeFindServerResponse);

// The same datagram through the line list the endpoint's handlers work on.
void DecodeFindServerResponseByLines(benchmark::State& State) {
    const QByteArray Datagram = FindServerResponse();
    for (auto _ : State) {
        const QStringList Lines = SplitMessageLines(AnsiDecode(Datagram));
        std::optional<TAlohaMessageKind> Kind = ClassifyMessage(Lines, App);
        QString Name = ReadField(Lines, u"server_name");
        QString Address = ReadField(Lines, u"server_ip_address");
        qint32 Port = ReadPortField(Lines);
        benchmark::DoNotOptimize(Kind);
        benchmark::DoNotOptimize(Name);
        benchmark::DoNotOptimize(Address);
        benchmark::DoNotOptimize(Port);
    }
}
BENCHMARK(DecodeFindServerResponseByLines);

// A datagram of another application: dropped, and should cost little.
void DropForeignDatagram(benchmark::State& State) {
    const QByteArray Datagram =
        AnsiEncode(BuildFindServerResponseMessage("other", "QSRV-01", "10.1.1.20", 15350));
    for (auto _ : State) {
        std::optional<TAlohaMessage> Message = DecodeMessage(AnsiDecode(Datagram), App);
        benchmark::DoNotOptimize(Message);
    }
}
BENCHMARK(DropForeignDatagram);

void BuildFindServerText(benchmark::State& State) {
    const QString Address = QStringLiteral("192.168.1.20");
    for (auto _ : State) {
        QString Text = BuildFindServerMessage(App, Address);
        benchmark::DoNotOptimize(Text);
    }
}
BENCHMARK(BuildFindServerText);

void BuildFindServerBytes(benchmark::State& State) {
    const QString Address = QStringLiteral("192.168.1.20");
    for (auto _ : State) {
        QByteArray Bytes = AnsiEncode(BuildFindServerMessage(App, Address));
        benchmark::DoNotOptimize(Bytes);
    }
}
BENCHMARK(BuildFindServerBytes);

} // namespace

BENCHMARK_MAIN();

#pragma once
// The lab's traffic source: what lab_sender sends and the checks that keep it
// inside the lab. Plain C++ over plain values, so the rules can be tested
// without opening a socket.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace labsender {

// The one destination the lab tools ever send to: the lab's subnet broadcast.
constexpr const char* LabAddress = "198.18.0.1";
constexpr const char* LabBroadcast = "198.18.0.255";
constexpr const char* LabMask = "255.255.255.0";
constexpr std::uint16_t DiscoveryPort = 15350;
// The largest payload of an IPv4 UDP datagram.
constexpr std::size_t MaxDatagram = 65507;

struct TOptions {
    enum class EMode { Rate, Burst, Flood };
    EMode Mode = EMode::Rate;
    double Rate = 0;     // datagrams per second; 0 = as fast as the link takes them
    double Seconds = 0;  // Rate mode only
    long long Count = 0; // Burst: K; Flood: N
    int Names = 1000;    // distinct server names of the valid responses
    int RandomPool = 1000;
    std::uint64_t Seed = 1;
};

// Reads the command line (without the program name). Throws std::invalid_argument
// with a message fit for the user on anything it can't use.
TOptions ParseOptions(const std::vector<std::string>& Args);
std::string UsageText();

// Valid responses: name i of Names is "SRV-" and i zero-padded to the width of
// Names-1 (at least 4 digits), so every response of one run has the same size.
std::string ServerName(int Index, int Names);
std::string ServerAddress(int Index);
std::string FindServerResponse(int Index, int Names);

// A local IPv4 address as getifaddrs reports it, in host byte order.
struct TInterfaceAddress {
    std::string Name;
    std::uint32_t Address = 0;
    std::uint32_t Mask = 0;
    std::optional<std::uint32_t> Broadcast;
};

// The interface that holds the lab address with the lab's mask and broadcast
// address, or nothing: then this is not the lab and nothing may be sent.
std::optional<std::string> FindLabInterface(const std::vector<TInterfaceAddress>& Addresses);
std::uint32_t ParseDotted(const std::string& Text); // 0 for anything that isn't one

// What a flood is made of. Every kind is counted in the report.
enum class EFloodKind {
    ValidResponse,
    RandomBytes,
    NulText,
    Oversized,
    FindServer,
    FindServerResponse,
    ServerAnnounce,
    ServerHello,
    ServerGoodbye,
};
constexpr int FloodKindCount = 9;
const char* FloodKindName(EFloodKind Kind);

// Deterministic for a seed. The valid responses go round the Names names in
// order, so each name recurs every Names valid responses whatever else is mixed
// in. Random field values come from a pool of RandomPool values per field (0:
// always fresh), which bounds how many distinct junk servers a receiver sees.
class TFloodGenerator {
public:
    TFloodGenerator(std::uint64_t Seed, int Names, int RandomPool);
    EFloodKind Next(std::string& Datagram);

private:
    std::string RandomText(std::size_t MaxLength);
    std::string FieldValue(int Field);
    std::string Header(const char* Kind);
    std::string RandomMessage(EFloodKind Kind);

    std::mt19937_64 FRandom;
    int FNames;
    int FRandomPool;
    int FNextName = 0;
    std::vector<std::vector<std::string>> FPools;
};

// One JSON line: what was sent, per kind.
struct TReport {
    std::string Mode;
    std::string Interface;
    long long Sent = 0;
    long long Bytes = 0;
    double Seconds = 0;
    double RequestedRate = 0;
    int Names = 0;
    std::map<std::string, long long> Kinds;
};
std::string FormatReport(const TReport& Report);

} // namespace labsender

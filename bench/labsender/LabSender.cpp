#include "LabSender.h"

#include <arpa/inet.h>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace labsender {

namespace {

const std::string CrLf = "\r\n";

long long ParseCount(const std::string& Option, const std::string& Text, long long Min,
                     long long Max) {
    std::size_t Used = 0;
    long long Value = 0;
    try {
        Value = std::stoll(Text, &Used, 10);
    } catch (const std::exception&) {
        Used = 0;
    }
    if (Text.empty() || Used != Text.size() || Value < Min || Value > Max)
        throw std::invalid_argument(Option + " wants a whole number from " + std::to_string(Min) +
                                    " to " + std::to_string(Max) + ", not '" + Text + "'");
    return Value;
}

double ParsePositive(const std::string& Option, const std::string& Text, double Max) {
    std::size_t Used = 0;
    double Value = 0;
    try {
        Value = std::stod(Text, &Used);
    } catch (const std::exception&) {
        Used = 0;
    }
    if (Text.empty() || Used != Text.size() || !std::isfinite(Value) || Value <= 0 || Value > Max)
        throw std::invalid_argument(Option + " wants a number above 0 and up to " +
                                    std::to_string(static_cast<long long>(Max)) + ", not '" + Text +
                                    "'");
    return Value;
}

std::string Line(const std::string& Name, const std::string& Value) {
    return Name + "=" + Value + CrLf;
}

std::string JsonString(const std::string& Text) {
    std::string Out = "\"";
    for (unsigned char c : Text) {
        if (c == '"' || c == '\\') {
            Out += '\\';
            Out += static_cast<char>(c);
        } else if (c < 0x20) {
            char Buffer[8];
            std::snprintf(Buffer, sizeof Buffer, "\\u%04x", c);
            Out += Buffer;
        } else {
            Out += static_cast<char>(c);
        }
    }
    return Out + "\"";
}

std::string JsonNumber(double Value, int Decimals = 1) {
    char Buffer[64];
    std::snprintf(Buffer, sizeof Buffer, "%.*f", Decimals, Value);
    return Buffer;
}

// Share of each kind in a flood, in hundredths. The valid responses are the
// largest share so that every name keeps coming back; the oversized ones are
// few because each costs as much as four hundred of the others.
constexpr std::array<int, FloodKindCount> FloodWeights = {40, 8, 8, 1, 8, 9, 9, 9, 8};

enum EField { FServerName, FServerIP, FServerPort, FComputerName, FFromIP, FieldCount };

} // namespace

std::string UsageText() {
    return "Usage: lab_sender --rate N --seconds S [--names N]\n"
           "       lab_sender --burst K [--names N]\n"
           "       lab_sender --mix flood --count N [--rate N] [--names N] [--random-pool P]\n"
           "                  [--seed S]\n"
           "\n"
           "Sends \"aloha\" datagrams to 198.18.0.255:15350, and only inside the network lab\n"
           "(an interface holding 198.18.0.1/24); anywhere else it refuses to start.\n"
           "Valid find_server_response datagrams go round --names distinct servers\n"
           "(default 1000). --rate paces the sending; --burst sends K back to back;\n"
           "--mix flood mixes valid responses with junk of every kind. Prints what it sent\n"
           "as one JSON line.\n";
}

TOptions ParseOptions(const std::vector<std::string>& Args) {
    TOptions Options;
    bool HaveRate = false, HaveSeconds = false, HaveBurst = false, HaveFlood = false,
         HaveCount = false;
    for (std::size_t i = 0; i < Args.size(); ++i) {
        const std::string& Option = Args[i];
        auto Value = [&]() -> const std::string& {
            if (i + 1 >= Args.size())
                throw std::invalid_argument(Option + " needs a value");
            return Args[++i];
        };
        if (Option == "--rate") {
            Options.Rate = ParsePositive(Option, Value(), 1e8);
            HaveRate = true;
        } else if (Option == "--seconds") {
            Options.Seconds = ParsePositive(Option, Value(), 86400);
            HaveSeconds = true;
        } else if (Option == "--burst") {
            Options.Count = ParseCount(Option, Value(), 1, 100000000);
            HaveBurst = true;
        } else if (Option == "--count") {
            Options.Count = ParseCount(Option, Value(), 1, 1000000000);
            HaveCount = true;
        } else if (Option == "--names") {
            Options.Names = static_cast<int>(ParseCount(Option, Value(), 1, 1000000));
        } else if (Option == "--random-pool") {
            Options.RandomPool = static_cast<int>(ParseCount(Option, Value(), 0, 1000000));
        } else if (Option == "--seed") {
            Options.Seed =
                static_cast<std::uint64_t>(ParseCount(Option, Value(), 0, 9223372036854775807LL));
        } else if (Option == "--mix") {
            const std::string& Mix = Value();
            if (Mix != "flood")
                throw std::invalid_argument("--mix knows only 'flood', not '" + Mix + "'");
            HaveFlood = true;
        } else {
            throw std::invalid_argument("unknown option '" + Option + "'");
        }
    }
    if (HaveFlood) {
        if (HaveBurst || HaveSeconds)
            throw std::invalid_argument("--mix flood takes --count, not --burst or --seconds");
        if (!HaveCount)
            throw std::invalid_argument("--mix flood needs --count N");
        Options.Mode = TOptions::EMode::Flood;
    } else if (HaveBurst) {
        if (HaveRate || HaveSeconds || HaveCount)
            throw std::invalid_argument("--burst goes alone: no --rate, --seconds or --count");
        Options.Mode = TOptions::EMode::Burst;
    } else if (HaveRate || HaveSeconds) {
        if (!HaveRate || !HaveSeconds)
            throw std::invalid_argument("--rate and --seconds go together");
        if (HaveCount)
            throw std::invalid_argument("--count belongs to --mix flood");
        Options.Mode = TOptions::EMode::Rate;
    } else {
        throw std::invalid_argument("say what to send: --rate N --seconds S, --burst K or "
                                    "--mix flood --count N");
    }
    return Options;
}

std::string ServerName(int Index, int Names) {
    int Width = 4;
    for (int Top = Names - 1; Top >= 10000; Top /= 10)
        ++Width;
    char Buffer[32];
    std::snprintf(Buffer, sizeof Buffer, "SRV-%0*d", Width, Index);
    return Buffer;
}

std::string ServerAddress(int Index) {
    // Three digits in each varying octet keep every response of a run the same
    // size. The addresses repeat after 24,336 servers; only the names must differ.
    const int Host = 100 + Index % 156;
    const int Net = 100 + (Index / 156) % 156;
    return "198.18." + std::to_string(Net) + "." + std::to_string(Host);
}

std::string FindServerResponse(int Index, int Names) {
    return Line("protocol", "aloha") + Line("application", "quillory") +
           Line("message_type", "find_server_response") +
           Line("server_name", ServerName(Index, Names)) +
           Line("server_ip_address", ServerAddress(Index)) + Line("server_port", "15350");
}

std::uint32_t ParseDotted(const std::string& Text) {
    in_addr Address{};
    if (inet_pton(AF_INET, Text.c_str(), &Address) != 1)
        return 0;
    return ntohl(Address.s_addr);
}

std::optional<std::string> FindLabInterface(const std::vector<TInterfaceAddress>& Addresses) {
    const std::uint32_t Lab = ParseDotted(LabAddress);
    const std::uint32_t Mask = ParseDotted(LabMask);
    const std::uint32_t Broadcast = ParseDotted(LabBroadcast);
    for (const TInterfaceAddress& a : Addresses) {
        if (a.Address == Lab && a.Mask == Mask && a.Broadcast && *a.Broadcast == Broadcast)
            return a.Name;
    }
    return std::nullopt;
}

const char* FloodKindName(EFloodKind Kind) {
    switch (Kind) {
    case EFloodKind::ValidResponse:
        return "valid_response";
    case EFloodKind::RandomBytes:
        return "random_bytes";
    case EFloodKind::NulText:
        return "nul_text";
    case EFloodKind::Oversized:
        return "oversized";
    case EFloodKind::FindServer:
        return "random_find_server";
    case EFloodKind::FindServerResponse:
        return "random_find_server_response";
    case EFloodKind::ServerAnnounce:
        return "random_server_announce";
    case EFloodKind::ServerHello:
        return "random_server_hello";
    case EFloodKind::ServerGoodbye:
        return "random_server_goodbye";
    }
    return "unknown";
}

TFloodGenerator::TFloodGenerator(std::uint64_t Seed, int Names, int RandomPool)
    : FRandom(Seed), FNames(Names), FRandomPool(RandomPool) {
    FPools.resize(FieldCount);
}

std::string TFloodGenerator::RandomText(std::size_t MaxLength) {
    // Mostly printable, with the characters that break things: separators, line
    // breaks, markup, control characters and bytes above 127.
    static const std::string Nasty = "=\r\n<>&\"'\t\x01\x1b\x7f";
    const std::size_t Length = FRandom() % (MaxLength + 1);
    std::string Text;
    Text.reserve(Length);
    for (std::size_t i = 0; i < Length; ++i) {
        const unsigned Pick = FRandom() % 100;
        if (Pick < 80)
            Text += static_cast<char>(' ' + FRandom() % 95);
        else if (Pick < 92)
            Text += Nasty[FRandom() % Nasty.size()];
        else
            Text += static_cast<char>(0x80 + FRandom() % 128);
    }
    return Text;
}

std::string TFloodGenerator::FieldValue(int Field) {
    std::vector<std::string>& Pool = FPools[Field];
    if (FRandomPool > 0 && static_cast<int>(Pool.size()) >= FRandomPool)
        return Pool[FRandom() % Pool.size()];
    std::string Value;
    switch (Field) {
    case FServerPort: {
        static const char* const Odd[] = {"$3BF6",       "0x3bf6", " 42", "42 ", "abc", "",
                                          "99999999999", "-1",     "0",   "+7",  "$",   "0x"};
        if (FRandom() % 2)
            Value = std::to_string(static_cast<std::int32_t>(FRandom()));
        else
            Value = Odd[FRandom() % std::size(Odd)];
        break;
    }
    case FServerIP:
    case FFromIP:
        if (FRandom() % 3) {
            Value = std::to_string(FRandom() % 300) + "." + std::to_string(FRandom() % 256) + "." +
                    std::to_string(FRandom() % 256) + "." + std::to_string(FRandom() % 256);
        } else {
            Value = RandomText(20);
        }
        break;
    default:
        Value = RandomText(40);
        break;
    }
    if (FRandomPool > 0)
        Pool.push_back(Value);
    return Value;
}

std::string TFloodGenerator::Header(const char* Kind) {
    // Nine in ten carry a header this system accepts, so the fields behind it
    // reach the handlers; the rest are near misses the classifier must drop.
    switch (FRandom() % 20) {
    case 0:
        return Line("protocol", "Aloha") + Line("application", "quillory") +
               Line("message_type", Kind);
    case 1:
        return Line("application", "quillory") + Line("message_type", Kind);
    default:
        return Line(FRandom() % 4 ? "protocol" : "PROTOCOL", "aloha") +
               Line("application", "quillory") + Line("message_type", Kind);
    }
}

std::string TFloodGenerator::RandomMessage(EFloodKind Kind) {
    std::vector<std::pair<const char*, int>> Fields;
    const char* Type = "";
    switch (Kind) {
    case EFloodKind::FindServer:
        Type = "find_server";
        Fields = {{"computer_name", FComputerName}, {"from_ip_address", FFromIP}};
        break;
    case EFloodKind::FindServerResponse:
        Type = "find_server_response";
        Fields = {{"server_name", FServerName},
                  {"server_ip_address", FServerIP},
                  {"server_port", FServerPort}};
        break;
    case EFloodKind::ServerAnnounce:
        Type = "server_announce";
        Fields = {{"server_ip_address", FServerIP},
                  {"server_port", FServerPort},
                  {"server_name", FServerName}};
        break;
    case EFloodKind::ServerHello:
        Type = "server_hello";
        Fields = {{"server_name", FServerName}, {"server_ip_address", FServerIP}};
        break;
    default:
        Type = "server_goodbye";
        Fields = {{"server_name", FServerName}, {"server_ip_address", FServerIP}};
        break;
    }
    std::string Text = Header(Type);
    for (const auto& [Name, Field] : Fields) {
        if (FRandom() % 10 == 0)
            continue; // a missing field reads as empty text
        Text += Line(Name, FieldValue(Field));
    }
    return Text;
}

EFloodKind TFloodGenerator::Next(std::string& Datagram) {
    int Pick = static_cast<int>(FRandom() % 100);
    int Index = 0;
    while (Pick >= FloodWeights[Index]) {
        Pick -= FloodWeights[Index];
        ++Index;
    }
    const auto Kind = static_cast<EFloodKind>(Index);
    switch (Kind) {
    case EFloodKind::ValidResponse:
        Datagram = FindServerResponse(FNextName, FNames);
        FNextName = (FNextName + 1) % FNames;
        break;
    case EFloodKind::RandomBytes: {
        const std::size_t Length = 1 + FRandom() % 512;
        Datagram.resize(Length);
        for (char& c : Datagram)
            c = static_cast<char>(FRandom());
        break;
    }
    case EFloodKind::NulText: {
        Datagram = FindServerResponse(static_cast<int>(FRandom() % FNames), FNames);
        const int Nuls = 1 + static_cast<int>(FRandom() % 3);
        for (int i = 0; i < Nuls; ++i)
            Datagram.insert(FRandom() % (Datagram.size() + 1), 1, '\0');
        break;
    }
    case EFloodKind::Oversized:
        if (FRandom() % 2) {
            Datagram.resize(MaxDatagram);
            for (char& c : Datagram)
                c = static_cast<char>(FRandom());
        } else {
            // A well-formed response for a known name, carried in a huge datagram.
            Datagram = FindServerResponse(static_cast<int>(FRandom() % FNames), FNames);
            const std::string Padding = "padding=";
            Datagram += Padding;
            Datagram.append(MaxDatagram - Datagram.size() - CrLf.size(), 'x');
            Datagram += CrLf;
        }
        break;
    default:
        Datagram = RandomMessage(Kind);
        break;
    }
    return Kind;
}

std::string FormatReport(const TReport& Report) {
    std::string Out = "{\"mode\":" + JsonString(Report.Mode) +
                      ",\"interface\":" + JsonString(Report.Interface) + ",\"destination\":" +
                      JsonString(std::string(LabBroadcast) + ":" + std::to_string(DiscoveryPort)) +
                      ",\"sent\":" + std::to_string(Report.Sent) +
                      ",\"bytes\":" + std::to_string(Report.Bytes) +
                      ",\"seconds\":" + JsonNumber(Report.Seconds, 4);
    // The figure the benchmarks read: how fast the datagrams really went out.
    const double Achieved = Report.Seconds > 0 ? Report.Sent / Report.Seconds : 0;
    if (Report.RequestedRate > 0)
        Out += ",\"requested_rate\":" + JsonNumber(Report.RequestedRate);
    Out += ",\"achieved_rate\":" + JsonNumber(Achieved);
    Out += ",\"names\":" + std::to_string(Report.Names) + ",\"kinds\":{";
    bool First = true;
    for (const auto& [Kind, Count] : Report.Kinds) {
        Out += (First ? "" : ",") + JsonString(Kind) + ":" + std::to_string(Count);
        First = false;
    }
    return Out + "}}";
}

} // namespace labsender

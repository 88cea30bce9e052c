#include "Clock.h"

namespace {

std::unique_ptr<TClock>& Instance() {
    static std::unique_ptr<TClock> Clock;
    return Clock;
}

} // namespace

TLocalDateTime TClock::Now() {
    const auto& Clock = Instance();
    return Clock ? Clock->LocalNow() : SystemLocalNow();
}

void TClock::SetInstance(std::unique_ptr<TClock> Clock) {
    Instance() = std::move(Clock);
}

#pragma once
// Replaces the process-wide clock for the life of the object.

#include "Clock.h"

#include <memory>

class TFixedClock : public TClock {
public:
    TLocalDateTime Now;

protected:
    TLocalDateTime LocalNow() const override { return Now; }
};

class TClockOverride {
public:
    explicit TClockOverride(const TLocalDateTime& Now) {
        auto Clock = std::make_unique<TFixedClock>();
        FClock = Clock.get();
        TClock::SetInstance(std::move(Clock));
        Set(Now);
    }
    ~TClockOverride() { TClock::SetInstance(nullptr); }
    TClockOverride(const TClockOverride&) = delete;
    TClockOverride& operator=(const TClockOverride&) = delete;

    void Set(const TLocalDateTime& Now) { FClock->Now = Now; }

private:
    TFixedClock* FClock;
};

inline TLocalDateTime LocalTime(int Year, int Month, int Day, int Hour, int Minute, int Second) {
    return {QDate(Year, Month, Day), QTime(Hour, Minute, Second)};
}

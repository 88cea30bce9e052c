#pragma once
// The process-wide source of the local date and time. Time stamps and the daily
// log file both ask it, so replacing it moves both at once.

#include <QDate>
#include <QTime>
#include <memory>

// A wall-clock reading: the local calendar date and time of day, no zone.
struct TLocalDateTime {
    QDate Date;
    QTime Time;
    friend bool operator==(const TLocalDateTime&, const TLocalDateTime&) = default;
};

class TClock {
public:
    virtual ~TClock() = default;

    static TLocalDateTime Now();
    static QDate CurrentDate() { return Now().Date; }

    // Takes ownership; an empty pointer brings the system clock back. Not
    // thread-safe: swap it only while nothing else asks for the time.
    static void SetInstance(std::unique_ptr<TClock> Clock);

protected:
    virtual TLocalDateTime LocalNow() const { return SystemLocalNow(); }

private:
    static TLocalDateTime SystemLocalNow();
};

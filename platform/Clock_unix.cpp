#include "Clock.h"

#include <algorithm>
#include <atomic>
#include <ctime>

namespace {

// localtime_r reads the zone settings once; looking again on every call would
// cost a file-system query per log entry. Once a minute still follows a change
// of the machine's time zone.
void RefreshZoneNowAndThen(std::time_t Seconds) {
    static std::atomic<std::time_t> LastRefresh{0};
    const std::time_t Last = LastRefresh.load(std::memory_order_relaxed);
    if (Seconds - Last >= 60 || Seconds < Last) {
        LastRefresh.store(Seconds, std::memory_order_relaxed);
        ::tzset();
    }
}

} // namespace

TLocalDateTime TClock::SystemLocalNow() {
    timespec Now{};
    ::clock_gettime(CLOCK_REALTIME, &Now);
    RefreshZoneNowAndThen(Now.tv_sec);
    std::tm Local{};
    ::localtime_r(&Now.tv_sec, &Local);
    // A leap second (:60) counts as the last second of its minute.
    return {QDate(Local.tm_year + 1900, Local.tm_mon + 1, Local.tm_mday),
            QTime(Local.tm_hour, Local.tm_min, std::min(Local.tm_sec, 59),
                  static_cast<int>(Now.tv_nsec / 1000000))};
}

#include "DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace kelvorin {

namespace {

// Days from 1970-01-01 to the civil date (H. Hinnant, "chrono-Compatible
// Low-Level Date Algorithms", days_from_civil).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(y + (m <= 2));
    month = static_cast<int>(m);
    day = static_cast<int>(d);
}

const long long kEpochOffset = -DaysFromCivil(1899, 12, 30);  // 25569

}  // namespace

double ToDateTime(const CivilDateTime& c) {
    const long long days = DaysFromCivil(c.Year, static_cast<unsigned>(c.Month), static_cast<unsigned>(c.Day)) + kEpochOffset;
    const double milliseconds = ((c.Hour * 60.0 + c.Minute) * 60.0 + c.Second) * 1000.0 + c.Millisecond;
    return static_cast<double>(days) + milliseconds / 86400000.0;
}

CivilDateTime FromDateTime(double dateTime) {
    CivilDateTime c;
    double days = std::floor(dateTime);
    long long ms = std::llround((dateTime - days) * 86400000.0);
    if (ms >= 86400000) {
        ms -= 86400000;
        days += 1;
    }
    CivilFromDays(static_cast<long long>(days) - kEpochOffset, c.Year, c.Month, c.Day);
    c.Millisecond = static_cast<int>(ms % 1000);
    const long long seconds = ms / 1000;
    c.Second = static_cast<int>(seconds % 60);
    c.Minute = static_cast<int>(seconds / 60 % 60);
    c.Hour = static_cast<int>(seconds / 3600);
    return c;
}

double LocalNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    const auto sinceSecond = now - std::chrono::system_clock::from_time_t(t);
    CivilDateTime c;
    c.Year = local.tm_year + 1900;
    c.Month = local.tm_mon + 1;
    c.Day = local.tm_mday;
    c.Hour = local.tm_hour;
    c.Minute = local.tm_min;
    c.Second = local.tm_sec;
    c.Millisecond = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceSecond).count());
    if (c.Millisecond < 0 || c.Millisecond > 999) c.Millisecond = 0;
    return ToDateTime(c);
}

}  // namespace kelvorin

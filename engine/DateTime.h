// Date-time values as the program keeps them: days since 30 December 1899,
// the fraction being the time of day. Conversions to and from calendar dates
// (proleptic Gregorian) and times of day, for the clocks of the front ends.
#pragma once

namespace kelvorin {

struct CivilDateTime {
    int Year = 1899;
    int Month = 12;
    int Day = 30;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

double ToDateTime(const CivilDateTime& civil);
// The time of day is taken to the nearest millisecond and then split, so
// 1.5 s reads as 0 h 0 min 1 s and 500 ms.
CivilDateTime FromDateTime(double dateTime);

// The local date and time now.
double LocalNow();

}  // namespace kelvorin

// Times of day as the engine stores them: milliseconds since midnight, taken
// from and turned into the fraction of a date-time value. Internal to the
// data layer.
#ifndef KDX_DATA_TIME_OF_DAY_H_
#define KDX_DATA_TIME_OF_DAY_H_

#include <cmath>
#include <cstdint>

#include "util/date_time.h"

namespace data_internal {

// Milliseconds in a day, as the divisor and factor of a date-time's fraction.
inline constexpr double kMsPerDay = kMSecsPerDay;

// The milliseconds since midnight of a date-time value's time of day (the
// absolute value of its fraction), to the nearest millisecond with ties to
// even, and never past the last millisecond of the day.
inline uint32_t MillisecondsOfDay(double value) {
  constexpr double kLastMsOfDay = kMSecsPerDay - 1;
  const double ms = std::nearbyint(std::fabs(value - std::trunc(value)) * kMsPerDay);
  return static_cast<uint32_t>(ms > kLastMsOfDay ? kLastMsOfDay : ms);
}

}  // namespace data_internal

#endif  // KDX_DATA_TIME_OF_DAY_H_

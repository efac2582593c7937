#include "platform/clock.h"

#include <ctime>

#include "util/error.h"

Clock::~Clock() = default;

TDateTime SystemClock::Now() const {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  const time_t seconds = ts.tv_sec;
  tm local{};
  if (localtime_r(&seconds, &local) == nullptr) {
    throw Exception("Cannot read the local date and time");
  }
  const int msec = static_cast<int>(ts.tv_nsec / 1000000);
  // A leap second (tm_sec 60) is read as the last second of its minute.
  const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
  return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
         EncodeTime(local.tm_hour, local.tm_min, second, msec);
}

void FixedClock::Set(TDateTime now) {
  std::lock_guard<std::mutex> lock(mu_);
  now_ = now;
}

void FixedClock::SetStep(double days) {
  std::lock_guard<std::mutex> lock(mu_);
  step_ = days;
}

TDateTime FixedClock::Now() const {
  std::lock_guard<std::mutex> lock(mu_);
  const TDateTime now = now_;
  now_ += step_;
  return now;
}

const Clock& DefaultClock() {
  static const SystemClock clock;
  return clock;
}

// The local date and time, behind an interface so that tests can fix "now".
// Every part of the program that needs the current time asks a Clock.
#ifndef KDX_PLATFORM_CLOCK_H_
#define KDX_PLATFORM_CLOCK_H_

#include <mutex>

#include "util/date_time.h"

class Clock {
 public:
  virtual ~Clock();
  // The current local date and time, to the millisecond.
  virtual TDateTime Now() const = 0;
};

// The machine's clock in the local time zone.
class SystemClock : public Clock {
 public:
  TDateTime Now() const override;
};

// A clock that stands still at the time it was set to, or, with a step,
// moves on by that many days after each reading. Safe to share between threads.
class FixedClock : public Clock {
 public:
  explicit FixedClock(TDateTime now = 0) : now_(now) {}
  void Set(TDateTime now);
  // Days added after each call of Now(); 0 (the default) keeps it still.
  void SetStep(double days);
  TDateTime Now() const override;

 private:
  mutable std::mutex mu_;
  mutable TDateTime now_;
  double step_ = 0;
};

// A process-wide SystemClock.
const Clock& DefaultClock();

#endif  // KDX_PLATFORM_CLOCK_H_

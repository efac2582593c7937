// A timer of the message loop: when enabled, OnTimer is called from the loop
// every Interval milliseconds, counted from the moment it was enabled (or its
// interval changed). An interval of 0 fires at the next turn of the loop.
// Handlers run on the UI thread, never while another handler runs unless that
// handler processes pending messages.
#ifndef KDX_PLATFORM_UI_TIMER_H_
#define KDX_PLATFORM_UI_TIMER_H_

#include <cstdint>
#include <functional>
#include <string>

class TApplication;

class TTimer {
 public:
  // Registers with `application` for the timer's lifetime; created enabled
  // with an interval of 1000 ms.
  TTimer(TApplication& application, std::string name);
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  const std::string& Name() const { return name_; }
  // REQUIRES: interval_ms >= 0. Restarts the count when enabled.
  void SetInterval(int interval_ms);
  int Interval() const { return interval_ms_; }
  void SetEnabled(bool enabled);
  bool Enabled() const { return enabled_; }

  std::function<void()> OnTimer;

  // For the message loop: when the next tick is due (monotonic ms; only
  // meaningful while enabled), and the tick itself, which sets the next due
  // time before calling OnTimer.
  int64_t DueMs() const { return due_ms_; }
  void Tick();

 private:
  void Restart();

  TApplication& application_;
  std::string name_;
  int interval_ms_ = 1000;
  bool enabled_ = true;
  int64_t due_ms_ = 0;
};

#endif  // KDX_PLATFORM_UI_TIMER_H_

#include "platform/ui_timer.h"

#include "platform/ui_application.h"

TTimer::TTimer(TApplication& application, std::string name) : application_(application), name_(std::move(name)) {
  application_.AddTimer(this);
  Restart();
}

TTimer::~TTimer() { application_.RemoveTimer(this); }

void TTimer::SetInterval(int interval_ms) {
  interval_ms_ = interval_ms < 0 ? 0 : interval_ms;
  Restart();
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Restart();
}

void TTimer::Restart() { due_ms_ = application_.Events().NowMs() + interval_ms_; }

void TTimer::Tick() {
  Restart();
  if (OnTimer) OnTimer();
}

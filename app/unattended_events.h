// The events of a run started with --unattended: those of the real source,
// except that nobody is taken to be at the terminal, whatever standard input
// and standard error are. A message box then never waits for Enter and a
// stopped window closes at once, so that a run under a scheduler, `script`
// or a terminal multiplexer ends by itself.
#ifndef KDX_APP_UNATTENDED_EVENTS_H_
#define KDX_APP_UNATTENDED_EVENTS_H_

#include <cstdint>

#include "platform/ui_events.h"

class UnattendedEvents : public UiEventSource {
 public:
  // `inner` is not owned and outlives this source.
  explicit UnattendedEvents(UiEventSource& inner) : inner_(inner) {}

  int64_t NowMs() const override { return inner_.NowMs(); }
  // Close requests and time pass through; an Enter key is dropped.
  UiEvents Wait(int timeout_ms) override {
    UiEvents events = inner_.Wait(timeout_ms);
    events.enter = false;
    return events;
  }
  bool Interactive() const override { return false; }

 private:
  UiEventSource& inner_;
};

#endif  // KDX_APP_UNATTENDED_EVENTS_H_

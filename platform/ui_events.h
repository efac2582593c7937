// What the message loop waits for: close requests, the Enter key of an
// interactive terminal, and the passing of time. Behind an interface so that
// tests can script events and run a message loop on a clock of their own.
#ifndef KDX_PLATFORM_UI_EVENTS_H_
#define KDX_PLATFORM_UI_EVENTS_H_

#include <cstdint>
#include <memory>

#include "platform/ui_signals.h"

struct UiEvents {
  bool close_request = false;  // SIGINT, SIGTERM or SIGHUP arrived
  bool enter = false;          // the Enter key was pressed
};

class UiEventSource {
 public:
  virtual ~UiEventSource() = default;
  // Monotonic milliseconds (never goes back, not the wall clock).
  virtual int64_t NowMs() const = 0;
  // Waits at most `timeout_ms` (0: only looks; negative: until something
  // happens) and returns what arrived. Events are consumed by this call.
  virtual UiEvents Wait(int timeout_ms) = 0;
  // Whether someone can answer at the terminal: standard input and standard
  // error are both terminals and the program runs in the foreground. Only
  // then does a message box wait for Enter.
  virtual bool Interactive() const = 0;
};

// The real source: close-request signals, standard input of an interactive
// terminal, the steady clock. Keys are read only while the program is in the
// terminal's foreground; a run sent to the background goes on undisturbed.
// A run looks (Wait(0)) once per record: looks closer together than
// kLookIntervalMs report a close request at once but leave the terminal for
// the next look, so that a fast run does not spend its time in system calls.
class SystemEventSource : public UiEventSource {
 public:
  static constexpr int64_t kLookIntervalMs = 2;

  SystemEventSource();
  int64_t NowMs() const override;
  UiEvents Wait(int timeout_ms) override;
  bool Interactive() const override { return interactive_; }

 private:
  CloseRequestSignals signals_;
  bool interactive_ = false;
  bool input_open_ = false;
  int64_t last_look_ms_ = -1;  // NowMs of the last look at the terminal and the pipe
};

#endif  // KDX_PLATFORM_UI_EVENTS_H_

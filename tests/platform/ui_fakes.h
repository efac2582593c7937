// Test doubles for the UI: a display that records what it was asked to show,
// and an event source with a clock of its own and scripted events.
#ifndef KDX_TESTS_PLATFORM_UI_FAKES_H_
#define KDX_TESTS_PLATFORM_UI_FAKES_H_

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ui_events.h"
#include "platform/ui_terminal.h"

class RecordingDisplay : public Display {
 public:
  explicit RecordingDisplay(int min_interval_ms = 50) : min_interval_ms_(min_interval_ms) {}
  void Paint(const WindowView& view) override { paints.push_back(view); }
  void ShowMessageBox(const MessageBoxView& box) override { boxes.push_back(box); ++open_boxes; }
  void HideMessageBox() override { --open_boxes; ++hidden_boxes; }
  void Finish() override { ++finishes; }
  int MinPaintIntervalMs() const override { return min_interval_ms_; }
  bool IsTerminal() const override { return true; }

  std::vector<WindowView> paints;
  std::vector<MessageBoxView> boxes;
  int open_boxes = 0;
  int hidden_boxes = 0;
  int finishes = 0;

 private:
  int min_interval_ms_;
};

// Time passes only inside Wait (and Advance). Events are scripted at moments
// of that clock; a wait with nothing left to happen is a test failure (it
// would hang the real program), reported as an exception.
class ScriptedEvents : public UiEventSource {
 public:
  explicit ScriptedEvents(bool interactive = false) : interactive_(interactive) {}

  int64_t NowMs() const override { return now_; }
  bool Interactive() const override { return interactive_; }
  UiEvents Wait(int timeout_ms) override {
    ++waits;
    if (timeout_ms < 0 && script_.empty()) throw std::logic_error("waiting forever: nothing left to happen");
    int64_t until = timeout_ms < 0 ? INT64_MAX : now_ + timeout_ms;
    if (!script_.empty() && script_.begin()->first < until) until = std::max(now_, script_.begin()->first);
    now_ = until;
    UiEvents events;
    while (!script_.empty() && script_.begin()->first <= now_) {
      events.close_request |= script_.begin()->second.close_request;
      events.enter |= script_.begin()->second.enter;
      script_.erase(script_.begin());
    }
    return events;
  }

  void CloseRequestAt(int64_t ms) { script_.emplace(ms, UiEvents{true, false}); }
  void EnterAt(int64_t ms) { script_.emplace(ms, UiEvents{false, true}); }
  void Advance(int64_t ms) { now_ += ms; }
  void SetInteractive(bool on) { interactive_ = on; }

  int waits = 0;

 private:
  int64_t now_ = 1000;
  bool interactive_;
  std::multimap<int64_t, UiEvents> script_;
};

#endif  // KDX_TESTS_PLATFORM_UI_FAKES_H_

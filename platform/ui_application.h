// The application object: its title, the main form, the message loop,
// "process pending messages", the default error handler and the
// application-wide wait cursor. One thread; no queues.
//
// A turn of the message loop, in this order: take close requests (each closes
// the main form), pass the Enter key to the main form, fire the timers that
// are due (unless the application is terminating), paint when the window has
// changed (at most as often as the display allows). Between turns the loop
// sleeps until the next timer is due, a paint is due, or an event arrives.
//
// Every handler the application calls (timer ticks, keys, closes) runs inside
// the default error handler: an error escaping it is shown in a message box
// and the loop goes on.
#ifndef KDX_PLATFORM_UI_APPLICATION_H_
#define KDX_PLATFORM_UI_APPLICATION_H_

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui_events.h"
#include "platform/ui_terminal.h"

class TForm;
class TTimer;

// The text the default error handler shows for `message`: a "." is appended
// when the last character sorts after "." in the 8-bit character order (a
// message ending in a letter or digit gets a full stop; one ending in ".",
// "!" or ")" does not; an empty message stays empty).
std::string ErrorBoxText(const std::string& message);

class TApplication {
 public:
  // Neither is owned; both outlive the application.
  TApplication(Display& display, UiEventSource& events);
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  void SetTitle(const std::string& title) { title_ = title; }
  const std::string& Title() const { return title_; }

  // The first form created becomes the main form; closing it terminates.
  TForm* MainForm() const { return main_form_; }

  // Shows the main form and runs the message loop until Terminate.
  void Run();
  // One turn of the loop, waiting at most until the next thing is due.
  void HandleMessage();
  // Dispatches what is pending (close requests, keys, due timers, a paint)
  // and returns at once; never waits.
  void ProcessMessages();
  // Asks the loop to end; the current handler runs to its end first.
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }

  // Runs `handler` inside the default error handler.
  void Dispatch(const std::function<void()>& handler);
  // The default error handler, for use inside a catch block: shows the
  // exception being handled (ShowException).
  void HandleException();
  // A message box titled with the application title, the error mark and one
  // OK, whose text is ErrorBoxText(message).
  void ShowException(const std::string& message);
  // A message box with one OK. On an interactive terminal it waits for Enter,
  // unless the application is terminating (a close request ends the wait and
  // is remembered); while it waits, the window is shown without its hint,
  // which comes back once the box is gone. Elsewhere it is printed and
  // returns at once.
  void MessageBox(const std::string& text, const std::string& title, MessageIcon icon);

  void SetWaitCursor(bool on);
  bool WaitCursor() const { return wait_cursor_; }

  bool Interactive() const { return events_.Interactive(); }
  bool MessageBoxShowing() const { return box_depth_ > 0; }

  // The window changed; it is painted at the next paint point.
  void Invalidate() { dirty_ = true; }
  // Paints now if the window changed, whatever the display's rate.
  void PaintNow();
  // Leaves the terminal as found; the last picture stays on screen.
  void Finish();

  Display& GetDisplay() { return display_; }
  UiEventSource& Events() { return events_; }

 private:
  friend class TForm;
  friend class TTimer;
  void AddForm(TForm* form);
  void RemoveForm(TForm* form);
  void AddTimer(TTimer* timer);
  void RemoveTimer(TTimer* timer);

  void DispatchEvents(const UiEvents& events);
  void FireDueTimers();
  void PaintIfDue();
  int NextWaitMs() const;

  Display& display_;
  UiEventSource& events_;
  std::string title_;
  TForm* main_form_ = nullptr;
  std::vector<TTimer*> timers_;
  bool terminated_ = false;
  bool wait_cursor_ = false;
  bool dirty_ = true;
  int64_t last_paint_ms_ = 0;
  bool painted_once_ = false;
  int box_depth_ = 0;
};

#endif  // KDX_PLATFORM_UI_APPLICATION_H_

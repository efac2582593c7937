#include "platform/ui_application.h"

#include <algorithm>

#include "platform/ui_controls.h"
#include "platform/ui_timer.h"

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.')) {
    return message + ".";
  }
  return message;
}

TApplication::TApplication(Display& display, UiEventSource& events) : display_(display), events_(events) {}

TApplication::~TApplication() { Finish(); }

void TApplication::AddForm(TForm* form) {
  if (main_form_ == nullptr) main_form_ = form;
}

void TApplication::RemoveForm(TForm* form) {
  if (main_form_ == form) main_form_ = nullptr;
}

void TApplication::AddTimer(TTimer* timer) { timers_.push_back(timer); }

void TApplication::RemoveTimer(TTimer* timer) {
  timers_.erase(std::remove(timers_.begin(), timers_.end(), timer), timers_.end());
}

void TApplication::Run() {
  if (main_form_ != nullptr && !main_form_->Showing()) Dispatch([this] { main_form_->Show(); });
  while (!terminated_) HandleMessage();
  PaintNow();
}

void TApplication::HandleMessage() {
  const UiEvents events = events_.Wait(NextWaitMs());
  DispatchEvents(events);
  FireDueTimers();
  PaintIfDue();
}

void TApplication::ProcessMessages() {
  const UiEvents events = events_.Wait(0);
  DispatchEvents(events);
  FireDueTimers();
  PaintIfDue();
}

int TApplication::NextWaitMs() const {
  if (terminated_) return 0;
  const int64_t now = events_.NowMs();
  int64_t wait = -1;
  for (const TTimer* timer : timers_) {
    if (!timer->Enabled()) continue;
    const int64_t until = std::max<int64_t>(0, timer->DueMs() - now);
    if (wait < 0 || until < wait) wait = until;
  }
  if (dirty_ && main_form_ != nullptr && main_form_->Showing()) {
    const int64_t until = std::max<int64_t>(0, last_paint_ms_ + display_.MinPaintIntervalMs() - now);
    if (wait < 0 || until < wait) wait = until;
  }
  return static_cast<int>(std::min<int64_t>(wait, 1 << 30));
}

void TApplication::DispatchEvents(const UiEvents& events) {
  if (events.close_request) {
    if (main_form_ != nullptr) {
      Dispatch([this] { main_form_->Close(); });
    } else {
      Terminate();
    }
  }
  if (events.enter && main_form_ != nullptr && main_form_->OnEnterKey) {
    Dispatch([this] { main_form_->OnEnterKey(); });
  }
}

void TApplication::FireDueTimers() {
  if (terminated_) return;
  const int64_t now = events_.NowMs();
  // A handler may enable, disable or destroy timers: work on a copy and
  // check each one is still registered and due when its turn comes.
  const std::vector<TTimer*> timers = timers_;
  for (TTimer* timer : timers) {
    if (terminated_) return;
    if (std::find(timers_.begin(), timers_.end(), timer) == timers_.end()) continue;
    if (!timer->Enabled() || timer->DueMs() > now) continue;
    Dispatch([timer] { timer->Tick(); });
  }
}

void TApplication::PaintIfDue() {
  if (!dirty_) return;
  if (painted_once_ && events_.NowMs() - last_paint_ms_ < display_.MinPaintIntervalMs()) return;
  PaintNow();
}

void TApplication::PaintNow() {
  if (main_form_ == nullptr || !main_form_->Showing()) return;
  WindowView view = main_form_->View();
  view.busy = wait_cursor_;
  // A waiting box has the focus: what the window's hint asks for waits too.
  if (box_depth_ > 0) view.hint.clear();
  display_.Paint(view);
  dirty_ = false;
  painted_once_ = true;
  last_paint_ms_ = events_.NowMs();
}

void TApplication::Finish() {
  PaintNow();
  display_.Finish();
}

void TApplication::Dispatch(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    HandleException();
  }
}

void TApplication::HandleException() {
  std::exception_ptr error = std::current_exception();
  if (!error) return;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    ShowException(e.what());
  } catch (...) {
    ShowException("Unknown error");
  }
}

void TApplication::ShowException(const std::string& message) {
  MessageBox(ErrorBoxText(message), title_, MessageIcon::kError);
}

void TApplication::MessageBox(const std::string& text, const std::string& title, MessageIcon icon) {
  const bool waits = events_.Interactive() && !terminated_;
  if (waits) ++box_depth_;
  dirty_ = true;
  PaintNow();  // the box comes up over the window as it is now
  display_.ShowMessageBox(MessageBoxView{title, text, icon, waits});
  if (!waits) return;
  // A modal wait: only Enter (the OK) and close requests count; timers wait.
  while (events_.Interactive()) {
    const UiEvents events = events_.Wait(-1);
    if (events.close_request) {
      if (main_form_ != nullptr) {
        Dispatch([this] { main_form_->Close(); });
      } else {
        Terminate();
      }
      break;
    }
    if (events.enter) break;
  }
  --box_depth_;
  display_.HideMessageBox();
  Invalidate();  // the hint, held back while the box waited, shows again
}

void TApplication::SetWaitCursor(bool on) {
  if (wait_cursor_ == on) return;
  wait_cursor_ = on;
  Invalidate();
}

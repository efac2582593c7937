// The display of `--quiet` without a terminal: the message boxes only (a
// failed run's error, "Save file failed"), none of the caption lines. It
// wraps the display that would otherwise be used, and owns it.
#ifndef KDX_APP_MESSAGES_ONLY_DISPLAY_H_
#define KDX_APP_MESSAGES_ONLY_DISPLAY_H_

#include <memory>
#include <utility>

#include "platform/ui_terminal.h"

class MessagesOnlyDisplay : public Display {
 public:
  explicit MessagesOnlyDisplay(std::unique_ptr<Display> inner) : inner_(std::move(inner)) {}

  void Paint(const WindowView&) override {}
  void ShowMessageBox(const MessageBoxView& box) override { inner_->ShowMessageBox(box); }
  void HideMessageBox() override { inner_->HideMessageBox(); }
  void Finish() override { inner_->Finish(); }
  int MinPaintIntervalMs() const override { return inner_->MinPaintIntervalMs(); }
  bool IsTerminal() const override { return inner_->IsTerminal(); }

 private:
  std::unique_ptr<Display> inner_;
};

#endif  // KDX_APP_MESSAGES_ONLY_DISPLAY_H_

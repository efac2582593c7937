// The display of a run without a terminal, whose message boxes are lines of
// the program's own: each starts with the time and the site folder
// (StampedLine), so that the error of a night's run in a scheduler's mail or
// a service's journal says when and for which site it happened. Caption
// lines and a terminal's panel pass through unchanged. It wraps the display
// that would otherwise be used, and owns it.
#ifndef KDX_APP_STAMPED_DISPLAY_H_
#define KDX_APP_STAMPED_DISPLAY_H_

#include <memory>
#include <string>
#include <utility>

#include "app/run_report.h"
#include "platform/ui_terminal.h"

class StampedDisplay : public Display {
 public:
  StampedDisplay(std::unique_ptr<Display> inner, std::string site_folder)
      : inner_(std::move(inner)), site_folder_(std::move(site_folder)) {}

  void Paint(const WindowView& view) override { inner_->Paint(view); }
  // Without a terminal: "<time> <site folder> kdx-interface: Error: <text>"
  // for an error, the same without "Error: " for any other message.
  void ShowMessageBox(const MessageBoxView& box) override {
    if (inner_->IsTerminal()) {
      inner_->ShowMessageBox(box);
      return;
    }
    MessageBoxView stamped = box;
    stamped.text = StampedLine(site_folder_, (box.icon == MessageIcon::kError ? "Error: " : "") + box.text);
    stamped.icon = MessageIcon::kNone;
    inner_->ShowMessageBox(stamped);
  }
  void HideMessageBox() override { inner_->HideMessageBox(); }
  void Finish() override { inner_->Finish(); }
  int MinPaintIntervalMs() const override { return inner_->MinPaintIntervalMs(); }
  bool IsTerminal() const override { return inner_->IsTerminal(); }

 private:
  std::unique_ptr<Display> inner_;
  std::string site_folder_;
};

#endif  // KDX_APP_STAMPED_DISPLAY_H_

// How the main window is drawn. There is no desktop: the window is drawn on
// standard error.
//
// - PanelDisplay (standard error is a terminal): a compact panel (caption,
//   status line, progress bar) redrawn in place; message boxes appear under
//   it. Colours unless NO_COLOR is set to a non-empty value.
// - LineDisplay (a scheduler, a pipe, a file): no escape codes, no per-record
//   lines; one line when the caption changes and the text of every message
//   box, so that a scheduler's mail stays short. (On an interactive terminal
//   that cannot move its cursor, TERM=dumb, a box that waits for Enter and
//   the window's hint are printed too, so the wait is never silent.)
//
// Texts from the database may hold control characters (C0, DEL and C1); both
// displays print them as "?" so that data can never move the cursor or change
// the terminal.
#ifndef KDX_PLATFORM_UI_TERMINAL_H_
#define KDX_PLATFORM_UI_TERMINAL_H_

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a window shows at one moment.
struct WindowView {
  std::string caption;
  std::string status;  // the edit line
  bool has_progress = false;
  int progress_min = 0;
  int progress_max = 100;
  int progress_position = 0;
  bool busy = false;  // the application-wide wait cursor is on
  // While set, caption changes are progress texts (one per record), which a
  // LineDisplay does not print; the caption in force when it is cleared is
  // printed once.
  bool caption_is_progress = false;
  // A line under the window ("" for none); not shown while a message box
  // waits for its OK.
  std::string hint;
};

enum class MessageIcon { kNone, kError };

struct MessageBoxView {
  std::string title;
  std::string text;
  MessageIcon icon = MessageIcon::kNone;
  bool waits = false;  // shows "press Enter" and stays until HideMessageBox
};

// Where a display writes; the real one writes to a file descriptor.
using DisplayWriter = std::function<void(std::string_view)>;

class Display {
 public:
  virtual ~Display() = default;
  // Shows `view`. Cheap when nothing changed.
  virtual void Paint(const WindowView& view) = 0;
  // Shows a message box. A box that does not wait is left as text at once;
  // a waiting one stays until HideMessageBox, then is left as text.
  virtual void ShowMessageBox(const MessageBoxView& box) = 0;
  virtual void HideMessageBox() = 0;
  // Leaves the output as it was found (colours reset, cursor shown), the last
  // picture of the window kept on screen. Idempotent.
  virtual void Finish() = 0;
  // Shortest time between two paints, in milliseconds.
  virtual int MinPaintIntervalMs() const = 0;
  virtual bool IsTerminal() const = 0;
};

// Replaces control characters (below 32, and 127 to 159) with "?".
std::string PrintableText(std::string_view text);

class PanelDisplay : public Display {
 public:
  // `width` gives the terminal's current column count.
  PanelDisplay(DisplayWriter out, bool color, std::function<int()> width);
  ~PanelDisplay() override;

  void Paint(const WindowView& view) override;
  void ShowMessageBox(const MessageBoxView& box) override;
  void HideMessageBox() override;
  void Finish() override;
  int MinPaintIntervalMs() const override { return 50; }  // at most 20 per second
  bool IsTerminal() const override { return true; }

  // The lines of the last picture, without escape codes (for tests).
  const std::vector<std::string>& LastPlainLines() const { return plain_lines_; }

 private:
  void Redraw(const std::string& before_panel = "");
  int Width() const;
  std::vector<std::string> PanelLines(bool styled, std::vector<std::string>* plain) const;
  std::vector<std::string> BoxLines(const MessageBoxView& box, bool styled) const;
  std::string Style(const char* code, const std::string& text, bool styled) const;

  DisplayWriter out_;
  bool color_;
  std::function<int()> width_;
  std::optional<WindowView> view_;
  std::optional<MessageBoxView> box_;
  int live_lines_ = 0;  // lines of the picture under the cursor, redrawn in place
  bool cursor_hidden_ = false;
  bool finished_ = false;
  std::vector<std::string> plain_lines_;
};

class LineDisplay : public Display {
 public:
  explicit LineDisplay(DisplayWriter out);

  void Paint(const WindowView& view) override;
  void ShowMessageBox(const MessageBoxView& box) override;
  void HideMessageBox() override {}
  void Finish() override {}
  int MinPaintIntervalMs() const override { return 0; }
  bool IsTerminal() const override { return false; }

 private:
  DisplayWriter out_;
  std::optional<std::string> printed_caption_;
  std::string printed_hint_;
};

// Writes everything to `fd`, retrying short writes; errors are dropped (the
// display must never end a run).
DisplayWriter FdWriter(int fd);

// The display for standard error: a PanelDisplay when it is a terminal that
// understands cursor movement (TERM not "dumb"), with colours unless NO_COLOR
// is set and not empty; a LineDisplay otherwise.
std::unique_ptr<Display> MakeStandardErrorDisplay();

// Puts standard input of an interactive terminal into key-at-a-time mode
// without echo (so typing cannot scribble over the panel; Ctrl-C still raises
// SIGINT) and restores the saved modes on destruction, or at process exit if
// the destructor never runs.
class TerminalInputMode {
 public:
  TerminalInputMode();  // does nothing when standard input is not a terminal
  ~TerminalInputMode();
  TerminalInputMode(const TerminalInputMode&) = delete;
  TerminalInputMode& operator=(const TerminalInputMode&) = delete;

 private:
  bool active_ = false;
};

#endif  // KDX_PLATFORM_UI_TERMINAL_H_

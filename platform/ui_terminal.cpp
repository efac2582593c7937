#include "platform/ui_terminal.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

constexpr int kPanelMaxWidth = 64;  // about the width of the original window
constexpr int kPanelMinWidth = 24;

// Background RGB(240, 202, 166) of the status line, as the nearest colour of
// the 256-colour palette (255, 215, 175), with black text.
constexpr const char* kStatusStyle = "\x1b[38;5;16;48;5;223m";
constexpr const char* kBold = "\x1b[1m";
constexpr const char* kDim = "\x1b[2m";
constexpr const char* kGreen = "\x1b[32m";
constexpr const char* kRedBold = "\x1b[1;31m";
constexpr const char* kReset = "\x1b[0m";

constexpr const char* kWaitingBoxPrompt = "[ OK ]  press Enter";

std::string Fit(const std::string& text, int width) {
  if (width <= 0) return "";
  std::string s = text.substr(0, static_cast<size_t>(width));
  s.append(static_cast<size_t>(width) - s.size(), ' ');
  return s;
}

// Splits a message into printable lines of at most `width` characters,
// breaking at blanks where it can.
std::vector<std::string> Wrap(const std::string& text, int width) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (true) {
    size_t end = text.find('\n', start);
    std::string_view raw =
        std::string_view(text).substr(start, end == std::string::npos ? std::string::npos : end - start);
    // A CR LF line break is a break, not a control character to show.
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    std::string paragraph = PrintableText(raw);
    do {
      if (static_cast<int>(paragraph.size()) <= width) {
        lines.push_back(paragraph);
        break;
      }
      size_t cut = paragraph.rfind(' ', static_cast<size_t>(width));
      if (cut == std::string::npos || cut == 0) cut = static_cast<size_t>(width);
      lines.push_back(paragraph.substr(0, cut));
      paragraph.erase(0, paragraph[cut] == ' ' ? cut + 1 : cut);
    } while (true);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

std::string Border(const std::string& label, int width) {
  // "+- label ---...---+"
  std::string line = "+-";
  if (!label.empty()) line += " " + label.substr(0, static_cast<size_t>(std::max(0, width - 6))) + " ";
  if (static_cast<int>(line.size()) < width - 1) line.append(static_cast<size_t>(width - 1) - line.size(), '-');
  line += "+";
  return line;
}

int TerminalColumns(int fd) {
  struct winsize ws {};
  if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  if (const char* columns = std::getenv("COLUMNS")) {
    const int n = std::atoi(columns);
    if (n > 0) return n;
  }
  return 80;
}

}  // namespace

std::string PrintableText(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    // 128..159 are the C1 controls of 8-bit terminals (155 starts a control
    // sequence just as ESC [ does), and their UTF-8 forms all hold such a
    // byte too.
    if (u < 32 || (u >= 127 && u < 160)) c = '?';
  }
  return out;
}

// ---- PanelDisplay ------------------------------------------------------------

PanelDisplay::PanelDisplay(DisplayWriter out, bool color, std::function<int()> width)
    : out_(std::move(out)), color_(color), width_(std::move(width)) {}

PanelDisplay::~PanelDisplay() { Finish(); }

int PanelDisplay::Width() const {
  const int columns = width_ ? width_() : 80;
  // One column spare, so that a full line never wraps on its own.
  return std::clamp(columns - 1, kPanelMinWidth, kPanelMaxWidth);
}

std::string PanelDisplay::Style(const char* code, const std::string& text, bool styled) const {
  if (!styled || !color_) return text;
  return std::string(code) + text + kReset;
}

std::vector<std::string> PanelDisplay::PanelLines(bool styled, std::vector<std::string>* plain) const {
  std::vector<std::string> lines;
  if (!view_) return lines;
  const WindowView& v = *view_;
  const int width = Width();
  const int inner = width - 4;  // between "| " and " |"

  auto add = [&](const std::string& plain_line, const std::string& styled_line) {
    lines.push_back(styled ? styled_line : plain_line);
    if (plain) plain->push_back(plain_line);
  };

  // Top border with the caption.
  const std::string caption = PrintableText(v.caption).substr(0, static_cast<size_t>(std::max(0, width - 6)));
  const std::string top = Border(caption, width);
  std::string top_styled = top;
  if (!caption.empty()) top_styled = "+- " + Style(kBold, caption, true) + top.substr(3 + caption.size());
  add(top, top_styled);

  const std::string status = Fit(PrintableText(v.status), inner);
  add("| " + status + " |", "| " + Style(kStatusStyle, status, true) + " |");

  if (v.has_progress) {
    const int cells = inner - 2;
    const int range = v.progress_max - v.progress_min;
    int filled = 0;
    if (range > 0) {
      const int pos = std::clamp(v.progress_position, v.progress_min, v.progress_max) - v.progress_min;
      filled = static_cast<int>((static_cast<long long>(pos) * cells + range / 2) / range);
    }
    const std::string done(static_cast<size_t>(filled), '#');
    const std::string left(static_cast<size_t>(cells - filled), '-');
    add("| [" + done + left + "] |", "| [" + Style(kGreen, done, true) + Style(kDim, left, true) + "] |");
  }

  std::string bottom(static_cast<size_t>(width), '-');
  bottom.front() = '+';
  bottom.back() = '+';
  if (v.busy) {
    const std::string mark = " working ";
    bottom.replace(static_cast<size_t>(width) - 3 - mark.size(), mark.size(), mark);
  }
  add(bottom, bottom);
  // A waiting message box has the focus: the window's hint waits too.
  if (!v.hint.empty() && !(box_ && box_->waits)) {
    const std::string hint = PrintableText(v.hint).substr(0, static_cast<size_t>(width));
    add(hint, Style(kBold, hint, true));
  }
  return lines;
}

std::vector<std::string> PanelDisplay::BoxLines(const MessageBoxView& box, bool styled) const {
  const int width = Width();
  const int inner = width - 4;
  std::vector<std::string> lines;
  lines.push_back(Border(PrintableText(box.title), width));
  const std::string icon = box.icon == MessageIcon::kError ? "(X) " : "";
  const std::vector<std::string> text = Wrap(box.text, inner - static_cast<int>(icon.size()));
  for (size_t i = 0; i < text.size(); ++i) {
    std::string lead = i == 0 ? icon : std::string(icon.size(), ' ');
    std::string lead_styled = i == 0 && !icon.empty() ? Style(kRedBold, icon, styled) : lead;
    lines.push_back("| " + lead_styled + Fit(text[i], inner - static_cast<int>(icon.size())) + " |");
  }
  const std::string ok = box.waits ? kWaitingBoxPrompt : "[ OK ]";
  const int pad = std::max(0, (inner - static_cast<int>(ok.size())) / 2);
  lines.push_back("| " + Fit(std::string(static_cast<size_t>(pad), ' ') + ok, inner) + " |");
  std::string bottom(static_cast<size_t>(width), '-');
  bottom.front() = '+';
  bottom.back() = '+';
  lines.push_back(bottom);
  return lines;
}

void PanelDisplay::Redraw(const std::string& before_panel) {
  if (finished_) return;
  std::string s;
  if (!cursor_hidden_) {
    s += "\x1b[?25l";
    cursor_hidden_ = true;
  }
  // Back to the first line of the live picture, and clear it and what follows.
  if (live_lines_ > 0) s += "\r\x1b[" + std::to_string(live_lines_) + "A";
  s += "\r\x1b[J";
  s += before_panel;
  plain_lines_.clear();
  std::vector<std::string> lines = PanelLines(true, &plain_lines_);
  if (box_) {
    for (const std::string& line : BoxLines(*box_, true)) lines.push_back(line);
    for (const std::string& line : BoxLines(*box_, false)) plain_lines_.push_back(line);
  }
  for (const std::string& line : lines) {
    s += line;
    if (color_) s += kReset;
    s += "\n";
  }
  live_lines_ = static_cast<int>(lines.size());
  out_(s);
}

void PanelDisplay::Paint(const WindowView& view) {
  if (view_ && view_->caption == view.caption && view_->status == view.status &&
      view_->has_progress == view.has_progress && view_->progress_min == view.progress_min &&
      view_->progress_max == view.progress_max && view_->progress_position == view.progress_position &&
      view_->busy == view.busy && view_->hint == view.hint) {
    return;
  }
  view_ = view;
  Redraw();
}

void PanelDisplay::ShowMessageBox(const MessageBoxView& box) {
  if (box.waits) {
    box_ = box;
    Redraw();
    return;
  }
  // A box that does not wait is left above the window as text.
  std::string text;
  for (const std::string& line : BoxLines(box, true)) text += line + (color_ ? kReset : "") + "\n";
  Redraw(text);
}

void PanelDisplay::HideMessageBox() {
  if (!box_) return;
  MessageBoxView shown = *box_;
  shown.waits = false;
  box_.reset();
  std::string text;
  for (const std::string& line : BoxLines(shown, true)) text += line + (color_ ? kReset : "") + "\n";
  Redraw(text);
}

void PanelDisplay::Finish() {
  if (finished_) return;
  std::string s;
  if (color_) s += kReset;
  if (cursor_hidden_) s += "\x1b[?25h";
  finished_ = true;
  if (!s.empty()) out_(s);
}

// ---- LineDisplay -------------------------------------------------------------

LineDisplay::LineDisplay(DisplayWriter out) : out_(std::move(out)) {}

void LineDisplay::Paint(const WindowView& view) {
  if (!view.caption_is_progress && !(printed_caption_ && *printed_caption_ == view.caption)) {
    printed_caption_ = view.caption;
    if (!view.caption.empty()) out_(PrintableText(view.caption) + "\n");
  }
  // The hint tells a user at the terminal what the window waits for.
  if (view.hint != printed_hint_) {
    printed_hint_ = view.hint;
    if (!view.hint.empty()) out_(PrintableText(view.hint) + "\n");
  }
}

void LineDisplay::ShowMessageBox(const MessageBoxView& box) {
  std::string text;
  for (const std::string& line : Wrap(box.text, 1 << 20)) {
    text += text.empty() && box.icon == MessageIcon::kError ? "Error: " : "";
    text += line + "\n";
  }
  // A box that waits says so; otherwise the program would sit silent.
  if (box.waits) text += kWaitingBoxPrompt + std::string("\n");
  out_(text);
}

// ---- output and modes --------------------------------------------------------

DisplayWriter FdWriter(int fd) {
  return [fd](std::string_view text) {
    while (!text.empty()) {
      const ssize_t n = write(fd, text.data(), text.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      text.remove_prefix(static_cast<size_t>(n));
    }
  };
}

std::unique_ptr<Display> MakeStandardErrorDisplay() {
  const char* term = std::getenv("TERM");
  const bool dumb = term != nullptr && std::string(term) == "dumb";
  if (isatty(STDERR_FILENO) && !dumb) {
    const char* no_color = std::getenv("NO_COLOR");
    const bool color = no_color == nullptr || no_color[0] == '\0';
    return std::make_unique<PanelDisplay>(FdWriter(STDERR_FILENO), color,
                                          [] { return TerminalColumns(STDERR_FILENO); });
  }
  return std::make_unique<LineDisplay>(FdWriter(STDERR_FILENO));
}

namespace {

struct termios g_saved_modes;
bool g_modes_changed = false;

void RestoreTerminalModes() {
  if (!g_modes_changed) return;
  g_modes_changed = false;
  // Only from the foreground. A job that was stopped and sent on into the
  // background runs with the modes the shell put back; changing them from
  // there would stop this process (SIGTTOU) instead of letting it end.
  if (tcgetpgrp(STDIN_FILENO) != getpgrp()) return;
  tcsetattr(STDIN_FILENO, TCSADRAIN, &g_saved_modes);
}

}  // namespace

TerminalInputMode::TerminalInputMode() {
  // Only the foreground may change the modes (a background process would be
  // stopped by SIGTTOU).
  if (!isatty(STDIN_FILENO) || tcgetpgrp(STDIN_FILENO) != getpgrp() || g_modes_changed) return;
  if (tcgetattr(STDIN_FILENO, &g_saved_modes) != 0) return;
  struct termios modes = g_saved_modes;
  modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  modes.c_cc[VMIN] = 1;
  modes.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSADRAIN, &modes) != 0) return;
  static bool registered = false;
  if (!registered) {
    std::atexit(RestoreTerminalModes);
    registered = true;
  }
  g_modes_changed = true;
  active_ = true;
}

TerminalInputMode::~TerminalInputMode() {
  if (active_) RestoreTerminalModes();
}

#include "platform/ui_controls.h"

#include <algorithm>

#include "platform/ui_application.h"

// ---- TControl ------------------------------------------------------------------

TControl::TControl(TForm& form, std::string name) : form_(form), name_(std::move(name)) {
  form_.controls_.push_back(this);
}

TControl::~TControl() {
  auto& controls = form_.controls_;
  controls.erase(std::remove(controls.begin(), controls.end(), this), controls.end());
}

void TControl::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  Changed();
}

void TControl::Changed() { form_.Changed(); }

// ---- TEdit ---------------------------------------------------------------------

void TEdit::SetText(const std::string& text) {
  if (text_ == text) return;
  text_ = text;
  Changed();
}

void TEdit::Describe(WindowView& view) const {
  if (view.status.empty()) view.status = text_;
}

// ---- TProgressBar -----------------------------------------------------------------

void TProgressBar::SetRange(int min, int max) {
  min_ = min;
  max_ = std::max(min, max);
  position_ = std::clamp(position_, min_, max_);
  Changed();
}

void TProgressBar::SetPosition(int position) {
  position = std::clamp(position, min_, max_);
  if (position_ == position) return;
  position_ = position;
  Changed();
}

void TProgressBar::StepIt() {
  // In 64 bits, so that a huge step cannot overflow.
  long long next = static_cast<long long>(position_) + step_;
  if (next > max_) next = min_;
  if (next < min_) next = max_;
  position_ = static_cast<int>(next);
  Changed();
}

void TProgressBar::Describe(WindowView& view) const {
  if (view.has_progress) return;
  view.has_progress = true;
  view.progress_min = min_;
  view.progress_max = max_;
  view.progress_position = position_;
}

// ---- TButton ------------------------------------------------------------------------

void TButton::Click() {
  if (OnClick) OnClick();
}

// ---- TForm ----------------------------------------------------------------------------

TForm::TForm(TApplication& application, std::string name) : application_(application), name_(std::move(name)) {
  application_.AddForm(this);
}

TForm::~TForm() { application_.RemoveForm(this); }

void TForm::SetCaption(const std::string& caption) {
  if (caption_ == caption) return;
  caption_ = caption;
  Changed();
}

void TForm::SetHint(const std::string& hint) {
  if (hint_ == hint) return;
  hint_ = hint;
  Changed();
}

void TForm::SetCaptionIsProgress(bool on) {
  if (caption_is_progress_ == on) return;
  caption_is_progress_ = on;
  Changed();
}

void TForm::Show() {
  showing_ = true;
  Changed();
  if (!shown_once_) {
    shown_once_ = true;
    if (OnShow) OnShow();
  }
  application_.PaintNow();
}

void TForm::Close() {
  if (OnClose) OnClose();
  if (this == application_.MainForm()) application_.Terminate();
}

WindowView TForm::View() const {
  WindowView view;
  view.caption = caption_;
  view.hint = hint_;
  view.caption_is_progress = caption_is_progress_;
  for (const TControl* control : controls_) {
    if (control->Visible()) control->Describe(view);
  }
  return view;
}

void TForm::Changed() { application_.Invalidate(); }

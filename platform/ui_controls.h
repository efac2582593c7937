// The window and its controls: a form with a caption, a single-line edit, a
// progress bar and a push button. A control only holds its state and tells
// its application that the window needs painting; drawing is the display's
// business (platform/ui_terminal.h), and painting happens at the message loop
// and at "process pending messages", never inside a setter.
//
// A form does not own its controls: they are members of the derived form
// class and register with the form for their lifetime.
#ifndef KDX_PLATFORM_UI_CONTROLS_H_
#define KDX_PLATFORM_UI_CONTROLS_H_

#include <functional>
#include <string>
#include <vector>

#include "platform/ui_terminal.h"

class TApplication;
class TForm;

class TControl {
 public:
  TControl(TForm& form, std::string name);
  virtual ~TControl();
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  const std::string& Name() const { return name_; }
  void SetVisible(bool visible);
  bool Visible() const { return visible_; }

  // Adds what the control shows to `view` (only called while visible).
  virtual void Describe(WindowView& view) const = 0;

 protected:
  void Changed();
  TForm& form_;

 private:
  std::string name_;
  bool visible_ = true;
};

class TEdit : public TControl {
 public:
  using TControl::TControl;
  void SetText(const std::string& text);
  const std::string& Text() const { return text_; }
  void Describe(WindowView& view) const override;

 private:
  std::string text_;
};

// A progress bar whose StepIt starts over at Min once a step would take it
// past Max: it shows activity, not the share of the work done.
class TProgressBar : public TControl {
 public:
  using TControl::TControl;
  // REQUIRES: min <= max. The position is kept inside the range.
  void SetRange(int min, int max);
  int Min() const { return min_; }
  int Max() const { return max_; }
  void SetStep(int step) { step_ = step; }
  int Step() const { return step_; }
  void SetPosition(int position);
  int Position() const { return position_; }
  // Position + Step; past Max it starts over at Min (and, for a negative
  // step, below Min it starts over at Max).
  void StepIt();
  void Describe(WindowView& view) const override;

 private:
  int min_ = 0;
  int max_ = 100;
  int step_ = 10;
  int position_ = 0;
};

class TButton : public TControl {
 public:
  using TControl::TControl;
  void SetCaption(const std::string& caption) { caption_ = caption; }
  const std::string& Caption() const { return caption_; }
  // Calls OnClick (a hidden button can still be clicked from code).
  void Click();
  void Describe(WindowView&) const override {}

  std::function<void()> OnClick;

 private:
  std::string caption_;
};

class TForm {
 public:
  TForm(TApplication& application, std::string name);
  virtual ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  TApplication& Application() const { return application_; }
  const std::string& Name() const { return name_; }

  void SetCaption(const std::string& caption);
  const std::string& Caption() const { return caption_; }
  // A line shown under the window ("" for none).
  void SetHint(const std::string& hint);
  // While on, caption changes are per-record progress texts (see WindowView).
  void SetCaptionIsProgress(bool on);

  // Makes the window visible and paints it; calls OnShow the first time.
  void Show();
  bool Showing() const { return showing_; }
  // Asks the window to close: calls OnClose and, when it is the application's
  // main form, tells the application to terminate. The program goes on until
  // the current handler returns to the message loop; the last picture of the
  // window stays on the terminal.
  void Close();

  std::function<void()> OnShow;
  std::function<void()> OnClose;
  // The Enter key of an interactive terminal, while no message box waits.
  std::function<void()> OnEnterKey;

  WindowView View() const;

 private:
  friend class TControl;
  void Changed();

  TApplication& application_;
  std::string name_;
  std::string caption_;
  std::string hint_;
  bool caption_is_progress_ = false;
  bool showing_ = false;
  bool shown_once_ = false;
  std::vector<TControl*> controls_;
};

#endif  // KDX_PLATFORM_UI_CONTROLS_H_

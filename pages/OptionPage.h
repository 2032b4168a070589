#pragma once
// The custom-install page: the install folder (typed into a native edit box, checked as
// it is typed, or picked with the system's folder browser), the space needed and free,
// and one check box per configured install option.
//
// Surface for the controller:
//   OptionPage(listener, width, height)  sends "btnPrevious" and "btnNext" to `listener`
//                                        (not owned); the caller hides it after adding.
//   setVisible(flag)                     hides and shows the native edit box with it.
//   onEditNotify(code, window)           every WM_COMMAND of the main window: the
//                                        notification code (HIWORD(wParam)) and the
//                                        control's window (lParam); only the path box's
//                                        EN_CHANGE is acted on.
//   resetOptions()                       every option box back to its configured state.
//   applyOptions(), applyTasks()         in this order when the install starts: append
//                                        "-name true|false " per "option" and
//                                        " /MERGETASKS=\"...\"" for the "task"s to the
//                                        install manager's extra arguments.
// UI thread only.
#include <windows.h>

#include <memory>

#include "gui/Panel.h"

class QxActionListener;

class OptionPage : public Panel {
public:
  OptionPage(QxActionListener* listener, int width, int height);
  ~OptionPage() override;

  void onEditNotify(int code, HWND window);
  void resetOptions();
  void applyOptions();
  void applyTasks();

  // QxWidget
  void setVisible(bool visible) override;

private:
  friend class OptionPageTestApi;
  struct Impl;
  std::unique_ptr<Impl> pageImpl_;
};

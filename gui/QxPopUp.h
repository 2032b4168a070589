#pragma once
// Base of the top-level widgets that end themselves: close() hides the widget at once and
// hands it to the TopLevelRegistry, which deletes it at its next purge. UI thread only.
#include <memory>
#include <string>

#include "gui/QxWidget.h"

class QxPopUp : public QxWidget {
public:
  explicit QxPopUp(std::string name);
  ~QxPopUp() override;

  virtual void close();
  virtual void show();

  // QxWidget
  // The hosting window is gone, so nothing else will end this widget.
  void onDestroy() override;

private:
  struct Impl;
  std::unique_ptr<Impl> popUpImpl_;
};

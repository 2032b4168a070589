#pragma once
// An image progress bar: the bar picture revealed from the left over its background
// picture, not stretched. UI thread only.
#include <memory>

#include "gui/QxWidget.h"

class ProgressBar : public QxWidget {
public:
  // At (39, y) in the background picture's size (0 by 0 at (0, 0) when it is missing).
  explicit ProgressBar(int y);
  ~ProgressBar() override;

  // A value beyond the maximum fills the bar; a maximum of 0 or less shows no bar.
  void setProgress(int maximum, int value);
  int maximum() const;
  int value() const;
  // Whole percent shown, 0 to 100.
  int percent() const;

  // QxWidget
  void paint() override;

private:
  struct Impl;
  std::unique_ptr<Impl> barImpl_;
};

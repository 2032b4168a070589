#pragma once
// The row of step names at the top right of the frame ("欢迎 > 下载安装 > 完成"), the
// current step in bold. UI thread only.
#include <memory>
#include <string>

#include "gui/Panel.h"

class QxTextField;

class StepsPanel : public Panel {
public:
  static constexpr int kStepCount = 3;

  // A panel at (0, 30), `width` by 30; step 0 is current.
  StepsPanel(const std::string (&steps)[kStepCount], int width);
  ~StepsPanel() override;

  // Moves the bold label by `delta` steps, staying within the steps.
  void moveStep(int delta);
  int currentStep() const;
  QxTextField* label(int index) const;
  QxTextField* separator(int index) const;

private:
  struct Impl;
  std::unique_ptr<Impl> stepsImpl_;
};

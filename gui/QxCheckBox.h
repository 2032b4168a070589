#pragma once
// A button that toggles a check flag and draws a check image (3-frame strips, one for
// unchecked and one for checked) followed by its label. Sized from the label once its
// tree has a window. UI thread only.
#include <memory>
#include <string>

#include "gui/QxButton.h"

class QxCheckBox : public QxButton {
public:
  // `key` identifies the box to its creator (an option name, "userLicense").
  QxCheckBox(int x, int y, const std::string& key, const std::string& label);
  ~QxCheckBox() override;

  virtual bool isChecked();
  virtual void setChecked(bool checked);
  std::string getKey() const;

  // QxButton
  // Toggles first, so the listener reads the new value.
  void performClick() override;
  // The label.
  std::string getText() override;

  // QxWidget
  void refresh() override;
  void paint() override;
  void onAttach(QxGUIServiceProvider* provider) override;
  std::uint32_t focusMarkColour() override;

private:
  struct Impl;
  std::unique_ptr<Impl> checkImpl_;
};

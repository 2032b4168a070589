#pragma once
// A button whose text is drawn over a nine-grid stretched frame of a 3-frame strip, with
// a text colour and offset per state (the text sinks one pixel while pressed).
// UI thread only.
#include <cstdint>
#include <memory>
#include <string>

#include "gui/QxButton.h"

class QxTextButton : public QxButton {
public:
  QxTextButton(int x, int y, int width, int height, const std::string& imageName,
               const std::string& text, std::uint32_t textColour, int fontSize,
               const std::string& fontName);
  ~QxTextButton() override;

  // Takes effect at the next paint.
  virtual void setTextColors(std::uint32_t normal, std::uint32_t hover, std::uint32_t pressed,
                             std::uint32_t disabled);

  // QxButton
  void setText(const std::string& text) override;
  std::string getText() override;

  // QxWidget
  void refresh() override;
  void paint() override;
  void onAttach(QxGUIServiceProvider* provider) override;
  std::uint32_t focusMarkColour() override;

private:
  struct Impl;
  std::unique_ptr<Impl> textButtonImpl_;
};

#pragma once
// A text-only button: coloured text that darkens (or, for a light colour, lightens) and
// underlines on hover and press, with the hand cursor. Sized from its text once its tree
// has a window. UI thread only.
#include <cstdint>
#include <memory>
#include <string>

#include "gui/QxButton.h"

class QxHyperlink : public QxButton {
public:
  // Starts at (136, 409), 120 by 30, until the text is measured.
  explicit QxHyperlink(const std::string& text);
  ~QxHyperlink() override;

  // 0x00BBGGRR; the hover, pressed and disabled colours are derived from it.
  void setBaseColour(std::uint32_t colour);
  // The text colour for a button state (0x00BBGGRR).
  std::uint32_t stateColour(int state) const;

  // QxButton
  std::string getText() override;

  // QxWidget
  void refresh() override;
  void paint() override;
  bool onMouse(int type, int x, int y, unsigned keys) override;
  void onAttach(QxGUIServiceProvider* provider) override;
  std::uint32_t focusMarkColour() override;

private:
  struct Impl;
  std::unique_ptr<Impl> linkImpl_;
};

#pragma once
// A drawn text label. It keeps the size it was built with unless a caller asks setText to
// measure the text (the construction itself never does). UI thread only.
#include <cstdint>
#include <memory>
#include <string>

#include "gui/QxWidget.h"

class QxTextField : public QxWidget {
public:
  // The widget name is the initial text; colour is 0x00BBGGRR; alignments are those of
  // DrawItem.
  QxTextField(const std::string& text, int x, int y, int width, int height, int fontSize,
              std::uint32_t colour, int hAlign, int vAlign, const std::string& fontName);
  ~QxTextField() override;

  // With autoWidth and/or autoHeight the field takes the measured size of the text once
  // its tree has a window; the flags are kept for later attaches and refreshes.
  void setText(const std::string& text, bool autoWidth = false, bool autoHeight = false);
  const std::string& text() const;
  // Rebuilds the text item in the new weight (left and top aligned).
  void setFontStyle(bool bold);
  bool isBold() const;

  // QxWidget
  void refresh() override;
  void onAttach(QxGUIServiceProvider* provider) override;

private:
  struct Impl;
  std::unique_ptr<Impl> fieldImpl_;
};

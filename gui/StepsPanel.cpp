#include "gui/StepsPanel.h"

#include <vector>

#include "gui/QxTextField.h"

namespace {
constexpr int kLabelY = 40;
constexpr int kFirstLabelX = 512;
constexpr int kFontSize = 12;
constexpr const char* kFont = "simsun";

// 13 pixels per two-byte character.
int labelWidth(const std::string& name) {
  int n = static_cast<int>(name.size());
  return n * 6 + n / 2;
}
} // namespace

struct StepsPanel::Impl {
  StepsPanel* owner = nullptr;
  std::vector<QxTextField*> labels;
  std::vector<QxTextField*> separators;
  std::string names[kStepCount];
  int current = 0;
  int count = kStepCount;
  std::uint32_t labelColour = 0xB25C00;
  std::uint32_t separatorColour = 0xB25C00;
};

StepsPanel::StepsPanel(const std::string (&steps)[kStepCount], int width)
    : Panel(30, width, 30), stepsImpl_(std::make_unique<Impl>()) {
  Impl& d = *stepsImpl_;
  d.owner = this;
  int x = kFirstLabelX;
  for (int i = 0; i < kStepCount; ++i) {
    d.names[i] = steps[i];
    if (i > 0) {
      int sx = x + labelWidth(d.names[i - 1]) + 5;
      auto* separator = new QxTextField(">", sx, kLabelY, 6, 14, kFontSize, d.separatorColour,
                                        DrawItem::AlignLeft, DrawItem::AlignTop, kFont);
      d.separators.push_back(separator);
      addChild(separator);
      x = sx + 11;
    }
    auto* label = new QxTextField(d.names[i], x, kLabelY, labelWidth(d.names[i]), 14, kFontSize,
                                  d.labelColour, DrawItem::AlignLeft, DrawItem::AlignTop, kFont);
    if (i == 0) label->setFontStyle(true);
    d.labels.push_back(label);
    addChild(label);
  }
}

StepsPanel::~StepsPanel() = default;

void StepsPanel::moveStep(int delta) {
  Impl& d = *stepsImpl_;
  int next = d.current + delta;
  if (next < 0) next = 0;
  if (next > d.count - 1) next = d.count - 1;
  if (next == d.current) return;
  d.labels[static_cast<size_t>(d.current)]->setFontStyle(false);
  d.current = next;
  d.labels[static_cast<size_t>(d.current)]->setFontStyle(true);
}

int StepsPanel::currentStep() const { return stepsImpl_->current; }

QxTextField* StepsPanel::label(int index) const {
  const auto& v = stepsImpl_->labels;
  return index >= 0 && index < static_cast<int>(v.size()) ? v[static_cast<size_t>(index)] : nullptr;
}

QxTextField* StepsPanel::separator(int index) const {
  const auto& v = stepsImpl_->separators;
  return index >= 0 && index < static_cast<int>(v.size()) ? v[static_cast<size_t>(index)] : nullptr;
}

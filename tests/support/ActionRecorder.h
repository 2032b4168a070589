#pragma once
// The commands a control sent its listener, in order.
#include <string>
#include <vector>

#include "gui/QxActionListener.h"

namespace qxtest {

struct ActionRecorder : QxActionListener {
  void actionPerformed(const std::string& command) override { commands.push_back(command); }
  std::vector<std::string> commands;
};

} // namespace qxtest

#pragma once
// Receives clicks: the command is the name of the widget that acted. UI thread only.
#include <string>

class QxActionListener {
public:
  virtual ~QxActionListener() = default;
  virtual void actionPerformed(const std::string& command) = 0;
};

#include "app/CommandLineOptions.h"

#ifdef _WIN32
#include <cstdlib>
#endif

CommandLineMap CommandLineOptions::build(const std::vector<std::string>& argv) {
  CommandLineMap map;
  const size_t n = argv.size();
  if (n < 2)
    return map;
  for (size_t i = 1; i < n; ++i) {
    const std::string& key = argv[i];
    std::string value;
    if (!key.empty() && key[0] == '-' && i < n - 1)
      value = argv[++i];
    map[key] = value;
  }
  return map;
}

#ifdef _WIN32
const CommandLineMap& CommandLineOptions::get() {
  static const CommandLineMap map = [] {
    std::vector<std::string> argv;
    for (int i = 0; i < __argc; ++i)
      argv.emplace_back(__argv[i]);
    return build(argv);
  }();
  return map;
}
#endif

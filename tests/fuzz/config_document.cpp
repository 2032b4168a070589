// The configuration document of a branded build: any bytes are read into the record or
// refused with a reason, never more; the branding tool's list of problems agrees with the
// installer on whether the document fails, and on the first reason.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/ConfigDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  InstallConfig config;
  std::string error;
  const bool ok = readConfigDocument(text, config, error);
  const std::vector<ConfigProblem> problems = listConfigProblems(text);
  const auto first =
      std::find_if(problems.begin(), problems.end(), [](const ConfigProblem& p) { return !p.label.empty(); });
  if ((!ok && error.empty()) || ok != (first == problems.end()) || (first != problems.end() && first->label != error))
    std::abort();
  return 0;
}

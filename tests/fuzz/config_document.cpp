// The configuration document of a branded build: any bytes are read into the record or
// refused with a reason, never more; the branding tool's list of problems agrees with the
// installer on whether the document fails, and on the first reason.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/ConfigDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InstallConfig config;
  std::string error;
  const bool ok = readConfigDocument(std::string(reinterpret_cast<const char*>(data), size), config, error);
  if (!ok && error.empty())
    std::abort();
  const std::vector<ConfigProblem> problems =
      listConfigProblems(std::string(reinterpret_cast<const char*>(data), size));
  const ConfigProblem* first = nullptr;
  for (const ConfigProblem& p : problems)
    if (!p.label.empty() && !first)
      first = &p;
  if (ok != (first == nullptr) || (first && first->label != error))
    std::abort();
  return 0;
}

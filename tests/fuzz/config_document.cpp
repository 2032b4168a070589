// The configuration document of a branded build: any bytes are read into the record or
// refused with a reason, never more.
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
  return 0;
}

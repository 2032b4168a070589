// Writes an installer's version resource from its branding's CONFIG.JSON, for the
// build's resource script:  version-resource CONFIG.JSON out.bin
// A version Windows cannot hold stops the build instead of shipping 1.0.0.0.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "tools/brand/VersionResource.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s CONFIG.JSON out.bin\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot be read\n", argv[1]);
    return 1;
  }
  const std::string document((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ProductVersion version;
  ConfigProblem problem;
  if (!readProductVersion(document, version, problem)) {
    std::fprintf(stderr, "%s: %s: %s: expected %s\n", argv[1], problem.key.c_str(), problem.wrong.c_str(),
                 problem.expected.c_str());
    return 1;
  }
  const std::string bytes = encodeVersionResource(version);
  std::ofstream out(argv[2], std::ios::binary);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  return out ? 0 : 1;
}

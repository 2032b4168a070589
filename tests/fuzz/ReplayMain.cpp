// Runs a fuzz target once over every file of the folders (or files) it is given, for
// compilers without libFuzzer: the committed corpus stays a regression test there.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

void runFile(const std::string& path, int& count) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  ++count;
}

} // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize)
    LLVMFuzzerInitialize(&argc, &argv);
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    struct stat st {};
    if (stat(argv[i], &st) != 0) {
      std::fprintf(stderr, "no such input: %s\n", argv[i]);
      return 1;
    }
    if (!S_ISDIR(st.st_mode)) {
      runFile(argv[i], count);
      continue;
    }
    DIR* dir = opendir(argv[i]);
    while (dirent* e = dir ? readdir(dir) : nullptr) {
      if (e->d_name[0] != '.')
        runFile(std::string(argv[i]) + "/" + e->d_name, count);
    }
    if (dir)
      closedir(dir);
  }
  std::printf("replayed %d inputs\n", count);
  return count > 0 ? 0 : 1;
}

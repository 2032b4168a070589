// window_probe.exe <title prefix> <seconds> [stop file]: how long the window whose title
// starts with the prefix takes to answer a message, sampled every 20 ms while it lives
// (or for the given time, or until the stop file appears). Prints "first_ms F" (the first
// sample's time on the performance counter, to match a trace of the installer with),
// "samples N median_ms M p99_ms P max_ms X", then a line "slow T D" for each answer slower
// than 50 ms (D ms, T ms after the first sample), and ends with 0, or 1 when the window
// never appeared.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {

struct Search {
  const char* prefix;
  HWND found;
};

BOOL CALLBACK matchTitle(HWND hwnd, LPARAM param) {
  auto* s = reinterpret_cast<Search*>(param);
  char title[256] = {};
  GetWindowTextA(hwnd, title, sizeof title);
  if (IsWindowVisible(hwnd) && std::strncmp(title, s->prefix, std::strlen(s->prefix)) == 0) {
    s->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

double nowMs() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) * 1000.0 / double(f.QuadPart);
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: window_probe <title prefix> <seconds> [stop file]\n");
    return 2;
  }
  const char* stopFile = argc == 4 ? argv[3] : nullptr;
  auto stopped = [&] { return stopFile && GetFileAttributesA(stopFile) != INVALID_FILE_ATTRIBUTES; };
  Search s{argv[1], nullptr};
  const double end = nowMs() + std::atof(argv[2]) * 1000.0;
  while (!s.found && nowMs() < end) {
    EnumWindows(matchTitle, reinterpret_cast<LPARAM>(&s));
    Sleep(20);
  }
  if (!s.found)
    return 1;
  std::vector<double> samples;
  std::vector<std::pair<double, double>> slow;
  const double first = nowMs();
  std::printf("first_ms %.1f\n", first);
  while (nowMs() < end && IsWindow(s.found) && !stopped()) {
    const double before = nowMs();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(s.found, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result))
      break;
    samples.push_back(nowMs() - before);
    if (samples.back() > 50)
      slow.emplace_back(before - first, samples.back());
    Sleep(20);
  }
  std::sort(samples.begin(), samples.end());
  const double median = samples.empty() ? 0 : samples[samples.size() / 2];
  const double p99 = samples.empty() ? 0 : samples[samples.size() * 99 / 100];
  const double worst = samples.empty() ? 0 : samples.back();
  std::printf("samples %u median_ms %.2f p99_ms %.2f max_ms %.2f\n", unsigned(samples.size()), median, p99, worst);
  for (const auto& [at, took] : slow)
    std::printf("slow %.0f %.2f\n", at, took);
  return 0;
}

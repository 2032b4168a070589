// Toolkit benchmarks: event raise with a cached snapshot against a rebuilt one, text
// measurement from the cache against a new font, and repaints of the whole window against
// a small dirty rectangle. Prints one line per measurement.
//   toolkit_bench.exe
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "gui/Event.h"
#include "gui/MessageLoop.h"
#include "gui/QxGUISPWnd.h"
#include "gui/QxWidget.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double nanosecondsPer(int rounds, F body) {
  const auto start = Clock::now();
  for (int i = 0; i < rounds; ++i) body(i);
  const auto took = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
  return took / rounds;
}

struct Sink : EventListener {
  EventArg sum = 0;
  void onEvent(const char*, const char*, EventArg a1, EventArg) override { sum += a1; }
};

class Scene : public QxWidget {
public:
  Scene() : QxWidget("bench") {
    setBounds(0, 0, 640, 480);
    setVisible(false);
    paint();
  }
  void paint() override {
    clearItems();
    addImageSection("demo/photo.jpg", 0, 0, 640, 480, 0, 0, 16, 16);
    for (int i = 0; i < 10; ++i) {
      addFill(0x203040 + unsigned(i), 20, 20 + i * 40, 200, 30);
      addText("line of text", "Tahoma", 14, false, 0xFFFFFF, 30, 20 + i * 40, 180, 30,
              DrawItem::AlignLeft, DrawItem::AlignMiddle);
    }
  }
};

} // namespace

int main() {
  registerWindowClass(GetModuleHandleA(nullptr));

  Event event("bench");
  std::vector<std::unique_ptr<Sink>> sinks;
  for (int i = 0; i < 8; ++i) {
    sinks.push_back(std::make_unique<Sink>());
    event.connect(sinks.back().get());
  }
  const double cached = nanosecondsPer(1000000, [&](int i) { event.raise("timeout", EventArg(i)); });
  const double rebuilt = nanosecondsPer(200000, [&](int i) {
    // A changed listener set: connecting anew marks the snapshot stale.
    auto late = std::make_unique<Sink>();
    event.connect(late.get());
    event.raise("timeout", EventArg(i));
  });
  std::printf("raise, 8 listeners, cached snapshot: %.0f ns\n", cached);
  std::printf("raise, 8 listeners, snapshot rebuilt (with a connect and a disconnect): %.0f ns\n",
              rebuilt);

  auto* scene = new Scene;
  {
    QxGUISPWnd window(nullptr, scene, false, false, false, true);
    int w = 0, h = 0;
    const double miss = nanosecondsPer(2000, [&](int i) {
      w = 300;
      h = 40;
      window.measureText("text " + std::to_string(i), "Tahoma", 14, false, false, true, w, h);
    });
    const double hit = nanosecondsPer(200000, [&](int i) {
      w = 300;
      h = 40;
      window.measureText("text " + std::to_string(i % 500), "Tahoma", 14, false, false, true, w,
                         h);
    });
    std::printf("measureText, new text (font made): %.1f us\n", miss / 1000.0);
    std::printf("measureText, cached: %.2f us\n", hit / 1000.0);

    const double full = nanosecondsPer(200, [&](int) { window.invalidateRect(0, 0, 640, 480, scene); });
    const double small = nanosecondsPer(2000, [&](int) { window.invalidateRect(20, 20, 100, 30, scene); });
    std::printf("repaint 640x480, 21 items: %.2f ms\n", full / 1e6);
    std::printf("repaint 100x30 dirty rectangle: %.3f ms\n", small / 1e6);
  }
  delete scene;
  return 0;
}

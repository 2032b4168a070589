#pragma once
// The skin's images as the widgets use them: the name they look an image up by and the
// size of the strip the fixed layout is drawn for. The widgets place their buttons from
// these sizes, and the branding tool holds a publisher's images to them, so the two
// cannot drift apart. Portable: no Windows headers.
#include <cstring>

struct SkinImage {
  const char* name;
  int width;   // of the whole strip
  int height;
  int frames;  // states side by side, each width / frames wide

  constexpr int frameWidth() const { return width / frames; }
};

namespace skin {

constexpr int kWindowWidth = 660;
constexpr int kWindowHeight = 480;

constexpr SkinImage kBackground{"res/bg.jpg", kWindowWidth, kWindowHeight, 1};
constexpr SkinImage kFinishBackground{"res/bg2.jpg", kWindowWidth, kWindowHeight, 1};
constexpr SkinImage kMinimize{"res/btmin.png", 96, 19, 3};
constexpr SkinImage kClose{"res/btclose.png", 117, 19, 3};
constexpr SkinImage kButton{"res/btn.png", 267, 30, 3};
constexpr SkinImage kOneKeyInstall{"res/btnOneKeyInstall.png", 531, 43, 3};
// Normal and hover only.
constexpr SkinImage kCustomInstall{"res/btnCustomInstall.png", 174, 15, 2};
constexpr SkinImage kOneKeyShadow{"res/oneKeyShadow.png", 177, 43, 1};
constexpr SkinImage kUnchecked{"res/check1.png", 42, 14, 3};
constexpr SkinImage kChecked{"res/check2.png", 42, 14, 3};
constexpr SkinImage kProgress{"res/progress.png", 577, 29, 1};
constexpr SkinImage kProgressBackground{"res/progressBg.png", 577, 29, 1};
// Followed by the picture's index: "CAROUSELPIC0", "CAROUSELPIC1", ...
constexpr SkinImage kCarousel{"CAROUSELPIC", kWindowWidth, kWindowHeight, 1};

constexpr SkinImage kAll[] = {kBackground, kFinishBackground, kMinimize, kClose, kButton,
                              kOneKeyInstall, kCustomInstall, kOneKeyShadow, kUnchecked,
                              kChecked, kProgress, kProgressBackground};

// The skin image a resource of this name is (names compare without regard to case, as
// resource lookups do), or null for a picture drawn at whatever size it has.
inline const SkinImage* find(const char* resourceName) {
  auto same = [](const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      char x = a[i], y = b[i];
      if (x >= 'a' && x <= 'z') x = char(x - 'a' + 'A');
      if (y >= 'a' && y <= 'z') y = char(y - 'a' + 'A');
      if (x != y) return false;
    }
    return true;
  };
  const size_t length = std::strlen(resourceName);
  for (const SkinImage& image : kAll)
    if (std::strlen(image.name) == length && same(image.name, resourceName, length))
      return &image;
  const size_t prefix = std::strlen(kCarousel.name);
  if (length > prefix && same(kCarousel.name, resourceName, prefix)) {
    for (size_t i = prefix; i < length; ++i)
      if (resourceName[i] < '0' || resourceName[i] > '9') return nullptr;
    return &kCarousel;
  }
  return nullptr;
}

} // namespace skin

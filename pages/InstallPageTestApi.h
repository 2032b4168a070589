#pragma once
// Test-only view of an install page: its texts, its carousel state and the clock of the
// speed computation.
#include <string>

class InstallPage;

class InstallPageTestApi {
public:
  // What the page shows of the progress: "upper|shadow|lower|shadow|bar percent".
  static std::string shown(const InstallPage& page);
  static int carouselIndex(const InstallPage& page);
  static float fadeAngle(const InstallPage& page);
  static bool switching(const InstallPage& page);
  static bool timersActive(const InstallPage& page);
  // Replaces the millisecond tick count of the speed samples; null restores the system's.
  static void setTickSource(unsigned (*ticks)());
  // Replaces the millisecond clock that moves the fade; null restores the system's.
  static void setFadeClock(unsigned (*ticks)());
  // Forgets the speed samples and the fade direction shared by all install pages.
  static void resetShared();
};

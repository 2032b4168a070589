#pragma once
// The download and install progress page: a cross-fading carousel of full-page pictures
// behind a progress bar and two shadowed text lines (phase and percent; package size,
// speed and version).
//
// Surface for the controller:
//   InstallPage(width, height)        built hidden by the caller; the timers do not run.
//   startCarousel(intervalMs)         (re)starts the fade's frames (16 ms; each half of a
//                                     fade takes 300 ms whatever their pace) and the
//                                     picture change (intervalMs + 150 ms).
//   setProgress(total, done)          shows the pair of exact counts; the texts follow
//                                     the install manager's stage (3 downloading,
//                                     4 verifying the package, 5 installing, 2 query
//                                     failed: texts cleared). While a fade runs, the
//                                     pair is shown with its next frame.
//   setReconnecting(on)               while on, the download's lower line says that it
//                                     is reconnecting; shown from the next setProgress.
//   stopTimers()                      stops both carousel timers.
//   showPicture(index)                carousel picture `index` at full strength at once,
//                                     as it stands between two fades (a still of the page).
// UI thread only.
#include <cstdint>
#include <memory>

#include "gui/Panel.h"

class InstallPage : public Panel {
public:
  InstallPage(int width, int height);
  ~InstallPage() override;

  void startCarousel(int intervalMs);
  void setProgress(std::int64_t total, std::int64_t done);
  void setReconnecting(bool reconnecting);
  void stopTimers();
  void showPicture(int index);

  // QxWidget
  void onPrePaint(HDC dc, int x, int y, int width, int height) override;
  void onAttach(QxGUIServiceProvider* provider) override;

private:
  friend class InstallPageTestApi;
  struct Impl;
  void paintProgress(std::int64_t total, std::int64_t done);
  std::unique_ptr<Impl> pageImpl_;
};

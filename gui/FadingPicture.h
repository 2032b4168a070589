#pragma once
// A picture kept as a premultiplied device-independent bitmap, so that drawing it at any
// strength is one constant-alpha blend. A colour-matrix pass of GDI+ over a whole page
// costs tens of milliseconds under load; a fade redraws the page every few milliseconds
// on the window's thread.
//
//   hold(key, picture)   converts `picture` unless `key` is the one already held.
//   draw(dc, target, sourceX, sourceY, strength)
//                        blends the held picture's part at (sourceX, sourceY) into
//                        `target` of `dc`, with strength 0..1 on top of the per-pixel
//                        alpha; false when nothing is held or nothing was drawn.
// UI thread only.
#include <windows.h>

#include <string>

struct LoadedPicture;

class FadingPicture {
public:
  FadingPicture() = default;
  FadingPicture(const FadingPicture&) = delete;
  FadingPicture& operator=(const FadingPicture&) = delete;
  ~FadingPicture();

  bool hold(const std::string& key, const LoadedPicture& picture);
  bool draw(HDC dc, const RECT& target, int sourceX, int sourceY, float strength) const;

private:
  void release();

  std::string key_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

#pragma once
// The wizard's four pages as a branded installer shows them, drawn by the installer's own
// frame, pages and skin on a window that is never shown, written as welcome.png,
// option.png, install.png and finish.png. The branding is read through ResourceModule,
// which the caller points at a branded copy. UI thread; once per process.
#include <string>
#include <vector>

// The files written, or empty with the failure. At `scalePercent` the pages are drawn as a
// display of that scale shows them (the pictures that much larger).
std::vector<std::wstring> writePagePreviews(const std::wstring& folder, std::string& failure,
                                            int scalePercent = 100);

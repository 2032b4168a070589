// brand.exe: brands a stock installer without a compiler, or previews a branding.
//   brand.exe <stock installer.exe> <branding folder> <output.exe>
//   brand.exe --preview [--scale PERCENT] <branding folder> <out folder>
// Everything is checked first; each problem and warning is printed on its own line. With
// any problem, the exit code is 1 and nothing is written; warnings alone do not stop it.
// Usage errors exit with 2.
#include <windows.h>

#include <cstdio>

#include "gui/ResourceModule.h"
#include "tools/brand/BrandingCheck.h"
#include "tools/brand/BrandingWriter.h"
#include "tools/brand/PagePreview.h"

namespace {

void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::wstring fullPath(const std::wstring& path) {
  wchar_t buffer[MAX_PATH * 4] = {};
  const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 4, buffer, nullptr);
  return n && n < MAX_PATH * 4 ? std::wstring(buffer, n) : path;
}

bool isFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Prints the problems and warnings; true when there were no problems.
bool report(const std::vector<Problem>& problems) {
  size_t refusals = 0;
  for (const Problem& problem : problems) {
    say(problem.line());
    refusals += !problem.warning;
  }
  if (refusals)
    say("brand: " + std::to_string(refusals) + (refusals == 1 ? " problem" : " problems") + "; nothing was written.");
  return refusals == 0;
}

int brand(const std::wstring& stock, const std::wstring& folder, const std::wstring& output) {
  const std::string stockName = narrowText(stock);
  if (!isFolder(folder))
    return report({{narrowText(folder), "", "no such folder", "the branding folder"}}), 1;
  if (_wcsicmp(fullPath(stock).c_str(), fullPath(output).c_str()) == 0)
    return report({{narrowText(output), "", "is the stock installer itself", "a new file name for the branded installer"}}), 1;
  HMODULE base = LoadLibraryExW(stock.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!base || !FindResourceW(base, L"CONFIG.JSON", MAKEINTRESOURCEW(1056)) ||
      !FindResourceW(base, L"MAIN.LUA", MAKEINTRESOURCEW(1057))) {
    if (base)
      FreeLibrary(base);
    return report({{stockName, "", base ? "carries no installer branding" : "cannot be read as a program",
                    "the stock installer.exe that came with brand.exe"}}),
           1;
  }
  const BrandingSource source(folder, base, "the stock installer");
  int code = 1;
  if (report(checkBranding(source))) {
    std::string failure;
    if (writeBranding(stock, source, output, failure)) {
      int items = 0;
      for (const BrandingSource::Entry& entry : source.entries())
        items += !entry.file.empty();
      say("brand: wrote " + narrowText(output) + " with " + std::to_string(items) +
          " items from the branding folder; sign it before you publish it.");
      code = 0;
    } else {
      say("brand: " + narrowText(output) + ": not written: " + failure);
    }
  }
  FreeLibrary(base);
  return code;
}

int preview(const std::wstring& folder, const std::wstring& out, int scalePercent) {
  if (!isFolder(folder))
    return report({{narrowText(folder), "", "no such folder", "the branding folder"}}), 1;
  // The defaults are this program's own copy of the default branding; the pages are drawn
  // from a copy of this program branded like an installer would be.
  const BrandingSource source(folder, GetModuleHandleW(nullptr), "the default branding");
  if (!report(checkBranding(source)))
    return 1;
  wchar_t self[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  wchar_t tempFolder[MAX_PATH] = {}, temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, tempFolder);
  GetTempFileNameW(tempFolder, L"brd", 0, temp);
  std::string failure;
  if (!writeBranding(self, source, temp, failure)) {
    DeleteFileW(temp);
    say("brand: previews not drawn: " + failure);
    return 1;
  }
  HMODULE branded = LoadLibraryExW(temp, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  std::vector<std::wstring> written;
  if (branded) {
    ResourceModule::set(branded);
    written = writePagePreviews(out, failure, scalePercent);
    ResourceModule::set(nullptr);
    FreeLibrary(branded);
  } else {
    failure = "the branded copy cannot be read back";
  }
  DeleteFileW(temp);
  if (written.empty()) {
    say("brand: previews not drawn: " + failure);
    return 1;
  }
  for (const std::wstring& file : written)
    say("brand: wrote " + narrowText(file));
  return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wstring(argv[1]) == L"--preview")
    return preview(argv[2], argv[3], 100);
  // Pages as a display at that scale shows them: 150 and 200 are the common ones.
  if (argc == 6 && std::wstring(argv[1]) == L"--preview" && std::wstring(argv[2]) == L"--scale") {
    const int percent = _wtoi(argv[3]);
    if (percent >= 100 && percent <= 400) return preview(argv[4], argv[5], percent);
  }
  if (argc == 4 && argv[1][0] != L'-')
    return brand(argv[1], argv[2], argv[3]);
  say("usage: brand.exe <stock installer.exe> <branding folder> <output.exe>\n"
      "       brand.exe --preview [--scale PERCENT] <branding folder> <out folder>\n"
      "       (PERCENT: the display scale, 100 to 400; 100 without it)");
  return 2;
}

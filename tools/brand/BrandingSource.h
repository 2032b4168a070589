#pragma once
// What a branded installer will carry, item by item: the branding folder's file where the
// folder has it (with the manifest's fallback for the Chinese document), else the base's
// resource. The base is the stock installer being branded, or, for previews, the
// branding tool's own copy of the default branding.
#include <windows.h>

#include <string>
#include <vector>

#include "tools/brand/BrandingManifest.h"

class BrandingSource {
public:
  struct Entry {
    const BrandingItem* item = nullptr;
    std::string bytes;  // the file's, or the base resource's (none for the base's icon)
    std::string file;   // the folder's file ("res/bg.jpg"); empty when from the base
    bool present = false;
  };

  // `baseName` says what the base is in messages ("the stock installer").
  BrandingSource(const std::wstring& folder, HMODULE base, const std::string& baseName);

  const std::vector<Entry>& entries() const { return entries_; }
  // The neutral entry of a resource, or null.
  const Entry* find(int type, const char* name) const;
  // Where an entry comes from, for messages: "res/bg.jpg", or "RES/BG.JPG in the stock
  // installer".
  std::string origin(const Entry& entry) const;
  HMODULE base() const { return base_; }
  // Files of the folder that no item takes, where a publisher meant one to be taken: any
  // file under res/, pics/ or scripts/, and documents, programs and icons at the top.
  const std::vector<std::string>& strayFiles() const { return strays_; }
  // Item files of the folder that exist but cannot be read (locked, no access): the
  // default must not silently stand in for them.
  const std::vector<std::string>& unreadableFiles() const { return unreadable_; }

private:
  std::vector<Entry> entries_;
  std::vector<std::string> strays_;
  std::vector<std::string> unreadable_;
  HMODULE base_;
  std::string baseName_;
};

// UTF-16 to the ANSI code page and back, for paths and messages.
std::string narrowText(const std::wstring& text);
std::wstring wideText(const std::string& text);
// A whole file; false when it cannot be read.
bool readWholeFile(const std::wstring& path, std::string& bytes);

#pragma once
// The version information Explorer shows in an installer's properties, made from its
// branding's CONFIG.JSON: product name "installName" (else the installer's default name),
// description the name followed by "安装", file and product version "version" (given as
// "1.2.3.4" or [1, 2, 3, 4]; fewer parts are padded with zeros), else 1.0.0.0. Shared by
// the build (through a small host program) and the branding tool, so both write the same
// bytes. Portable.
#include <cstdint>
#include <string>

#include "app/ConfigDocument.h"

struct ProductVersion {
  std::string name;  // GBK
  std::uint16_t parts[4] = {1, 0, 0, 0};
};

// Reads the two keys as the installer's reader reads a document. False, with the problem,
// when "version" is given but is not a version Windows can hold.
bool readProductVersion(const std::string& document, ProductVersion& version, ConfigProblem& problem);

// The VS_VERSIONINFO resource (type 16, name 1, language 0x804) with the texts as UTF-16
// in the string table 080404B0, which its translation entry names.
std::string encodeVersionResource(const ProductVersion& version);

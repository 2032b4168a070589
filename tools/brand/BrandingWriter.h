#pragma once
// Writes a branding into a copy of a base program with the system's resource-update
// calls: each of the folder's items under the manifest's type, name and language, the
// icon from ICON.ICO (replacing every icon of the base), and the version information
// from the neutral CONFIG.JSON when the base carries version information. Items the
// folder lacks keep the base's. The output appears only once everything was written and
// read back as written; a failure leaves nothing behind.
#include <string>

#include "tools/brand/BrandingSource.h"

// `source`'s base must be `basePath` loaded (as a data file or as the running program).
bool writeBranding(const std::wstring& basePath, const BrandingSource& source, const std::wstring& output,
                   std::string& failure);

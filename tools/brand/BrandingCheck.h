#pragma once
// Everything the branding tool checks before it writes anything, with the installer's own
// code: the configuration documents through its reader, the images through its decoder
// and the sizes its widgets need, the scripts through its interpreter and schema
// compiler, the package's form, and the agreement between the documents and the items.
#include <vector>

#include "tools/brand/BrandingSource.h"
#include "tools/brand/Problem.h"

// Every problem and warning, in item order; no problem when the branded installer would work.
std::vector<Problem> checkBranding(const BrandingSource& source);

// Parts of the check (BrandingImages.cpp, BrandingScripts.cpp).
void checkImages(const BrandingSource& source, std::vector<Problem>& problems);
void checkScripts(const BrandingSource& source, std::vector<Problem>& problems);

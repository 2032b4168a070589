#pragma once
// Reading the configuration document into the record; portable (no Windows headers),
// so it is tested and fuzzed natively.
#include <string>

#include "app/InstallConfig.h"

// Reads the keys of `document` (GBK JSON with // comments) into `config`. On failure
// `errorText` names what failed ("neededSpace", "IMOptions.type", ...) and the fields
// read so far stay in place.
bool readConfigDocument(const std::string& document, InstallConfig& config, std::string& errorText);

#pragma once
// Reading the configuration document into the record; portable (no Windows headers),
// so it is tested and fuzzed natively.
#include <string>
#include <vector>

#include "app/InstallConfig.h"

namespace Json {
class Value;
}

// Reads the keys of `document` (GBK JSON with // comments) into `config`. On failure
// `errorText` names what failed ("neededSpace", "IMOptions.type", ...) and the fields
// read so far stay in place.
bool readConfigDocument(const std::string& document, InstallConfig& config, std::string& errorText);

// Parses a document as the reader does (comments allowed, nesting limited): `root` holds
// what was read, also of a document cut short. False when the reader gave up altogether.
bool parseConfigDocument(const std::string& document, Json::Value& root);

// One failure of a document, with what a publisher needs to mend it.
struct ConfigProblem {
  std::string label;     // the installer's error text ("neededSpace", "配置文件", ...);
                         // empty for a syntax error, which the installer reads past
  std::string key;       // where: "neededSpace", "options[1].type", "pics[0].x"
  std::string wrong;     // what is there: "missing", "the text \"6000\"", ...
  std::string expected;  // what belongs there: "a number of megabytes", ...
};

// Every failure of `document` in reading order, where the installer stops at the first
// (whose label readConfigDocument gives): the reader goes on past each failed key or list
// element. Also names a syntax error, after which the installer silently loses the rest.
std::vector<ConfigProblem> listConfigProblems(const std::string& document);

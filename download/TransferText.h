#pragma once
// The texts a download reads and writes, with byte counts of 64 bits throughout: the
// announced size, Content-Length and Content-Range, the Range header, the side file.
// Portable: no Windows headers, so it is tested natively too.
#include <cstdint>
#include <string>

// A byte count in plain decimal: digits only, no sign, no blanks, at most 2^63 - 1.
// False (and `count` untouched) for anything else.
bool parseByteCount(const std::string& text, std::int64_t& count);

// "bytes FIRST-LAST/TOTAL" of a 206 answer; total is -1 for "*".
struct ContentRange {
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::int64_t total = -1;
};
bool parseContentRange(const std::string& text, ContentRange& range);
// The size a 416's "bytes */SIZE" names, or -1.
std::int64_t unsatisfiedSize(const std::string& text);

// "Range: bytes=N-\r\n", asking for everything from byte N on; with a last byte,
// "Range: bytes=N-M\r\n".
std::string rangeHeader(std::int64_t from);
std::string rangeHeader(std::int64_t from, std::int64_t last);

// The package's address on a mirror: `base` (ending with "/") followed by the last path
// segment of the announced address, without its query. "" when that address ends with
// "/" and so names no file.
std::string mirrorAddress(const std::string& base, const std::string& announced);

// The ".info" side file: the size in decimal followed directly by the digest text as the
// update server announced it, without a terminator. Files written by earlier builds have
// the same form, so a partial download they left is still continued.
std::string sideFileText(std::int64_t size, const std::string& md5);

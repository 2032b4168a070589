#pragma once
// Which byte ranges of a package file are on disk, when several connections write it in
// place, and the text of the ".parts" side file that keeps them across runs. Portable:
// the owner does the file work and the locking.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class SegmentMap {
public:
  // Bytes [first, end).
  struct Range {
    std::int64_t first = 0;
    std::int64_t end = 0;
    std::int64_t length() const { return end - first; }
    bool operator==(const Range& other) const { return first == other.first && end == other.end; }
  };

  // The size of a file whose size is not known yet.
  static constexpr std::int64_t kUnknownSize = INT64_MAX;

  // A file of `size` bytes of which nothing is on disk.
  explicit SegmentMap(std::int64_t size = kUnknownSize) : size_(size) {}
  // The same ranges in a file of `size` bytes, now that it is known.
  SegmentMap resized(std::int64_t size) const;

  // Bytes [first, end) are on disk; clipped to the file, merged with their neighbours.
  void add(std::int64_t first, std::int64_t end);

  std::int64_t size() const { return size_; }
  std::int64_t onDisk() const { return onDisk_; }
  // Bytes [0, prefixEnd()) are on disk: how far a reader in order may go.
  std::int64_t prefixEnd() const;
  bool complete() const { return size_ > 0 && onDisk_ == size_; }
  const std::vector<Range>& ranges() const { return ranges_; }

  // Work for one more connection: the lowest bytes that are neither on disk nor in
  // `busy` (what running connections still fetch), at most `maxLength` of them. Nothing
  // when every missing byte is busy.
  std::optional<Range> nextClaim(const std::vector<Range>& busy, std::int64_t maxLength) const;

  // The ".parts" text: the package's size and digest as the ".info" side file has them,
  // then, when the server named its version, an "If-Range: VALIDATOR" line (its ETag or
  // Last-Modified, sent back on every range request), then one "FIRST-LAST" line
  // (inclusive, like an HTTP range) per range on disk, then "end", each line ending in a
  // line feed.
  std::string text(const std::string& md5, const std::string& validator = std::string()) const;
  // The map a ".parts" text describes, or nothing when it is damaged or names another
  // package (size or digest). The validator goes to `validator` when asked for.
  static std::optional<SegmentMap> parse(const std::string& text, std::int64_t size, const std::string& md5,
                                         std::string* validator = nullptr);

private:
  std::int64_t size_ = 0;
  std::int64_t onDisk_ = 0;
  std::vector<Range> ranges_;  // sorted, disjoint, not touching
};

#include "download/SegmentMap.h"

#include <algorithm>

#include "download/TransferText.h"

void SegmentMap::add(std::int64_t first, std::int64_t end) {
  first = std::max<std::int64_t>(first, 0);
  end = std::min(end, size_);
  if (first >= end)
    return;
  // The ranges that touch [first, end) are replaced by their union with it.
  auto from = std::lower_bound(ranges_.begin(), ranges_.end(), first,
                               [](const Range& range, std::int64_t at) { return range.end < at; });
  auto to = from;
  for (; to != ranges_.end() && to->first <= end; ++to) {
    first = std::min(first, to->first);
    end = std::max(end, to->end);
    onDisk_ -= to->length();
  }
  const auto at = ranges_.erase(from, to);
  ranges_.insert(at, Range{first, end});
  onDisk_ += end - first;
}

SegmentMap SegmentMap::resized(std::int64_t size) const {
  SegmentMap map(size);
  for (const Range& range : ranges_)
    map.add(range.first, range.end);
  return map;
}

std::int64_t SegmentMap::prefixEnd() const {
  return !ranges_.empty() && ranges_.front().first == 0 ? ranges_.front().end : 0;
}

std::optional<SegmentMap::Range> SegmentMap::nextClaim(const std::vector<Range>& busy,
                                                       std::int64_t maxLength) const {
  // Everything taken, on disk or busy, in order; the first hole in it is the claim.
  std::vector<Range> taken = ranges_;
  taken.insert(taken.end(), busy.begin(), busy.end());
  std::sort(taken.begin(), taken.end(), [](const Range& a, const Range& b) { return a.first < b.first; });
  std::int64_t at = 0;
  for (const Range& range : taken) {
    if (range.first > at)
      break;
    at = std::max(at, range.end);
  }
  if (at >= size_ || maxLength <= 0)
    return std::nullopt;
  std::int64_t end = size_;
  for (const Range& range : taken)
    if (range.first > at)
      end = std::min(end, range.first);
  return Range{at, end - at > maxLength ? at + maxLength : end};
}

namespace {
const std::string kValidatorLine = "If-Range: ";
}

std::string SegmentMap::text(const std::string& md5, const std::string& validator) const {
  std::string out = std::to_string(size_) + "\n" + md5 + "\n";
  if (!validator.empty())
    out += kValidatorLine + validator + "\n";
  for (const Range& range : ranges_)
    out += std::to_string(range.first) + "-" + std::to_string(range.end - 1) + "\n";
  return out + "end\n";
}

std::optional<SegmentMap> SegmentMap::parse(const std::string& text, std::int64_t size, const std::string& md5,
                                            std::string* validator) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t feed = text.find('\n', at);
    if (feed == std::string::npos)
      return std::nullopt;  // cut off mid-line
    lines.push_back(text.substr(at, feed - at));
    at = feed + 1;
  }
  std::int64_t told = 0;
  if (lines.size() < 3 || !parseByteCount(lines[0], told) || told != size || size <= 0 || lines[1] != md5 ||
      lines.back() != "end")
    return std::nullopt;
  SegmentMap map(size);
  std::int64_t previousEnd = -1;
  std::size_t i = 2;
  std::string toldValidator;
  if (lines[i].compare(0, kValidatorLine.size(), kValidatorLine) == 0)
    toldValidator = lines[i++].substr(kValidatorLine.size());
  for (; i + 1 < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::size_t dash = line.find('-');
    std::int64_t first = 0;
    std::int64_t last = 0;
    // In order and apart, as written: anything else is not a file of ours.
    if (dash == std::string::npos || !parseByteCount(line.substr(0, dash), first) ||
        !parseByteCount(line.substr(dash + 1), last) || last < first || last >= size || first <= previousEnd)
      return std::nullopt;
    map.add(first, last + 1);
    previousEnd = last + 1;
  }
  if (validator)
    *validator = toldValidator;
  return map;
}

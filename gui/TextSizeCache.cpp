#include "gui/TextSizeCache.h"

#include <tuple>

bool TextSizeCache::Key::operator<(const Key& o) const {
  return std::tie(bold, centred, singleLine, size, widthLimit, heightLimit, face, text) <
         std::tie(o.bold, o.centred, o.singleLine, o.size, o.widthLimit, o.heightLimit, o.face,
                  o.text);
}

TextSizeCache& TextSizeCache::instance() {
  static TextSizeCache cache;
  return cache;
}

bool TextSizeCache::find(const Key& key, int& width, int& height) {
  auto it = index_.find(key);
  if (it == index_.end()) return false;
  entries_.splice(entries_.begin(), entries_, it->second);
  width = it->second->second.first;
  height = it->second->second.second;
  return true;
}

void TextSizeCache::insert(const Key& key, int width, int height) {
  auto it = index_.find(key);
  if (it != index_.end()) {
    it->second->second = {width, height};
    entries_.splice(entries_.begin(), entries_, it->second);
    return;
  }
  if (capacity_ == 0) return;
  if (entries_.size() >= capacity_) {
    index_.erase(entries_.back().first);
    entries_.pop_back();
  }
  entries_.emplace_front(key, std::make_pair(width, height));
  index_[key] = entries_.begin();
}

void TextSizeCache::clear() {
  index_.clear();
  entries_.clear();
}

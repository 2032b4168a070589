#pragma once
// Measured text sizes, at most 1000, the least recently used dropped first. Portable.
#include <cstddef>
#include <list>
#include <map>
#include <string>
#include <utility>

class TextSizeCache {
public:
  static constexpr size_t kCapacity = 1000;

  struct Key {
    bool bold = false;
    bool centred = false;
    bool singleLine = false;
    int size = 0;
    int widthLimit = 0;
    int heightLimit = 0;
    std::string face;
    std::string text;
    bool operator<(const Key& o) const;
  };

  // Process-wide cache of the window's measureText.
  static TextSizeCache& instance();

  explicit TextSizeCache(size_t capacity = kCapacity) : capacity_(capacity) {}

  // A hit becomes the most recently used entry.
  bool find(const Key& key, int& width, int& height);
  void insert(const Key& key, int width, int height);
  size_t size() const { return entries_.size(); }
  void clear();

private:
  using Entry = std::pair<Key, std::pair<int, int>>;
  size_t capacity_;
  std::list<Entry> entries_;  // most recently used first
  std::map<Key, std::list<Entry>::iterator> index_;
};

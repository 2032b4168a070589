// Reading a binary schema bundle: every structure is checked against its bounds before
// anything is taken from it, since a bundle may come from anywhere.
#include "script/SprotoSchema.h"

#include <algorithm>
#include <cstring>

#include "script/SprotoWire.h"

namespace sproto {

namespace {

using namespace wire;

// A run of length-prefixed items that ends exactly at `size`: the item count, or -1.
int countItems(const uint8_t* p, size_t size) {
  int n = 0;
  while (size > 0) {
    if (size < kLengthSize)
      return -1;
    const uint32_t len = dword(p);
    if (len > size - kLengthSize)
      return -1;
    p += kLengthSize + len;
    size -= kLengthSize + len;
    ++n;
  }
  return n;
}

// In-place value of an even entry.
inline int inPlace(unsigned entry) { return int(entry / 2) - 1; }

struct Reader {
  std::vector<Type>& types;

  // Walks one record whose tag 0 is its name (a data item) and whose other tags are
  // in-place values; `value(tag, v)` takes each of those and may refuse it. A record
  // without a name is refused.
  template <class Value>
  static bool readRecord(const uint8_t* p, size_t size, std::string& name, Value value) {
    const int n = structEntries(p, size);
    if (n < 0)
      return false;
    const uint8_t* entries = p + kHeaderSize;
    const uint8_t* data = entries + size_t(n) * kEntrySize;
    bool named = false;
    int tag = -1;
    for (int i = 0; i < n; ++i) {
      const unsigned v = word(entries + i * kEntrySize);
      ++tag;
      if (v & 1) {
        tag += int(v / 2);
        continue;
      }
      if (tag == 0) {
        if (v != 0)
          return false;
        // The name is the record's only data item.
        const uint32_t len = dword(data);
        name.assign(reinterpret_cast<const char*>(data + kLengthSize), len);
        named = true;
        continue;
      }
      if (v == 0 || !value(tag, inPlace(v)))
        return false;
    }
    return named;
  }

  // One field record of `size` bytes.
  bool readField(const uint8_t* p, size_t size, Field& f) {
    const bool read = readRecord(p, size, f.name, [&](int tag, int value) {
      switch (tag) {
      case 1:
        if (value > kString || f.kind >= 0)
          return false;
        f.kind = value;
        return true;
      case 2:
        if (value >= int(types.size()) || f.kind >= 0)
          return false;
        f.kind = kStruct;
        f.structType = &types[size_t(value)];
        return true;
      case 3:
        f.tag = value;
        return true;
      case 4:
        f.array = value != 0;
        return true;
      case 5:
        f.key = value;
        return true;
      default:
        return false;
      }
    });
    if (!read || f.tag < 0 || f.kind < 0)
      return false;
    if (f.key >= 0 && !f.array)
      return false;
    return true;
  }

  bool readType(const uint8_t* p, size_t size, Type& t) {
    const int n = structEntries(p, size);
    if (n <= 0 || n > 2)
      return false;
    const uint8_t* entries = p + kHeaderSize;
    for (int i = 0; i < n; ++i) {
      if (word(entries + i * kEntrySize) != 0)
        return false;
    }
    const uint8_t* item = entries + size_t(n) * kEntrySize;
    uint32_t len = dword(item);
    t.name.assign(reinterpret_cast<const char*>(item + kLengthSize), len);
    if (n == 1)
      return true;
    item += kLengthSize + len;
    len = dword(item);
    const uint8_t* fields = item + kLengthSize;
    const int count = countItems(fields, len);
    if (count < 0)
      return false;
    t.fields.resize(size_t(count));
    int last = -1;
    int maxn = count;
    for (int i = 0; i < count; ++i) {
      const uint32_t flen = dword(fields);
      Field& f = t.fields[size_t(i)];
      if (!readField(fields + kLengthSize, flen, f))
        return false;
      if (f.tag <= last)
        return false;
      if (f.tag > last + 1)
        ++maxn;
      last = f.tag;
      fields += kLengthSize + flen;
    }
    t.maxn = maxn;
    t.base = -1;
    if (count > 0 && last - t.fields[0].tag + 1 == count)
      t.base = t.fields[0].tag;
    return true;
  }

  bool readProtocol(const uint8_t* p, size_t size, Protocol& pr) {
    const bool read = readRecord(p, size, pr.name, [&](int tag, int value) {
      switch (tag) {
      case 1:
        pr.tag = value;
        return true;
      case 2:
      case 3:
        if (value >= int(types.size()))
          return false;
        (tag == 2 ? pr.request : pr.response) = &types[size_t(value)];
        return true;
      default:
        return false;
      }
    });
    return read && pr.tag >= 0;
  }
};

} // namespace

const Field* Type::findField(int tag) const {
  if (base >= 0) {
    const int i = tag - base;
    if (i < 0 || i >= int(fields.size()))
      return nullptr;
    return &fields[size_t(i)];
  }
  auto it = std::lower_bound(fields.begin(), fields.end(), tag,
                             [](const Field& f, int t) { return f.tag < t; });
  return it != fields.end() && it->tag == tag ? &*it : nullptr;
}

std::unique_ptr<Schema> Schema::fromBundle(const void* data, size_t size) {
  std::unique_ptr<Schema> s(new Schema);
  if (!s->read(static_cast<const uint8_t*>(data), size))
    return nullptr;
  return s;
}

bool Schema::read(const uint8_t* p, size_t size) {
  using namespace wire;
  const int n = structEntries(p, size);
  if (n < 0 || n > 2)
    return false;
  const uint8_t* entries = p + kHeaderSize;
  const uint8_t* item = entries + size_t(n) * kEntrySize;
  const uint8_t* typeData = nullptr;
  const uint8_t* protoData = nullptr;
  uint32_t typeLen = 0, protoLen = 0;
  for (int i = 0; i < n; ++i) {
    if (word(entries + i * kEntrySize) != 0)
      return false;
    const uint32_t len = dword(item);
    (i == 0 ? typeData : protoData) = item + kLengthSize;
    (i == 0 ? typeLen : protoLen) = len;
    item += kLengthSize + len;
  }
  const int typeCount = typeData ? countItems(typeData, typeLen) : 0;
  const int protoCount = protoData ? countItems(protoData, protoLen) : 0;
  if (typeCount < 0 || protoCount < 0)
    return false;
  // Sized once: fields and protocols keep pointers into this vector.
  types_.resize(size_t(typeCount));
  protocols_.resize(size_t(protoCount));
  Reader reader{types_};
  for (int i = 0; i < typeCount; ++i) {
    const uint32_t len = dword(typeData);
    if (!reader.readType(typeData + kLengthSize, len, types_[size_t(i)]))
      return false;
    typeData += kLengthSize + len;
  }
  int lastTag = -1;
  for (int i = 0; i < protoCount; ++i) {
    const uint32_t len = dword(protoData);
    Protocol& pr = protocols_[size_t(i)];
    if (!reader.readProtocol(protoData + kLengthSize, len, pr))
      return false;
    // Lookup by tag is a binary search.
    if (pr.tag <= lastTag)
      return false;
    lastTag = pr.tag;
    protoData += kLengthSize + len;
  }
  return true;
}

const Type* Schema::findType(const char* name) const {
  for (const Type& t : types_) {
    if (t.name == name)
      return &t;
  }
  return nullptr;
}

const Protocol* Schema::findProtocol(const char* name) const {
  for (const Protocol& p : protocols_) {
    if (p.name == name)
      return &p;
  }
  return nullptr;
}

const Protocol* Schema::findProtocol(int tag) const {
  auto it = std::lower_bound(protocols_.begin(), protocols_.end(), tag,
                             [](const Protocol& p, int t) { return p.tag < t; });
  return it != protocols_.end() && it->tag == tag ? &*it : nullptr;
}

const char* kindName(const Field& field) {
  switch (field.kind) {
  case kInteger:
    return "integer";
  case kBoolean:
    return "boolean";
  case kString:
    return "string";
  default:
    return field.structType ? field.structType->name.c_str() : "";
  }
}

} // namespace sproto

// Encoding, decoding and zero packing. Sections: encoder, decoder, packing.
#include "script/SprotoCodec.h"

#include <cstring>

#include "script/SprotoWire.h"

namespace sproto {

using namespace wire;

namespace {

// ---- encoder ----

inline bool fitsInt32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

int fromCallback(int r) {
  return r == kCbTooSmall ? kEncodeTooSmall : kEncodeError;
}

// Writes the elements of an array field at `out` (room `room`). Returns the bytes
// written, 0 when the array has no elements, or an encode error.
int encodeArray(Arg& arg, uint8_t* out, int room, Callback cb) {
  const Field& f = *arg.field;
  int used = 0;
  switch (f.kind) {
  case kInteger: {
    // Elements are written 8 bytes wide first and narrowed at the end when none needs it.
    if (room < 1)
      return kEncodeTooSmall;
    used = 1;
    bool wide = false;
    for (int index = 1;; ++index) {
      int64_t v = 0;
      arg.index = index;
      arg.value = &v;
      arg.length = 8;
      const int r = cb(arg);
      if (r == kCbEndArray || r == kCbNil)
        break;
      if (r < 0)
        return fromCallback(r);
      if (room - used < 8)
        return kEncodeTooSmall;
      const uint64_t u = uint64_t(v);
      putDword(out + used, uint32_t(u));
      putDword(out + used + 4, uint32_t(u >> 32));
      used += 8;
      wide = wide || !fitsInt32(v);
    }
    if (used == 1)
      return 0;
    if (!wide) {
      const int n = (used - 1) / 8;
      for (int i = 0; i < n; ++i)
        std::memmove(out + 1 + i * 4, out + 1 + i * 8, 4);
      used = 1 + n * 4;
    }
    out[0] = wide ? 8 : 4;
    return used;
  }
  case kBoolean:
    for (int index = 1;; ++index) {
      int64_t v = 0;
      arg.index = index;
      arg.value = &v;
      arg.length = 8;
      const int r = cb(arg);
      if (r == kCbEndArray || r == kCbNil)
        break;
      if (r < 0)
        return fromCallback(r);
      if (room - used < 1)
        return kEncodeTooSmall;
      out[used++] = v ? 1 : 0;
    }
    return used;
  default:
    for (int index = 1;; ++index) {
      if (room - used < int(kLengthSize))
        return kEncodeTooSmall;
      arg.index = index;
      arg.value = out + used + kLengthSize;
      arg.length = room - used - int(kLengthSize);
      const int r = cb(arg);
      if (r == kCbEndArray || r == kCbNil)
        break;
      if (r < 0)
        return fromCallback(r);
      putDword(out + used, uint32_t(r));
      used += int(kLengthSize) + r;
    }
    return used;
  }
}

} // namespace

int encode(const Type& type, uint8_t* buffer, int size, Callback cb, void* ud) {
  const int headerRoom = int(kHeaderSize + size_t(type.maxn) * kEntrySize);
  if (size < headerRoom)
    return kEncodeTooSmall;
  uint8_t* entries = buffer + kHeaderSize;
  uint8_t* data = buffer + headerRoom;
  int room = size - headerRoom;
  int count = 0;
  int lastTag = -1;
  for (const Field& f : type.fields) {
    Arg arg;
    arg.ud = ud;
    arg.field = &f;
    arg.kind = f.kind;
    arg.structType = f.structType;
    unsigned entry = 0;
    int item = -1;  // bytes of the data item, -1 for none
    if (f.array) {
      if (room < int(kLengthSize))
        return kEncodeTooSmall;
      const int r = encodeArray(arg, data + kLengthSize, room - int(kLengthSize), cb);
      if (r < 0)
        return r;
      if (r == 0)
        continue;
      item = r;
    } else if (f.kind == kInteger || f.kind == kBoolean) {
      int64_t v = 0;
      arg.value = &v;
      arg.length = 8;
      const int r = cb(arg);
      if (r == kCbNil)
        continue;
      if (r < 0)
        return fromCallback(r);
      if (f.kind == kBoolean) {
        entry = v ? 4 : 2;
      } else if (v >= 0 && v <= 32766) {
        entry = unsigned(v + 1) * 2;
      } else {
        const int len = fitsInt32(v) ? 4 : 8;
        if (room < int(kLengthSize) + len)
          return kEncodeTooSmall;
        const uint64_t u = uint64_t(v);
        putDword(data + kLengthSize, uint32_t(u));
        if (len == 8)
          putDword(data + kLengthSize + 4, uint32_t(u >> 32));
        item = len;
      }
    } else {
      if (room < int(kLengthSize))
        return kEncodeTooSmall;
      arg.value = data + kLengthSize;
      arg.length = room - int(kLengthSize);
      const int r = cb(arg);
      if (r == kCbNil)
        continue;
      if (r < 0)
        return fromCallback(r);
      item = r;
    }
    const int gap = f.tag - lastTag - 1;
    if (gap > 0) {
      const long skip = 2L * gap - 1;
      if (skip > 65535)
        return kEncodeError;
      putWord(entries + count * kEntrySize, unsigned(skip));
      ++count;
    }
    putWord(entries + count * kEntrySize, entry);
    ++count;
    lastTag = f.tag;
    if (item >= 0) {
      putDword(data, uint32_t(item));
      data += kLengthSize + size_t(item);
      room -= int(kLengthSize) + item;
    }
  }
  putWord(buffer, unsigned(count));
  // The header was sized for the worst case; close the gap to the data part.
  const int dataSize = int(data - (buffer + headerRoom));
  const int headerSize = int(kHeaderSize + size_t(count) * kEntrySize);
  if (headerSize < headerRoom)
    std::memmove(buffer + headerSize, buffer + headerRoom, size_t(dataSize));
  return headerSize + dataSize;
}

// ---- decoder ----

namespace {

int decodeArray(Arg& arg, const uint8_t* p, int len, Callback cb) {
  const Field& f = *arg.field;
  int width = 0;
  if (f.kind == kInteger) {
    if (len < 1)
      return -1;
    width = p[0];
    if ((width != 4 && width != 8) || (len - 1) % width != 0)
      return -1;
  }
  arg.phase = ArrayPhase::Begin;
  arg.value = nullptr;
  arg.length = 0;
  if (cb(arg) < 0)
    return -1;
  arg.phase = ArrayPhase::Element;
  int index = 1;
  switch (f.kind) {
  case kInteger:
    for (int at = 1; at < len; at += width, ++index) {
      int64_t v = width == 4 ? int64_t(int32_t(dword(p + at)))
                             : int64_t(uint64_t(dword(p + at)) | uint64_t(dword(p + at + 4)) << 32);
      arg.index = index;
      arg.value = &v;
      arg.length = 8;
      if (cb(arg) < 0)
        return -1;
    }
    break;
  case kBoolean:
    for (int at = 0; at < len; ++at, ++index) {
      int64_t v = p[at] != 0;
      arg.index = index;
      arg.value = &v;
      arg.length = 8;
      if (cb(arg) < 0)
        return -1;
    }
    break;
  default:
    for (int at = 0; at < len; ++index) {
      if (len - at < int(kLengthSize))
        return -1;
      const uint32_t n = dword(p + at);
      at += int(kLengthSize);
      if (n > uint32_t(len - at))
        return -1;
      arg.index = index;
      arg.value = const_cast<uint8_t*>(p + at);
      arg.length = int(n);
      const int r = cb(arg);
      if (r < 0 || (f.kind == kStruct && r != int(n)))
        return -1;
      at += int(n);
    }
    break;
  }
  arg.phase = ArrayPhase::End;
  arg.index = 0;
  arg.value = nullptr;
  arg.length = 0;
  return cb(arg) < 0 ? -1 : 0;
}

} // namespace

int decode(const Type& type, const uint8_t* p, int size, Callback cb, void* ud) {
  if (size < int(kHeaderSize))
    return -1;
  const int n = int(word(p));
  const int headerSize = int(kHeaderSize) + n * int(kEntrySize);
  if (headerSize > size)
    return -1;
  const uint8_t* entries = p + kHeaderSize;
  int at = headerSize;
  int tag = -1;
  for (int i = 0; i < n; ++i) {
    const unsigned v = word(entries + i * kEntrySize);
    ++tag;
    if (v & 1) {
      tag += int(v / 2);
      continue;
    }
    const uint8_t* item = nullptr;
    int len = 0;
    if (v == 0) {
      if (size - at < int(kLengthSize))
        return -1;
      const uint32_t l = dword(p + at);
      if (l > uint32_t(size - at - int(kLengthSize)))
        return -1;
      item = p + at + kLengthSize;
      len = int(l);
      at += int(kLengthSize) + len;
    }
    const Field* f = type.findField(tag);
    if (!f)
      continue;
    Arg arg;
    arg.ud = ud;
    arg.field = f;
    arg.kind = f->kind;
    arg.structType = f->structType;
    if (!item) {
      if (f->array || (f->kind != kInteger && f->kind != kBoolean))
        return -1;
      int64_t value = int64_t(v / 2) - 1;
      arg.value = &value;
      arg.length = 8;
      if (cb(arg) < 0)
        return -1;
      continue;
    }
    if (f->array) {
      if (decodeArray(arg, item, len, cb) < 0)
        return -1;
      continue;
    }
    switch (f->kind) {
    case kInteger: {
      int64_t value;
      if (len == 4)
        value = int32_t(dword(item));
      else if (len == 8)
        value = int64_t(uint64_t(dword(item)) | uint64_t(dword(item + 4)) << 32);
      else
        return -1;
      arg.value = &value;
      arg.length = 8;
      if (cb(arg) < 0)
        return -1;
      break;
    }
    case kString:
    case kStruct: {
      arg.value = const_cast<uint8_t*>(item);
      arg.length = len;
      const int r = cb(arg);
      if (r < 0 || (f->kind == kStruct && r != len))
        return -1;
      break;
    }
    default:
      return -1;
    }
  }
  return at;
}

// ---- packing ----

namespace {

// A raw run of `groups` groups whose input starts at src[from]; the last group may be
// short at the end of the input and is filled with zero bytes.
void writeRun(const uint8_t* src, int size, int from, int groups, uint8_t* dst) {
  dst[0] = 0xFF;
  dst[1] = uint8_t(groups - 1);
  const int bytes = groups * 8;
  const int avail = size - from < bytes ? size - from : bytes;
  std::memcpy(dst + 2, src + from, size_t(avail));
  std::memset(dst + 2 + avail, 0, size_t(bytes - avail));
}

} // namespace

int pack(const uint8_t* src, int size, uint8_t* dst, int capacity) {
  int out = 0;
  int runAt = 0, runFrom = 0, runGroups = 0;
  auto closeRun = [&] {
    if (runAt + 2 + runGroups * 8 <= capacity)
      writeRun(src, size, runFrom, runGroups, dst + runAt);
    runGroups = 0;
  };
  for (int i = 0; i < size; i += 8) {
    uint8_t g[8] = {};
    std::memcpy(g, src + i, size_t(size - i < 8 ? size - i : 8));
    int nonZero = 0;
    uint8_t bitmap = 0;
    for (int b = 0; b < 8; ++b) {
      if (g[b]) {
        ++nonZero;
        bitmap = uint8_t(bitmap | 1 << b);
      }
    }
    if (runGroups > 0 && nonZero >= 6) {
      ++runGroups;
      out += 8;
      if (runGroups == 256)
        closeRun();
      continue;
    }
    if (runGroups > 0)
      closeRun();
    if (nonZero == 8) {
      runAt = out;
      runFrom = i;
      runGroups = 1;
      out += 10;
      continue;
    }
    if (out + 1 + nonZero <= capacity) {
      dst[out] = bitmap;
      int k = out + 1;
      for (int b = 0; b < 8; ++b) {
        if (g[b])
          dst[k++] = g[b];
      }
    }
    out += 1 + nonZero;
  }
  if (runGroups > 0)
    closeRun();
  return out;
}

int unpack(const uint8_t* src, int size, uint8_t* dst, int capacity) {
  int out = 0;
  int at = 0;
  while (at < size) {
    const uint8_t header = src[at++];
    if (header == 0xFF) {
      if (at >= size)
        return -1;
      const int n = (src[at] + 1) * 8;
      ++at;
      if (size - at < n)
        return -1;
      if (out + n <= capacity)
        std::memcpy(dst + out, src + at, size_t(n));
      at += n;
      out += n;
      continue;
    }
    for (int b = 0; b < 8; ++b) {
      uint8_t v = 0;
      if (header & (1 << b)) {
        if (at >= size)
          return -1;
        v = src[at++];
      }
      if (out < capacity)
        dst[out] = v;
      ++out;
    }
  }
  return out;
}

} // namespace sproto

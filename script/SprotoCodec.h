#pragma once
// The sproto encoding of one structure, driven by a caller's value callback, and the zero
// packing of encoded messages. Portable: no system headers.
#include <cstddef>
#include <cstdint>

#include "script/SprotoSchema.h"

namespace sproto {

// Results of an encode callback besides a byte count.
constexpr int kCbError = -1;    // the value is wrong; the callback keeps its own message
constexpr int kCbNil = -2;      // the field (or, for an array, the whole array) is absent
constexpr int kCbEndArray = -3; // no element at this index: the array ends
constexpr int kCbTooSmall = -4; // the value does not fit the room offered

// Results of encode besides a byte count.
constexpr int kEncodeTooSmall = -1;
constexpr int kEncodeError = -2;

enum class ArrayPhase { None, Begin, Element, End };

// One value handed between the codec and its caller.
//
// Encoding: for integers and booleans the callback stores an int64_t at `value` and
// returns 8; for strings it copies at most `length` bytes to `value` and returns the count;
// for structs it encodes the nested structure into `value` (room `length`) and returns
// its size. Array elements are asked for with index 1, 2, ... until kCbEndArray.
//
// Decoding: `value` points at an int64_t for integers and booleans, at the bytes for
// strings and structs (`length` bytes). Arrays are reported as Begin, one Element per
// item (index from 1), End. A struct callback must return the bytes its nested decode
// consumed; any negative result fails the decode.
struct Arg {
  void* ud = nullptr;
  const Field* field = nullptr;
  int kind = 0;
  const Type* structType = nullptr;
  void* value = nullptr;
  int length = 0;
  int index = 0;  // 0 for a single value, else the 1-based array index
  ArrayPhase phase = ArrayPhase::None;
};

using Callback = int (*)(Arg& arg);

// Encodes one structure into buffer[0, size). Returns the byte count, kEncodeTooSmall or
// kEncodeError (a callback failed, or a gap cannot be encoded).
int encode(const Type& type, uint8_t* buffer, int size, Callback cb, void* ud);

// Decodes one structure from data[0, size). Returns the bytes consumed or -1.
int decode(const Type& type, const uint8_t* data, int size, Callback cb, void* ud);

// Upper bound of the packed size of `size` input bytes. A raw run that reaches the end
// of the input is written in whole groups, so the bound is taken over the input rounded
// up to whole groups: 13 bytes can pack to 18.
inline int packBound(int size) {
  const int groups = (size + 7) / 8 * 8;
  return groups + 2 * ((groups + 2047) / 2048);
}

// Zero packing: returns the packed size; writes only when it fits `capacity`.
int pack(const uint8_t* src, int size, uint8_t* dst, int capacity);

// Returns the unpacked size (a multiple of 8), writing only what fits `capacity`, or -1
// for an invalid stream.
int unpack(const uint8_t* src, int size, uint8_t* dst, int capacity);

} // namespace sproto

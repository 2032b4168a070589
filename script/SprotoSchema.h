#pragma once
// A sproto schema read from its binary bundle. Portable: no system headers.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sproto {

// Field kinds; the three built-ins keep the values a bundle's `buildin` member uses.
enum Kind : int { kInteger = 0, kBoolean = 1, kString = 2, kStruct = 3 };

struct Type;

struct Field {
  std::string name;
  int tag = -1;
  int kind = -1;
  bool array = false;
  const Type* structType = nullptr;  // for kStruct
  int key = -1;                      // tag of the main-key field of a map, else -1
};

struct Type {
  std::string name;
  std::vector<Field> fields;  // ascending tag
  int base = -1;              // first tag when the tags are contiguous, else -1
  int maxn = 0;               // fields plus gaps: an upper bound on header entries

  const Field* findField(int tag) const;
};

struct Protocol {
  std::string name;
  int tag = -1;
  const Type* request = nullptr;
  const Type* response = nullptr;
};

// Immutable once built; types point at each other, so the schema is neither copied nor moved.
class Schema {
public:
  // Null when the bundle breaks any of the reading rules.
  static std::unique_ptr<Schema> fromBundle(const void* data, size_t size);

  Schema(const Schema&) = delete;
  Schema& operator=(const Schema&) = delete;

  const std::vector<Type>& types() const { return types_; }
  const std::vector<Protocol>& protocols() const { return protocols_; }
  const Type* findType(const char* name) const;
  const Protocol* findProtocol(const char* name) const;
  const Protocol* findProtocol(int tag) const;

private:
  Schema() = default;
  bool read(const uint8_t* data, size_t size);

  std::vector<Type> types_;
  std::vector<Protocol> protocols_;
};

// The printable name of a field's kind: a built-in name or the struct type's name.
const char* kindName(const Field& field);

} // namespace sproto

// Schema bundles: reading either fails cleanly or gives a schema whose types keep the
// promises the codec relies on; such a schema then encodes and decodes every type.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "script/SprotoCodec.h"
#include "script/SprotoSchema.h"

namespace {

// Decodes nested structs as far as they go and accepts every other value.
int decodeAnything(sproto::Arg& a) {
  if (a.phase == sproto::ArrayPhase::Begin || a.phase == sproto::ArrayPhase::End)
    return 0;
  if (a.kind == sproto::kStruct && a.structType) {
    int* depth = static_cast<int*>(a.ud);
    if (*depth > 16)
      return -1;
    ++*depth;
    const int used = sproto::decode(*a.structType, static_cast<const uint8_t*>(a.value), a.length,
                                    decodeAnything, a.ud);
    --*depth;
    return used < 0 ? -1 : used;
  }
  return 0;
}

int encodeNothing(sproto::Arg&) { return sproto::kCbNil; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::unique_ptr<sproto::Schema> schema = sproto::Schema::fromBundle(data, size);
  if (!schema)
    return 0;
  for (const sproto::Type& type : schema->types()) {
    int gaps = 0;
    for (size_t i = 0; i < type.fields.size(); ++i) {
      const sproto::Field& f = type.fields[i];
      if ((i > 0 && f.tag <= type.fields[i - 1].tag) || (f.kind == sproto::kStruct && !f.structType) ||
          type.findField(f.tag) != &f)
        std::abort();
      gaps += i > 0 && f.tag > type.fields[i - 1].tag + 1;
    }
    if (type.maxn < int(type.fields.size()) + gaps)
      std::abort();
    // An empty value of every type, then the input itself read as that type.
    std::vector<uint8_t> buffer(4096);
    const int n = sproto::encode(type, buffer.data(), int(buffer.size()), encodeNothing, nullptr);
    int depth = 0;
    if (n >= 0 && sproto::decode(type, buffer.data(), n, decodeAnything, &depth) != n)
      std::abort();
    depth = 0;
    sproto::decode(type, data, int(size), decodeAnything, &depth);
  }
  for (const sproto::Protocol& p : schema->protocols())
    if (schema->findProtocol(p.tag) == nullptr)
      std::abort();
  return 0;
}

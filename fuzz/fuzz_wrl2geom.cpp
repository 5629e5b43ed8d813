// The VRML converter: any text must give a mesh or a message, never a fault, a hang or a huge
// allocation.
#include "wrl2geom.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  wrl2geom::Skipped skipped;
  try {
    wrl2geom::Mesh mesh = wrl2geom::Convert(text, "fuzz.wrl", skipped);
    std::size_t total = 0;
    for (int n : mesh.sizes) {
      if (n < 3) __builtin_trap(); // a split face leaves no piece without area
      total += std::size_t(n);
    }
    if (total != mesh.indices.size()) __builtin_trap();
    for (int i : mesh.indices)
      if (i < 0 || std::size_t(i) >= mesh.vertexCount()) __builtin_trap();
  } catch (const wrl2geom::ConvertError &) {
  }
  return 0;
}

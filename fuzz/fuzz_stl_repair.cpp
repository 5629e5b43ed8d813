// The repair sequence alone on small binary meshes: the input's bytes are the facets (50 bytes
// each, as the file holds them) of a file whose header counts them exactly, so that every input
// reaches the library's repairs. Any mesh must be repaired or refused with a message, never make
// the repairs loop (the run's time-out) or fault.
#include "fuzz_support.h"
#include "viewer/readers/readSTLObj.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::size_t facet = 50, most = 64;
  std::size_t count = std::min(size / facet, most);
  if (count == 0) return 0;
  std::string file(80, ' ');
  uint32_t n = static_cast<uint32_t>(count);
  file.append(reinterpret_cast<const char *>(&n), 4);
  file.append(reinterpret_cast<const char *>(data), count * facet);
  FuzzWriteObject("repair.stl", reinterpret_cast<const uint8_t *>(file.data()), file.size());
  STLObjPtr obj(new STLObj);
  std::memset(obj.get(), 0, sizeof(STLObj));
  try {
    STLRepairObj(obj.get(), FuzzDir() + "/repair.stl");
  } catch (const FatalError &) {
  }
  return 0;
}

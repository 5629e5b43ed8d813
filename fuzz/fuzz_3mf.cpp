// The 3MF reader from package to finished model: any input must load or end with a message,
// never a fault, a hang or a runaway allocation. Zip checksums keep most mutations away from the
// model part; fuzz_3mfmodel reaches it directly.
#include "formats/3mf/zipPackage.h"
#include "fuzz_readers.h"
#include "viewer/readers/formatTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  SetInflateBudget(std::size_t(64) << 20);
  FuzzWriteObject("fuzz.3mf", data, size);
  FuzzLoad(kType3MF, Load3MFObject);
  return 0;
}

// The OFF token scanner on its own: every read stays inside the input and moves forward.
#include "fuzz_support.h"
#include "viewer/readers/readPLObj.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const bool binary = data[0] & 1;
  PLStream s{data + 1, data + size};
  for (int guard = 0; guard < 100000; ++guard) {
    const unsigned char *before = s.p;
    int32_t ints[4];
    float floats[4];
    int kind = PLNextChar(s, guard & 3);
    if (kind == PL_EOF) break;
    int got =
        (guard % 3 == 0) ? PLReadInts(s, 4, ints, binary) : PLReadFloats(s, 4, floats, binary);
    if (got < 0 || got > 4 || s.p < before || s.p > s.end) std::abort();
    if (s.p == before) {
      if (PLExpectString(s, "OFF") == 0 && s.p != before + 3) std::abort();
      if (s.p == before) ++s.p; // step over what no reader takes
    }
  }
  return 0;
}

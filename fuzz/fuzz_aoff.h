// Shared by the AOFF fuzz targets: one data kind read from the input, then walked as the
// conversion walks it.
#pragma once

#include "fuzz_support.h"
#include "viewer/aoff/readAOFFObj.h"

inline void FuzzAOFFData(int kind, const uint8_t *data, size_t size) {
  static const char *const kFormats[] = {"fff", "s", "bhifds", "bbb", "fs", "sb", "hf", "d"};
  if (size < 1) return;
  AOFFProp prop;
  prop.format = kFormats[data[0] % (sizeof kFormats / sizeof kFormats[0])];
  std::vector<char> bytes(data + 1, data + size);
  try {
    if (ReadAOFFData(prop, kind, bytes, "fuzz.dat") != 0) return;
    const AOFFValue &v = prop.value;
    double sum = 0;
    for (uint32_t r = 0; r < v.records; ++r)
      for (size_t k = 0; k < v.layout.letters.size(); ++k) {
        sum += v.Number(r, k);
        if (const std::string *t = v.Text(r, k)) sum += double(t->size());
      }
    if (kind == kAOFFIndexedPoly) {
      Part part;
      AOFFGeometryToPart(v, 1, "fuzz.dat", "fuzz", part);
    }
    (void)sum;
  } catch (const FatalError &) {
  }
}

// Header lines: any header must parse, be refused with a message, or convert, never fault. Two
// data files lie beside it for lines that name them.
#include "fuzz_support.h"
#include "viewer/aoff/readAOFFObj.h"

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = [] {
    std::string dir = FuzzDir() + "/";
    if (FILE *f = std::fopen((dir + "fz.geom").c_str(), "w")) {
      std::fputs("4 2 6\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n3 1 2 3\n3 1 3 4\n", f);
      std::fclose(f);
    }
    if (FILE *f = std::fopen((dir + "fz.pnorm").c_str(), "w")) {
      std::fputs("2\n0 0 1\n1 0 0\n", f);
      std::fclose(f);
    }
    if (FILE *f = std::fopen((dir + "fz.pal").c_str(), "w")) {
      std::fputs("2 2\n1 0 0\n0 1 0\n1 2\n", f);
      std::fclose(f);
    }
    return true;
  }();
  (void)ready;
  ForgetAOFFData();
  FuzzWriteObject("fuzz.aoff", data, size);
  try {
    ObjDesc desc = AOFFReadObj();
    Shape *shape = CreateShape(1);
    AOFFFormatObj(desc, *shape);
  } catch (const FatalError &) {
  }
  ReleaseShape();
  return 0;
}

// A bare ".geom" object through header preparation, normal files, header and conversion: side
// files are written and removed for every input; nothing may fault.
#include "fuzz_support.h"
#include "viewer/aoff/readAOFFObj.h"

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ForgetAOFFData();
  FuzzWriteObject("fz.geom", data, size);
  for (const char *side : {"fz.aoff", "fz.pnorm", "fz.vnorm"})
    unlink((FuzzDir() + "/" + side).c_str());
  try {
    CreateShape(1);
    getAOFF(objName);
    processObj(objName);
    MakeNormalFiles(objName);
    ObjDesc desc = AOFFReadObj();
    AOFFFormatObj(desc, *currentShape);
  } catch (const FatalError &) {
  }
  ReleaseShape();
  return 0;
}

#include "viewer/shell/formatLoaders.h"

#include "viewer/aoff/readAOFFObj.h"
#include "viewer/readers/formatTable.h"

namespace {
struct FormatLoader {
  int type;
  Loader load;
};
const FormatLoader kLoaders[] = {
    {kTypeAOFF, LoadAOFFObject}, {kTypeOFF, LoadOFFObject},     {kTypeBYU, LoadBYUObject},
    {kTypePLY, LoadPLYObject},   {kTypeTPOLY, LoadTPOLYObject}, {kTypeSTL, LoadSTLObject},
    {kTypeCOOR, LoadCOORObject}, {kType3DS, Load3DSObject},     {kType3MF, Load3MFObject},
    {kTypeOBJ, LoadOBJObject},   {kTypeGLTF, LoadGLTFObject},
};
} // namespace

Loader LoaderOfType(int type) {
  for (const FormatLoader &row : kLoaders)
    if (row.type == type) return row.load;
  return nullptr;
}

bool CanShow(const FormatRow &row) {
  return LoaderOfType(row.type) || row.converted;
}

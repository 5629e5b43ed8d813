// A 3MF model part as it stands in a package: the XML scan, the model's records and the placing
// of its build into a Part. Any input must load or end with a message.
#include "formats/3mf/model3mf.h"
#include "formats/3mf/zipPackage.h"
#include "fuzz_support.h"
#include "viewer/readers/read3MFObj.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  SetInflateBudget(std::size_t(64) << 20);
  try {
    M3Package package;
    package.models.emplace_back();
    package.models[0].part = "3D/3dmodel.model";
    package.modelByPart.emplace("3d/3dmodel.model", 0);
    Read3MFModel(reinterpret_cast<const char *>(data), size, "fuzz", true, package.models[0]);
    Part part;
    FormatObj3MF(package, part, "fuzz");
    for (uint32_t v : part.facet_vertex_pool)
      if (v >= part.vertices.size()) __builtin_trap();
    if (!part.vertex_colors.empty() && part.vertex_colors.size() != part.vertices.size())
      __builtin_trap();
  } catch (const FatalError &) {
  }
  return 0;
}

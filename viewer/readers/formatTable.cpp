#include "viewer/readers/formatTable.h"

#include <cctype>

// The extensions are searched in this order. VRML worlds are converted into AOFF geometry. The
// dialog's list ends with "All Files" and "All objects", which also reach the formats that have no
// entry of their own.
// clang-format off
const FormatRow kFormats[] = {
  // extension  type        reader          completion           converted
  //   dialog filter: rank, name, pattern
  {".geom",     kTypeAOFF,  "AOFFReadObj",  kCompleteLists,      false,
     {1, "Geom Files (*.geom)", "*.geom*"}},
  {".off",      kTypeOFF,   "PLReadObj",    kCompleteNormalsFit, false,
     {3, "Geomview Files (*.off)", "*.off*"}},
  {".byu",      kTypeBYU,   "BYUReadObj",   kCompleteNormalsFit, false,
     {2, "Movie Files (*.byu)", "*.byu*"}},
  {".ply",      kTypePLY,   "PLYReadObj",   kCompleteNormalsFit, false,
     {6, "Stanford Files (*.ply)", "*.ply*"}},
  {".tpoly",    kTypeTPOLY, "TPOLYReadObj", kCompleteNormalsFit, false,
     {5, "Tria Poly Files (*.tpoly)", "*.tpoly*"}},
  {".stl",      kTypeSTL,   "STLReadObj",   kCompleteFit,        false,
     {4, "Lithography Files (*.stl)", "*.stl*"}},
  {".obj",      kTypeOBJ,   "OBJReadObj",   kCompleteNormalsFit, false,
     {10, "Wavefront Files (*.obj)", "*.obj*"}},
  {".wrl",      kTypeVRML,  nullptr,        kCompleteLists,      true,
     {0, nullptr, nullptr}},
  {".coor",     kTypeCOOR,  "COORReadObj",  kCompleteNormalsFit, false,
     {7, "Viewperf Files (*.coor)", "*.coo*"}},
  {".3ds",      kType3DS,   "3DSReadObj",   kCompleteNormalsFit, false,
     {8, "3D Studio Files (*.3ds)", "*.3ds*"}},
  {".3mf",      kType3MF,   "3MFReadObj",   kCompleteNormalsFit, false,
     {9, "3MF Files (*.3mf)", "*.3mf*"}},
  {".gltf",     kTypeGLTF,  "GLTFReadObj",  kCompleteNormalsFit, false,
     {11, "glTF Files (*.gltf, *.glb)", "*.gltf* *.glb*"}},
  {".glb",      kTypeGLTF,  "GLTFReadObj",  kCompleteNormalsFit, false,
     {0, nullptr, nullptr}},
};
// clang-format on
const std::size_t kFormatCount = sizeof kFormats / sizeof kFormats[0];

FormatRange Formats() {
  return FormatRange{kFormats, kFormats + kFormatCount};
}

const FormatRow *FormatOfType(int type) {
  for (const FormatRow &row : kFormats)
    if (row.type == type) return &row;
  return nullptr;
}

int TypeFromName(const std::string &name) {
  // Letter case does not matter: files from systems that ignore it arrive as "PART.STL".
  std::string lower(name);
  for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const FormatRow &row : kFormats)
    if (lower.find(row.extension) != std::string::npos) return row.type;
  return 0;
}

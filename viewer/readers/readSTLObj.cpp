#include "viewer/readers/readSTLObj.h"

#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/formatTable.h"
#include "viewer/readers/stlCopy.h"
#include "viewer/model/object.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <malloc.h>
#include <new>
#include <vector>

static const char *kModule = "readSTLObj";

// The mesh library keeps its last edge hash table after the nearby check and the hole filling,
// and more on its error paths; freeing it from here is not safe (it frees some of them itself).
// A leak-checking build is told that these blocks are not ours. Weak, so that a program-wide list
// elsewhere takes precedence.
extern "C" __attribute__((weak)) const char *__lsan_default_suppressions() {
  return "leak:libadmesh\n";
}

void STLObjRelease::operator()(STLObj *obj) const {
  if (!obj) return;
  stl_close(obj);
  delete obj;
}

void STLStopOnLibraryError(const STLObj *obj) {
  if (obj->error) fatal(1, "%s", "");
}

static bool AllConnected(const STLObj *obj) {
  return obj->stats.connected_facets_3_edge >= obj->stats.number_of_facets;
}

// The repairs after reading need at least one facet to work on.
static void StopWithoutFacets(const STLObj *obj) {
  if (obj->stats.number_of_facets <= 0)
    fatal(1, "STLReadObj: %s holds no facets\n", objName.c_str());
}

// The library's own opening of a file by name.
static void OpenByName(STLObj *obj, const std::string &path) {
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  errno = 0; // the library's reports end in the system's error text
  stl_open(obj, name.data());
  // The library closes its file after a good read but leaves it open when the read fails: a
  // process that goes on after the failure (a test, a fuzz run) would run out of descriptors.
  if (obj->error && obj->fp) std::fclose(obj->fp);
  obj->fp = nullptr;
}

// No facet keeps three distinct corners.
static bool AllFlat(const STLObj *obj) {
  for (int i = 0; i < obj->stats.number_of_facets; ++i) {
    const stl_vertex *v = obj->facet_start[i].vertex;
    if (std::memcmp(&v[0], &v[1], sizeof v[0]) != 0 && std::memcmp(&v[1], &v[2], sizeof v[0]) &&
        std::memcmp(&v[0], &v[2], sizeof v[0]) != 0)
      return false;
  }
  return true;
}

// The repair after `open` has read the mesh (again, when the first try would leave nothing).
static void Repair(STLObj *obj, const std::function<void()> &open) {
  open();
  STLStopOnLibraryError(obj);
  StopWithoutFacets(obj);
  STLRefuseUnrepairable(obj, objName);

  stl_check_facets_exact(obj);
  STLStopOnLibraryError(obj);
  const bool flatInFile = AllFlat(obj);

  float tolerance = obj->stats.shortest_edge;
  const float increment = obj->stats.bounding_diameter * 0.0001f;
  if (!AllConnected(obj)) {
    for (int i = 0; i < 2; ++i) {
      if (AllConnected(obj)) break;
      stl_check_facets_nearby(obj, tolerance);
      STLStopOnLibraryError(obj);
      tolerance += increment;
    }
  }
  // Nearby matching moves corners onto each other. On a small open patch (a boundary strip of a
  // few facets) its tolerance, the shortest edge, can fold every facet flat, and the removal of
  // unconnected facets would then leave nothing. The repair may fill holes, but never turn a
  // file with facets into an object without: such a mesh is read again and kept as the file has
  // it, without nearby matching and removal.
  bool keep = !AllConnected(obj) && !flatInFile && AllFlat(obj);
  // Removing the facets that touch no other would leave nothing of a mesh in which no facet
  // touches another (loose triangles): such a mesh keeps its facets.
  if (!keep && !AllConnected(obj) && obj->stats.connected_facets_1_edge > 0) {
    stl_remove_unconnected_facets(obj);
    STLStopOnLibraryError(obj);
    keep = obj->stats.number_of_facets <= 0;
  }
  if (keep) {
    stl_close(obj);
    std::memset(obj, 0, sizeof *obj);
    open();
    STLStopOnLibraryError(obj);
    StopWithoutFacets(obj);
    stl_check_facets_exact(obj);
    STLStopOnLibraryError(obj);
  }
  if (!AllConnected(obj)) {
    STLRefuseBrokenNeighbours(obj, objName);
    stl_fill_holes(obj);
    STLStopOnLibraryError(obj);
  }
  stl_fix_normal_directions(obj);
  STLStopOnLibraryError(obj);
  stl_fix_normal_values(obj);
  STLStopOnLibraryError(obj);
  stl_calculate_volume(obj);
  STLStopOnLibraryError(obj);
  // This library version only measures the volume: a negative one means every facet is wound
  // inward, and the library's own reversal turns them all outward.
  if (obj->stats.volume < 0.0f) {
    stl_reverse_all_facets(obj);
    STLStopOnLibraryError(obj);
    obj->stats.volume = -obj->stats.volume;
  }
  stl_verify_neighbors(obj);
  STLStopOnLibraryError(obj);
}

int STLRepairObj(STLObj *obj, const std::string &path) {
  Repair(obj, [obj, &path] { OpenByName(obj, path); });
  return 1;
}

STLObjPtr STLReadObj() {
  return STLReadFound(FindObjectFile(kTypeSTL, objName));
}

STLObjPtr STLReadFound(FoundFile found) {
  const std::string path = found.path;
  STLCopy copy;
  const bool byName = !copy.Make(found);

  STLObjPtr obj(new (std::nothrow) STLObj);
  if (!obj) allocFailed("STLObj", 1, __LINE__, kModule);
  std::memset(obj.get(), 0, sizeof(STLObj));
  STLObj *mesh = obj.get();
  Repair(mesh, byName ? std::function<void()>([mesh, &path] { OpenByName(mesh, path); })
                      : std::function<void()>([mesh, &copy] { copy.Open(mesh); }));
  return obj;
}

bool STLClosed(const STLObj &obj) {
  if (!obj.neighbors_start || obj.stats.number_of_facets <= 0) return false;
  for (int f = 0; f < obj.stats.number_of_facets; ++f)
    for (int k = 0; k < 3; ++k)
      if (obj.neighbors_start[f].neighbor[k] < 0) return false;
  return true;
}

void LoadSTLObject() {
  STLAdoptObject(STLReadObj());
}

void STLAdoptObject(STLObjPtr obj) {
  const bool closed = STLClosed(*obj);
  STLFormatObj(*obj, *currentShape);
  currentShape->part->fronts_known = closed ? 1 : 0;
  obj.reset();
  // The repair's many small blocks are free now but still held by the allocator; the vertex
  // lists that come next can have that memory.
  malloc_trim(0);
}

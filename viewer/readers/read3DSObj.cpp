#include "viewer/readers/read3DSObj.h"

#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/formatTable.h"
#include "viewer/model/object.h"

#include <new>

// A chunk id (16 bits) and its length (32 bits).
static const std::size_t kChunkHeaderSize = 6;

std::unique_ptr<H3dsScene> ReadObj3DS(std::string *path) {
  FoundFile found = FindObjectFile(kReader3DS, objName);
  std::unique_ptr<H3dsScene> scene;
  try {
    scene.reset(new H3dsScene());
  } catch (const std::bad_alloc &) {
    allocFailed("H3dsScene", 1, __LINE__, "read3DSObj");
  }
  std::vector<char> data = ReadWholeFile(found.file.get(), "read3DSObj");
  found.file.reset();
  // With no chunk at all the walk would find nothing and the load would pass for an empty object.
  if (data.empty()) fatal(1, "3DSReadObj: %s is an empty file\n", found.path.c_str());
  if (data.size() < kChunkHeaderSize)
    fatal(1, "3DSReadObj: %s is too short to hold a 3DS chunk (%zu bytes)\n", found.path.c_str(),
          data.size());
  Walk3DSChunks(reinterpret_cast<const unsigned char *>(data.data()), data.size(), *scene,
                found.path);
  if (path) *path = found.path;
  return scene;
}

void Load3DSObject() {
  std::string path;
  std::unique_ptr<H3dsScene> scene = ReadObj3DS(&path);
  FormatObj3DS(*scene, *currentShape->part, path);
}

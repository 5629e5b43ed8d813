#include "viewer/readers/read3DSObj.h"

#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/formatTable.h"
#include "viewer/model/object.h"

#include <new>

static const char *const kModule = "read3DSObj";

// A chunk id (16 bits) and its length (32 bits).
static const std::size_t kChunkHeaderSize = 6;
// The id of the chunk that holds a whole 3DS file.
static const unsigned kMainChunk = 0x4D4D;

std::unique_ptr<H3dsScene> ReadObj3DS(std::string *path) {
  ObjectFile object = ReadObjectFile(kType3DS, objName, kModule);
  const FileContents &data = object.data;
  std::unique_ptr<H3dsScene> scene;
  ALLOC_OR_REPORT("H3dsScene", 1, kModule, scene.reset(new H3dsScene()));
  // With no chunk at all the walk would find nothing and the load would pass for an empty object.
  if (data.empty()) fatal(1, "3DSReadObj: %s is an empty file\n", object.path.c_str());
  if (data.size() < kChunkHeaderSize)
    fatal(1, "3DSReadObj: %s is too short to hold a 3DS chunk (%zu bytes)\n", object.path.c_str(),
          data.size());
  // Any file holds some chunk-shaped bytes: only one that opens with the main chunk is a 3DS file.
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(data.data());
  if ((bytes[0] | bytes[1] << 8) != kMainChunk)
    fatal(1, "3DSReadObj: %s is not a 3DS file: it does not begin with the main chunk\n",
          object.path.c_str());
  Walk3DSChunks(reinterpret_cast<const unsigned char *>(data.data()), data.size(), *scene,
                object.path);
  if (path) *path = object.path;
  return scene;
}

void Load3DSObject() {
  std::string path;
  std::unique_ptr<H3dsScene> scene = ReadObj3DS(&path);
  FormatObj3DS(*scene, *currentShape->part, path);
}

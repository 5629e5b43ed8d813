#include "viewer/readers/read3MFObj.h"

#include "base/fatal.h"
#include "viewer/model/object.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/formatTable.h"

static const char *const kModule = "read3MFObj";

void ReadObj3MF(M3Package &package, std::string *path) {
  ObjectFile object = ReadObjectFile(kType3MF, objName, kModule);
  Read3MFPackage(object.data.data(), object.data.size(), object.path, package);
  if (path) *path = object.path;
}

void Load3MFObject() {
  std::string path;
  M3Package package;
  ReadObj3MF(package, &path);
  FormatObj3MF(package, *currentShape->part, path);
}

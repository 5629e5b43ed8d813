// In-process runs of the part readers over files written into a scratch directory.
#pragma once

#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/partReaders.h"
#include "viewer/shell/shell.h"
#include "support.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using PartReader = std::unique_ptr<Part> (*)();

inline std::unique_ptr<Part> ReadPartFrom(const TempDir &dir, const std::string &name,
                                          PartReader reader) {
  setenv("OBJ_PATH", dir.path().c_str(), 1);
  ResetSearchDirs();
  objName = name;
  return reader();
}

// The failure a reader ends the run with; status -100 when it returned instead.
struct Failure {
  int status = -100;
  std::string message;
};

inline Failure ReadPartFailure(const TempDir &dir, const std::string &name, PartReader reader) {
  Failure f;
  try {
    ReadPartFrom(dir, name, reader);
  } catch (const FatalError &e) {
    f.status = e.status;
    f.message = e.what();
  }
  return f;
}

// Facet k's indices.
inline std::vector<uint32_t> FacetIndices(const Part &part, uint32_t k) {
  const uint32_t *p = part.facetVertices(k);
  return std::vector<uint32_t>(p, p + part.facets[k].count);
}

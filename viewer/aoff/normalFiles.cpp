// The normal files of an AOFF object: an AOFF object gets its normals from files, computed here
// from the geometry with the normals module's arithmetic, whose name its allocation reports carry.
#include "viewer/aoff/readAOFFObj.h"

#include "base/fatal.h"
#include "base/files.h"
#include "viewer/model/normalsObj.h"

#include <cstdio>
#include <string>

static const char *kModule = "normalsObj";

// Normal files of an AOFF object: "%d\n" with the count, then one "%f\t%f\t%f\n" line each.
static std::string NormalFileText(const std::vector<Vector> &normals) {
  std::string out;
  out.reserve(normals.size() * 30 + 16);
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%d\n", static_cast<int>(normals.size()));
  out.append(buf, static_cast<std::size_t>(n));
  for (const Vector &v : normals) {
    AppendFixed6(out, v.x);
    out += '\t';
    AppendFixed6(out, v.y);
    out += '\t';
    AppendFixed6(out, v.z);
    out += '\n';
  }
  return out;
}

void MakeNormalFiles(const std::string &name) {
  AOFFFiles files;
  if (!AOFFFilesOf(name, files)) return;
  const std::string &stem = files.stem, &header = files.header, &geom = files.geom;
  const std::string &pnorm = files.pnorm, &vnorm = files.vnorm;

  if (!FileExistsAt(header)) fatal(1, "File \"%s\" does not exist 3\n", header.c_str());
  bool namesPnorm = false, namesVnorm = false;
  int base = 1;
  FileIdentity headerRead;
  for (const std::string &chunk : ReadChunks(header, 80, &headerRead)) {
    if (chunk.find("pnorm") != std::string::npos) namesPnorm = true;
    if (chunk.find("vnorm") != std::string::npos) namesVnorm = true;
    if (chunk.find("facet_offset") != std::string::npos) {
      char a[80], b[80], c[80];
      std::sscanf(chunk.c_str(), "%79s%79s%79s%d", a, b, c, &base);
    }
  }
  bool havePnorm = FileExistsAt(pnorm), haveVnorm = FileExistsAt(vnorm);
  std::string lines;
  if (!namesPnorm) lines += "polygon_normals\t\tgeneric\t\tfff\t\t" + stem + ".pnorm\n";
  if (!namesVnorm) lines += "vertex_normals\t\tgeneric\t\tfff\t\t" + stem + ".vnorm\n";
  if (!havePnorm || !haveVnorm) lines += "\n";
  if (!lines.empty())
    AppendToHeader(header, headerRead, lines, "Cannot open file %s for apending\n");
  if (havePnorm && haveVnorm) return;

  AOFFValue g = ReadGeomFile(geom, "File \"%s\" does not exist 4\n");
  Part part;
  AOFFGeometryToPart(g, base, stem + ".geom", kModule, part);
  g = AOFFValue();
  // The normals follow the data file's own vertex order, as in normal files other programs
  // write: "vertex_order" and "back_faces" act on both alike when the header is read (a clockwise
  // object comes with "back_faces reverse", which turns these normals outward). A normal file
  // that is there is kept, whoever made it: only a missing one is written, as a new file.
  ComputeFacetNormals(part);
  if (!havePnorm)
    WriteSideFile(pnorm, NormalFileText(part.polygon_normals), FileIdentity(), false,
                  "Cannot open file %s\n");
  if (!haveVnorm) {
    ComputeVertexNormals(part);
    WriteSideFile(vnorm, NormalFileText(part.vertex_normals), FileIdentity(), false,
                  "Cannot open file %s\n");
  }
}

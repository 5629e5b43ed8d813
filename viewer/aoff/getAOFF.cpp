#include "viewer/aoff/readAOFFObj.h"

#include "base/fatal.h"
#include "base/files.h"
#include "base/signals.h"
#include "viewer/model/object.h"

#include <cstdio>
#include <sys/stat.h>

bool AOFFStem(const std::string &name, std::string &stem) {
  std::size_t n = name.size();
  bool ok = n >= 5 && (name.compare(n - 4, 4, "aoff") == 0 || name.compare(n - 4, 4, "geom") == 0);
  if (!ok) {
    warn("Error file \"%s\" -- Incorrect or invalid extension\n", name.c_str());
    return false;
  }
  stem = name.substr(0, n - 5);
  return true;
}

std::vector<std::string> ReadChunks(const std::string &path, std::size_t buffer) {
  FILE *f = std::fopen(path.c_str(), "r");
  if (!f) fatal(1, "Cannot open file %s for readin\n", path.c_str());
  std::vector<std::string> chunks;
  std::vector<char> line(buffer);
  while (std::fgets(line.data(), static_cast<int>(buffer), f)) chunks.emplace_back(line.data());
  std::fclose(f);
  return chunks;
}

void AppendToHeader(const std::string &path, const std::string &lines, const char *failFormat) {
  HoldEndSignals hold;
  // A header whose last line has no newline would run into the first appended line.
  bool needNewline = false;
  if (FILE *r = std::fopen(path.c_str(), "rb")) {
    if (std::fseek(r, -1, SEEK_END) == 0) needNewline = std::fgetc(r) != '\n';
    std::fclose(r);
  }
  FILE *f = std::fopen(path.c_str(), "a");
  if (!f) fatal(1, failFormat, path.c_str());
  if (needNewline) std::fputc('\n', f);
  std::fwrite(lines.data(), 1, lines.size(), f);
  if (std::fclose(f) != 0) fatal(1, failFormat, path.c_str());
}

AOFFValue ReadGeomFile(const std::string &path, const char *missingFormat) {
  if (!FileExistsAt(path)) fatal(1, missingFormat, path.c_str());
  struct stat st;
  FILE *f = OpenRegularFile(path, st);
  if (!f) fatal(1, "Cannot open file %s for readin\n", path.c_str());
  AOFFProp prop;
  prop.format = "fff";
  if (ReadAOFFOpenFile(prop, kAOFFIndexedPoly, f, st, path) != 0)
    fatal(1, "Cannot read geometry file %s\n", path.c_str());
  // A binary file lists sizes and indices apart; they must agree before anyone walks them.
  long long sum = 0;
  for (int32_t k : prop.value.sizes) {
    if (k < 0) fatal(1, "Geometry file %s holds a polygon of %d vertices\n", path.c_str(), k);
    sum += k;
  }
  if (sum != static_cast<long long>(prop.value.indices.size()))
    fatal(1, "Geometry file %s: its polygon sizes add up to %lld but it holds %zu indices\n",
          path.c_str(), sum, prop.value.indices.size());
  return std::move(prop.value);
}

bool AOFFFilesOf(const std::string &name, AOFFFiles &files) {
  std::size_t slash = name.rfind('/');
  std::string bare = slash == std::string::npos ? name : name.substr(slash + 1);
  if (!AOFFStem(bare, files.stem)) return false;
  std::string at = GetObjPath() + "/" + files.stem;
  files.header = at + ".aoff";
  files.geom = at + ".geom";
  files.pnorm = at + ".pnorm";
  files.vnorm = at + ".vnorm";
  return true;
}

void getAOFF(std::string &name) {
  AOFFFiles files;
  if (!AOFFFilesOf(name, files)) return;
  std::string header = files.stem + ".aoff";
  if (!FileExistsAt(files.header)) {
    HoldEndSignals hold;
    FILE *f = std::fopen(files.header.c_str(), "a");
    if (!f) fatal(1, "Error -- %s does not exist 2\n", header.c_str());
    std::fprintf(f, "\ngeometry\t\tindexed_poly\tfff\t\t%s\n", (files.stem + ".geom").c_str());
    if (std::fclose(f) != 0) fatal(1, "Error -- %s does not exist 2\n", header.c_str());
  }
  name = name.substr(0, name.rfind('/') + 1) + header;
}

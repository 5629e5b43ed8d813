#include "viewer/aoff/readAOFFObj.h"

#include "base/fatal.h"
#include "base/files.h"
#include "base/signals.h"
#include "viewer/model/object.h"

#include <cmath>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

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

std::vector<std::string> ReadChunks(const std::string &path, std::size_t buffer, FileIdentity *id) {
  struct stat st;
  FilePtr f(OpenRegularFile(path, st));
  if (!f) fatal(1, "Cannot open file %s for readin\n", path.c_str());
  if (id) *id = IdentityOf(st);
  std::vector<char> text = ReadWholeFile(f.get(), "char");
  // As a line reader with a buffer of `buffer` bytes hands them out: a longer line in pieces.
  std::vector<std::string> chunks;
  std::size_t i = 0, most = buffer > 1 ? buffer - 1 : 1;
  while (i < text.size()) {
    std::size_t end = i;
    while (end < text.size() && end - i < most && text[end] != '\n') ++end;
    if (end < text.size() && end - i < most && text[end] == '\n') ++end;
    chunks.emplace_back(text.data() + i, end - i);
    i = end;
  }
  return chunks;
}

void WriteSideFile(const std::string &path, const std::string &contents,
                   const FileIdentity &expected, bool durable, const char *failFormat) {
  if (!objFolder.isPrivate && objFolder.keepUntouched) throw SideFileNotWritten{path, ""};
  std::string why;
  if (TryReplaceFile(path, contents, expected, durable, why)) return;
  if (objFolder.isPrivate) fatal(1, failFormat, path.c_str());
  throw SideFileNotWritten{path, why};
}

void AppendToHeader(const std::string &path, const FileIdentity &read, const std::string &lines,
                    const char *failFormat) {
  struct stat st;
  FilePtr f(OpenRegularFile(path, st));
  if (!f) fatal(1, failFormat, path.c_str());
  // What is appended to must be the header that was read: one saved meanwhile is left alone.
  if (!SameFile(IdentityOf(st), read))
    throw SideFileNotWritten{path, "it changed while it was read"};
  std::vector<char> old = ReadWholeFile(f.get(), "char");
  f.reset();
  std::string text(old.begin(), old.end());
  // A header whose last line has no newline would run into the first appended line.
  if (!text.empty() && text.back() != '\n') text += '\n';
  WriteSideFile(path, text + lines, read, true, failFormat);
}

AOFFValue ReadGeomFile(const std::string &path, const char *missingFormat, FileIdentity *id) {
  if (!FileExistsAt(path)) fatal(1, missingFormat, path.c_str());
  struct stat st;
  FILE *f = OpenRegularFile(path, st);
  if (!f) fatal(1, "Cannot open file %s for readin\n", path.c_str());
  if (id) *id = IdentityOf(st);
  AOFFProp prop;
  prop.format = "fff";
  if (ReadAOFFOpenFile(prop, kAOFFIndexedPoly, f, st, path) != 0)
    fatal(1, "Cannot read geometry file %s\n", path.c_str());
  // A coordinate that is no finite float would become an infinite scale or translation in the
  // header.
  for (uint32_t v = 0; v < prop.value.records; ++v)
    for (std::size_t k = 0; k < 3; ++k) {
      double x = prop.value.Number(v, k);
      if (!std::isfinite(static_cast<float>(x)))
        fatal(1,
              "Geometry file %s: vertex %u: coordinate %g is not a finite single-precision "
              "number\n",
              path.c_str(), v + 1, x);
    }
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
  if (!FileExistsAt(files.header))
    WriteSideFile(files.header, "\ngeometry\t\tindexed_poly\tfff\t\t" + files.stem + ".geom\n",
                  FileIdentity(), true, "Error -- %s does not exist 2\n");
  name = name.substr(0, name.rfind('/') + 1) + header;
}

namespace {

// The data files a header names, other than the object's own four.
std::vector<std::string> OtherDataFiles(const AOFFFiles &files) {
  std::vector<std::string> names;
  if (FileKindAt(files.header) != FileKind::kRegular) return names;
  for (const std::string &line : ReadChunks(files.header, 256)) {
    auto [property, rest] = SplitFirstWord(line);
    auto [kind, rest2] = SplitFirstWord(rest);
    auto [format, file] = SplitFirstWord(rest2);
    if (kind != "generic" && kind != "indexed" && kind != "indexed_poly") continue;
    if (file.empty() || file.find('/') != std::string::npos) continue;
    bool own = false;
    for (const char *ext : {".aoff", ".geom", ".pnorm", ".vnorm"})
      own = own || file == files.stem + ext;
    if (!own) names.push_back(file);
  }
  return names;
}

// The object's files as they are now, into the private folder, where the preparation may write:
// copies of what it writes, links to the other data files the header names.
void MoveToPrivateFolder(const AOFFFiles &files) {
  std::string home = GetObjPath();
  const std::string &dir = PrivateFolder();
  std::string why;
  for (const std::string *path : {&files.header, &files.geom, &files.pnorm, &files.vnorm}) {
    if (!FileExistsAt(*path)) continue;
    std::string copy = dir + path->substr(path->rfind('/'));
    if (!CopyRegularFile(*path, copy, why))
      fatal(1, "%s cannot be copied into %s: %s\n", path->c_str(), dir.c_str(), why.c_str());
  }
  for (const std::string &name : OtherDataFiles(files)) {
    std::string from = home + "/" + name;
    if (!from.empty() && from[0] != '/') {
      std::vector<char> cwd(4096);
      if (getcwd(cwd.data(), cwd.size())) from = std::string(cwd.data()) + "/" + from;
    }
    if (FileExistsAt(home + "/" + name)) symlink(from.c_str(), (dir + "/" + name).c_str());
  }
  UsePrivateFolder();
}

void PrepareHere(std::string &name) {
  getAOFF(name);
  processObj(name);
  MakeNormalFiles(name);
}

} // namespace

void PrepareAOFFObject(std::string &name) {
  std::string original = name;
  try {
    // Another load of this object waits until this one has its files ready, and then finds
    // them so.
    FolderLock lock(GetObjPath());
    PrepareHere(name);
    return;
  } catch (const SideFileNotWritten &e) {
    AOFFFiles files;
    AOFFFilesOf(original, files);
    if (!e.why.empty())
      warn("Warning: %s is left as it is (%s); the object is read from a corrected copy\n",
           e.path.c_str(), e.why.c_str());
    MoveToPrivateFolder(files);
  }
  name = original;
  PrepareHere(name);
}

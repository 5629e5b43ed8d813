#include "viewer/aoff/readAOFFObj.h"

#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/shell/loadObj.h"
#include "viewer/shell/shell.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool FileExistsAt(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

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

// The file a path finally names, links followed (also a link whose target does not exist yet).
static std::string FollowLinks(const std::string &path) {
  std::string at = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    std::vector<char> buf(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    ssize_t n = readlink(at.c_str(), buf.data(), buf.size());
    if (n < 0 || static_cast<std::size_t>(n) >= buf.size()) return at;
    std::string target(buf.data(), static_cast<std::size_t>(n));
    std::size_t slash = at.rfind('/');
    if (!target.empty() && target[0] != '/' && slash != std::string::npos)
      target = at.substr(0, slash + 1) + target;
    at = target;
  }
  return at;
}

static bool WriteAll(int fd, const std::string &contents) {
  std::size_t done = 0;
  while (done < contents.size()) {
    ssize_t n = write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes over the file itself: what links to it keeps seeing it, and its owner and permissions
// stay, but a failure half-way leaves it half-written.
static bool RewriteInPlace(const std::string &target, const std::string &contents, bool durable) {
  int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, contents);
  ok = ok && ftruncate(fd, static_cast<off_t>(contents.size())) == 0;
  if (durable) ok = ok && fsync(fd) == 0;
  return close(fd) == 0 && ok;
}

void ReplaceFile(const std::string &path, const std::string &contents, const char *failFormat,
                 bool durable) {
  HoldEndSignals hold;
  // Through a link the file it names is rewritten; the link stays as it is.
  std::string target = FollowLinks(path);
  struct stat old;
  bool exists = stat(target.c_str(), &old) == 0;
  // A file the user protected is not replaced, not even by someone the system would let write
  // it: the rename below would get past the protection where an open for writing would not.
  if (exists &&
      (!S_ISREG(old.st_mode) || access(target.c_str(), W_OK) != 0 || (old.st_mode & 0222) == 0))
    fatal(1, failFormat, path.c_str());
  // A file with other names (hard links) is rewritten where it is, or they would keep the old
  // contents.
  if (!exists || old.st_nlink == 1) {
    std::string temp = target + ".tmpXXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd >= 0) {
      // The file keeps its owner and permissions; a new one gets the usual permissions, not
      // mkstemp's private ones. An owner we cannot give it sends us to the in-place rewrite.
      mode_t mode;
      bool owned = true;
      if (exists) {
        mode = old.st_mode & 07777;
        if (old.st_uid != geteuid() || old.st_gid != getegid())
          owned = fchown(fd, old.st_uid, old.st_gid) == 0;
      } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
      }
      if (owned) {
        bool ok = WriteAll(fd, contents);
        if (durable) ok = ok && fsync(fd) == 0;
        ok = fchmod(fd, mode) == 0 && ok;
        ok = close(fd) == 0 && ok;
        if (!ok || std::rename(temp.c_str(), target.c_str()) != 0) {
          unlink(temp.c_str());
          fatal(1, failFormat, path.c_str());
        }
        return;
      }
      close(fd);
      unlink(temp.c_str());
    }
    // No temporary file can be made beside it (a folder we may not write): the file itself is
    // rewritten, as writable files are.
  }
  if (!RewriteInPlace(target, contents, durable)) fatal(1, failFormat, path.c_str());
}

AOFFValue ReadGeomFile(const std::string &path, const char *missingFormat) {
  if (!FileExistsAt(path)) fatal(1, missingFormat, path.c_str());
  FILE *f = std::fopen(path.c_str(), "rb");
  struct stat st;
  if (f && (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode))) {
    std::fclose(f);
    f = nullptr;
  }
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

static std::string ObjDir() {
  return GetObjPath() + "/";
}

void getAOFF(std::string &name) {
  std::size_t slash = name.rfind('/');
  std::string bare = slash == std::string::npos ? name : name.substr(slash + 1);
  std::string stem;
  if (!AOFFStem(bare, stem)) return;
  std::string header = stem + ".aoff";
  std::string headerPath = ObjDir() + header;
  if (!FileExistsAt(headerPath)) {
    HoldEndSignals hold;
    FILE *f = std::fopen(headerPath.c_str(), "a");
    if (!f) fatal(1, "Error -- %s does not exist 2\n", header.c_str());
    std::fprintf(f, "\ngeometry\t\tindexed_poly\tfff\t\t%s\n", (stem + ".geom").c_str());
    if (std::fclose(f) != 0) fatal(1, "Error -- %s does not exist 2\n", header.c_str());
  }
  name = (slash == std::string::npos ? std::string() : name.substr(0, slash + 1)) + header;
}

// External commands for compressed objects and the VRML converter. Every command line goes through
// the shell, so every piece that comes from a file or folder name is quoted; only the final "*"
// of a pattern stays bare so that it still matches the object's side files. The command words
// themselves (COMPRESS_PATH, COPY_COMMAND, ...) are the installer's and are used as written.
#include "loadObj.h"

#include "fatal.h"
#include "shell.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const char *const kModule = "loadObj";

// What Decompress did, so that the restore knows what to undo even when the load was cut short.
struct DecompressState {
  bool active = false;
  int kind = 0;
  std::string scratch; // private folder holding the copies of a read-only object, else ""
};
DecompressState state;

const char *DecompressTool(int kind) {
  return kind == 1 ? "gzip -qfd" : "uncompress";
}
// "-f": compress leaves a file that would not shrink as it is, which would leave a small object
// decompressed for good.
const char *CompressTool(int kind) {
  return kind == 1 ? "gzip" : "compress -f";
}
const char *Suffix(int kind) {
  return kind == 1 ? ".gz" : ".Z";
}

bool EndsWith(const std::string &s, const char *suffix) {
  std::size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

std::string EnvOr(const char *name, const std::string &fallback) {
  const char *v = std::getenv(name);
  return v ? std::string(v) : fallback;
}

bool IsExecutableFile(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The directory along PATH that holds an executable `program`, or "".
std::string DirOnPath(const std::string &program) {
  std::string path = EnvOr("PATH", "");
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(start, end - start);
    if (dir.empty()) dir = ".";
    if (IsExecutableFile(dir + "/" + program)) return dir;
    start = end + 1;
  }
  return std::string();
}

// A folder as a shell word. A relative folder gets "./" so that a name beginning with "-" can
// never be taken for an option; the empty folder (the root) stays empty before its "/".
std::string DirWord(const std::string &dir) {
  if (dir.empty()) return std::string();
  if (dir[0] == '/') return ShellQuote(dir);
  return ShellQuote("./" + dir);
}

// objName without its compression suffix, cut after its last dot: "hand.geom.gz" -> "hand.".
std::string PatternStem(std::string name) {
  if (EndsWith(name, ".gz"))
    name.resize(name.size() - 3);
  else if (EndsWith(name, ".Z"))
    name.resize(name.size() - 2);
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot + 1);
  return name;
}

// The pattern of every file of the object in `dir`, as shell words.
std::string PatternWord(const std::string &dir, const std::string &name) {
  std::string stem = PatternStem(name);
  std::string word = DirWord(dir) + "/" + ShellQuote(stem);
  // Without a dot there is no extension to widen; the name then stands for itself.
  if (!stem.empty() && stem.back() == '.') word += "*";
  return word;
}

// The tool of a compression kind with its folder: COMPRESS_PATH as the installer wrote it, else
// the folder on PATH that holds the kind's own tool, else the bare tool for the shell to look up.
std::string ToolCommand(int kind, const char *tool) {
  if (const char *dir = std::getenv("COMPRESS_PATH")) return std::string(dir) + "/" + tool;
  std::string dir = DirOnPath(kind == 1 ? "gzip" : "uncompress");
  if (dir.empty()) return tool;
  return DirWord(dir) + "/" + tool;
}

std::string TmpPath() {
  if (const char *v = std::getenv("TMP_PATH")) return v;
  const char *tmpdir = std::getenv("TMPDIR");
  return tmpdir && *tmpdir ? std::string(tmpdir) : std::string("/tmp");
}

bool DirIsReadOnly(const std::string &dir) {
  if (access(dir.empty() ? "/" : dir.c_str(), W_OK) == 0) return false;
  return errno == EACCES || errno == EROFS || errno == EPERM;
}

// True when every file of the object's pattern in `dir` carries the kind's suffix. Otherwise
// decompressing in place would overwrite an uncompressed twin ("hand.off" beside "hand.off.gz"),
// and compressing the pattern afterwards would compress files the user kept uncompressed.
bool OnlyCompressedFiles(const std::string &dir, const std::string &name, int kind) {
  std::string stem = PatternStem(name);
  DIR *d = opendir(dir.empty() ? "/" : dir.c_str());
  if (!d) return true; // the decompress command will report what is wrong
  bool only = true;
  while (struct dirent *e = readdir(d)) {
    std::string entry = e->d_name;
    if (entry.compare(0, stem.size(), stem) == 0 && !EndsWith(entry, Suffix(kind))) {
      only = false;
      break;
    }
  }
  closedir(d);
  return only;
}

bool FileExists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Undoes what Decompress did: removes the scratch copies with their folder, or compresses the
// object's files again in place.
void Restore(const std::string &objPath, const std::string &name) {
  if (!state.active) return;
  int kind = state.kind;
  std::string scratch = state.scratch;
  state = DecompressState();
  if (!scratch.empty()) {
    RunCommand(EnvOr("REMOVE_COMMAND", "rm -f") + " " + PatternWord(scratch, name));
    if (rmdir(scratch.c_str()) != 0 && errno != ENOENT)
      warn("Scratch folder %s could not be removed: %s\n", scratch.c_str(), std::strerror(errno));
    return;
  }
  if (FileExists(objPath + "/" + name))
    RunCommand(ToolCommand(kind, CompressTool(kind)) + " " + PatternWord(objPath, name));
}

// Last line of defence for a run that ends through exit() while the object is decompressed (a
// window-system failure inside the toolkit, for instance).
void RestoreAtExit() {
  try {
    Restore(GetObjPath(), objName);
  } catch (...) {
  }
}

} // namespace

std::string ShellQuote(const std::string &text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  quoted += "'";
  return quoted;
}

int RunCommand(const std::string &command, bool warningIsFailure) {
  std::fflush(stdout);
  std::fflush(stderr);
  int rc = std::system(command.c_str());
  int status;
  if (rc == -1)
    status = -1;
  else if (WIFEXITED(rc))
    status = WEXITSTATUS(rc);
  else
    status = 128 + (WIFSIGNALED(rc) ? WTERMSIG(rc) : 0);
  // Status 2 is how the compression tools report a mere warning ("unknown suffix", "would not
  // shrink"); anything else non-zero means the command did not do its work.
  if (status != 0 && (status != 2 || warningIsFailure))
    warn("Command failed (exit status %d): %s\n", status, command.c_str());
  return status;
}

int CompressionKind() {
  if (EndsWith(objName, ".gz")) return 1;
  if (EndsWith(objName, ".Z")) return 2;
  return 0;
}

void Decompress(int kind) {
  if (kind != 1 && kind != 2) return;
  try {
    static bool registered = false;
    if (!registered) registered = std::atexit(RestoreAtExit) == 0;
    std::string objPath = GetObjPath();
    state = DecompressState();
    state.active = true;
    state.kind = kind;
    if (!DirIsReadOnly(objPath) && OnlyCompressedFiles(objPath, objName, kind)) {
      RunCommand(ToolCommand(kind, DecompressTool(kind)) + " " + PatternWord(objPath, objName));
    } else {
      // A folder we may not write, or one where working in place would change files that are
      // not ours to change: the object is read from copies. They go into a folder of our own:
      // removing "stem.*" from a shared scratch folder could delete other programs' files.
      std::string tmpl = TmpPath() + "/mirandel-XXXXXX";
      std::vector<char> buf(tmpl.begin(), tmpl.end());
      buf.push_back('\0');
      if (!mkdtemp(buf.data())) {
        warn("Cannot create a scratch folder in %s: %s\n", TmpPath().c_str(), std::strerror(errno));
        state = DecompressState();
      } else {
        std::string scratch(buf.data());
        state.scratch = scratch;
        RunCommand(EnvOr("COPY_COMMAND", "cp") + " " + PatternWord(objPath, objName) + " " +
                   DirWord(scratch) + "/");
        std::string command =
            ToolCommand(kind, DecompressTool(kind)) + " " + PatternWord(scratch, objName);
        SetObjPath(scratch);
        RunCommand(command);
      }
    }
    objName.resize(objName.size() - std::strlen(Suffix(kind)));
  } catch (const std::bad_alloc &) {
    allocFailed("char", 1, __LINE__, kModule);
  }
}

void Recompress(int kind) {
  if (kind != 1 && kind != 2) return;
  try {
    Restore(GetObjPath(), objName);
    if (!EndsWith(objName, Suffix(kind))) objName += Suffix(kind);
  } catch (const std::bad_alloc &) {
    allocFailed("char", 1, __LINE__, kModule);
  }
}

void ConvertVRML() {
  try {
    std::string objPath = GetObjPath();
    std::size_t dot = objName.rfind('.');
    std::string stem = dot == std::string::npos ? objName : objName.substr(0, dot);
    std::string converter = EnvOr("WRL2GEOM_COMMAND", "");
    if (converter.empty()) converter = DefaultConverter();
    std::string command = converter + " " + DirWord(objPath) + "/" + ShellQuote(stem + ".wrl") +
                          " " + DirWord(objPath) + "/" + ShellQuote(stem + ".geom");
    int status = RunCommand(command, true);
    // A geometry file left from an earlier conversion would otherwise be shown as if this one
    // had worked.
    if (status != 0) fatal(1, "File %s.wrl could not be converted\n", stem.c_str());
    objName = stem + ".geom";
  } catch (const std::bad_alloc &) {
    allocFailed("char", 1, __LINE__, kModule);
  }
}

std::string DefaultConverter() {
  const char *program = "mirandel-wrl2geom";
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string exe(self, static_cast<std::size_t>(n));
    std::string beside = exe.substr(0, exe.rfind('/') + 1) + program;
    if (IsExecutableFile(beside)) return ShellQuote(beside);
  }
  std::string dir = DirOnPath(program);
  if (!dir.empty()) return ShellQuote(dir + "/" + program);
  return program;
}

void RestoreDirectory(int kind) {
  try {
    Recompress(kind);
  } catch (...) {
  }
}

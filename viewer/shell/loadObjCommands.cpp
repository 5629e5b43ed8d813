// External commands for compressed objects and the VRML converter. Every command line goes through
// the shell, so every piece that comes from a file or folder name is quoted. The command words
// themselves (COMPRESS_PATH, COPY_COMMAND, ...) are the installer's and are used as written.
//
// The user's compressed files are only ever read: they are copied into the load's private folder
// and decompressed there, and the object is read from that folder. What the load adds beside the
// object there (an AOFF header, normal files, a converted world) goes back as new compressed
// files, each one whole or not at all, never over a file that is there. So whatever ends the run,
// the folder holds what it held, plus at most new compressed side files.
//
// Every command runs in a process group of its own. Ctrl-C, kill and a closed terminal stop the
// group and wait for it, remove the private folder and end the run by the signal, with system
// calls that may run in a handler.
#include "viewer/shell/loadObj.h"

#include "base/fatal.h"
#include "base/files.h"
#include "base/signals.h"
#include "viewer/shell/shell.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <new>
#include <pthread.h>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

const char *const kModule = "loadObj";

// The command running now (0: none), for a handler to stop and wait for: its process group has
// its number.
std::atomic<pid_t> runningCommand{0};
pthread_t loadThread;
struct sigaction previousAction[kEndSignalCount];
bool handlerInstalled[kEndSignalCount];

static_assert(std::atomic<pid_t>::is_always_lock_free, "read by the signal handler");

void Pause(long nanoseconds) {
  struct timespec t = {0, nanoseconds};
  nanosleep(&t, nullptr);
}

// Stops a command's whole group (the shell and what it started) and waits until none of it is
// left: a tool still at work could otherwise write on behind the cleanup. The shell gets the
// signal and a moment to end by it; what is left then, or a group that will not end, is killed.
void StopGroup(pid_t group, int sig) {
  kill(-group, sig);
  int ws;
  for (int i = 0; i < 100; ++i) {
    pid_t got = waitpid(group, &ws, WNOHANG);
    if (got == group || (got < 0 && errno != EINTR)) break;
    Pause(10000000);
  }
  kill(-group, SIGKILL);
  while (waitpid(group, &ws, 0) < 0 && errno == EINTR) {
  }
  for (int i = 0; i < 500 && kill(-group, 0) == 0; ++i) Pause(2000000);
}

extern "C" void OnEndSignal(int sig) {
  // The load thread may be in the middle of writing a side file with these signals held back:
  // it takes the signal when it is done.
  if (!pthread_equal(pthread_self(), loadThread)) {
    pthread_kill(loadThread, sig);
    return;
  }
  if (pid_t child = runningCommand.load()) StopGroup(child, sig);
  if (const char *dir = PrivateFolderInHandler()) RemoveScratchInHandler(dir);
  // End as the signal ends a program: the signal is held while its handler runs, so it arrives
  // as soon as it is let through.
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  raise(sig);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  _exit(128 + sig);
}

// Last line of defence for a run that ends through exit() during a load (a window-system
// failure inside the toolkit, for instance).
void ReleaseAtExit() {
  try {
    ReleasePrivateFolder();
  } catch (...) {
  }
}

const char *DecompressTool(int kind) {
  return kind == kGzip ? "gzip -qfd" : "uncompress";
}
// "-f": compress leaves a file that would not shrink as it is, which would leave a side file
// uncompressed.
const char *CompressTool(int kind) {
  return kind == kGzip ? "gzip" : "compress -f";
}
const char *Suffix(int kind) {
  return kind == kGzip ? ".gz" : ".Z";
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

std::string FileWord(const std::string &dir, const std::string &name) {
  return DirWord(dir) + "/" + ShellQuote(name);
}

// A path from the root, for links that must still lead there from another folder.
std::string Absolute(const std::string &dir, const std::string &name) {
  if (!dir.empty() && dir[0] == '/') return dir + "/" + name;
  if (dir.empty()) return "/" + name;
  std::vector<char> cwd(PATH_MAX);
  if (!getcwd(cwd.data(), cwd.size())) return dir + "/" + name;
  return std::string(cwd.data()) + "/" + dir + "/" + name;
}

// The tool of a compression kind with its folder: COMPRESS_PATH as the installer wrote it, else
// the folder on PATH that holds the kind's own tool, else the bare tool for the shell to look up.
std::string ToolCommand(int kind, const char *tool) {
  if (const char *dir = std::getenv("COMPRESS_PATH")) return std::string(dir) + "/" + tool;
  std::string dir = DirOnPath(kind == kGzip ? "gzip" : "uncompress");
  if (dir.empty()) return tool;
  return DirWord(dir) + "/" + tool;
}

// The names in a folder (dot files left out).
std::vector<std::string> FolderNames(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = opendir(dir.empty() ? "/" : dir.c_str());
  if (!d) return names;
  while (struct dirent *e = readdir(d))
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  closedir(d);
  return names;
}

// Side files the AOFF preparation writes: these are copied, never linked, into the private
// folder, so that what it writes there stays there.
bool WrittenByPreparation(const std::string &name) {
  for (const char *ext : {".aoff", ".geom", ".pnorm", ".vnorm"})
    if (EndsWith(name, ext)) return true;
  return false;
}

// The folder the compressed object lies in and the names the private folder held once it was
// decompressed: what the load adds to them goes back beside the object.
struct CompressedLoad {
  int kind = kNotCompressed;
  std::string home;
  std::set<std::string> decompressed;
};
CompressedLoad compressed;

} // namespace

void CatchEndSignals() {
  static bool registered = false;
  if (!registered) registered = std::atexit(ReleaseAtExit) == 0;
  HoldEndSignals hold;
  loadThread = pthread_self();
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnEndSignal;
  action.sa_mask = EndSignalSet();
  action.sa_flags = SA_RESTART;
  // Signals the run was started to ignore (nohup, a background job) stay ignored.
  for (int k = 0; k < kEndSignalCount; ++k) {
    if (handlerInstalled[k]) continue;
    if (sigaction(kEndSignals[k], nullptr, &previousAction[k]) != 0 ||
        previousAction[k].sa_handler == SIG_IGN)
      continue;
    handlerInstalled[k] = sigaction(kEndSignals[k], &action, nullptr) == 0;
  }
}

void ReleaseEndSignals() {
  HoldEndSignals hold;
  for (int k = 0; k < kEndSignalCount; ++k)
    if (handlerInstalled[k]) {
      sigaction(kEndSignals[k], &previousAction[k], nullptr);
      handlerInstalled[k] = false;
    }
}

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
  // The shell is started here rather than through system(), which would ignore Ctrl-C while the
  // command runs and leave no way to learn which process to wait for.
  std::vector<char> text(command.begin(), command.end());
  text.push_back('\0');
  char sh[] = "sh", dashC[] = "-c";
  char *argv[] = {sh, dashC, text.data(), nullptr};
  int status = -1;
  pid_t pid = 0;
  sigset_t held = EndSignalSet(), open;
  pthread_sigmask(SIG_BLOCK, &held, &open);
  posix_spawnattr_t attr;
  bool ready = posix_spawnattr_init(&attr) == 0;
  if (ready) {
    // A process group of its own: stopping the command stops whatever its shell started.
    posix_spawnattr_setsigmask(&attr, &open);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    if (posix_spawn(&pid, "/bin/sh", nullptr, &attr, argv, environ) != 0) pid = 0;
    posix_spawnattr_destroy(&attr);
  }
  runningCommand = pid;
  pthread_sigmask(SIG_SETMASK, &open, nullptr);
  if (pid > 0) {
    // Waits without reaping, so that the group a handler may stop cannot be another one yet.
    siginfo_t info;
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    // What the shell left running in its group (a tool it started in the background) goes too.
    kill(-pid, SIGKILL);
    pthread_sigmask(SIG_BLOCK, &held, nullptr);
    int ws = 0;
    pid_t got;
    while ((got = waitpid(pid, &ws, 0)) < 0 && errno == EINTR) {
    }
    runningCommand = 0;
    pthread_sigmask(SIG_SETMASK, &open, nullptr);
    if (got == pid) {
      if (WIFEXITED(ws))
        status = WEXITSTATUS(ws);
      else
        status = 128 + (WIFSIGNALED(ws) ? WTERMSIG(ws) : 0);
    }
  }
  // Status 2 is how the compression tools report a mere warning ("unknown suffix", "would not
  // shrink"); anything else non-zero means the command did not do its work.
  const int kToolWarning = 2;
  if (status != 0 && (status != kToolWarning || warningIsFailure))
    warn("Command failed (exit status %d): %s\n", status, command.c_str());
  return status;
}

int CompressionKind() {
  for (int kind : {kGzip, kUnixCompress})
    if (EndsWith(objName, Suffix(kind))) return kind;
  return kNotCompressed;
}

namespace {

// The steps behind Decompress, Recompress and ConvertVRML; each public step reports a text it
// cannot have as the module's "char" buffer.
void DecompressObject(int kind) {
  std::string home = GetObjPath();
  std::string plain = objName.substr(0, objName.size() - std::strlen(Suffix(kind)));
  const std::string &dir = PrivateFolder();
  std::vector<std::string> names = FolderNames(home);
  std::set<std::string> all(names.begin(), names.end());
  std::string copies, decompress;
  for (const std::string &name : names) {
    if (!SameStem(objName, name) || FileKindAt(home + "/" + name) != FileKind::kRegular) continue;
    if (EndsWith(name, Suffix(kind))) {
      copies += " " + FileWord(home, name);
      decompress += " " + FileWord(dir, name);
    } else if (all.count(name + Suffix(kind)) == 0) {
      // A plain file of the stem: a link where the load only reads it, else a copy.
      std::string why;
      bool ok = WrittenByPreparation(name)
                    ? CopyRegularFile(home + "/" + name, dir + "/" + name, why)
                    : symlink(Absolute(home, name).c_str(), (dir + "/" + name).c_str()) == 0;
      if (!ok) warn("%s cannot be read from the private folder %s\n", name.c_str(), dir.c_str());
    }
  }
  if (!copies.empty()) {
    RunCommand(EnvOr("COPY_COMMAND", "cp") + copies + " " + DirWord(dir) + "/");
    RunCommand(ToolCommand(kind, DecompressTool(kind)) + decompress);
  }
  compressed.kind = kind;
  compressed.home = home;
  std::vector<std::string> made = FolderNames(dir);
  compressed.decompressed = std::set<std::string>(made.begin(), made.end());
  UsePrivateFolder();
  objName = plain;
}

// True when the program may add files to `dir`.
bool MayWriteIn(const std::string &dir) {
  return access(dir.empty() ? "/" : dir.c_str(), W_OK) == 0;
}

// What the load added to the private folder goes back beside the object, compressed, as new
// files: a file of that name already there is left as it is.
void AddSideFiles(int kind) {
  const std::string &home = compressed.home;
  if (objFolder.keepUntouched || !MayWriteIn(home)) return;
  const std::string &dir = PrivateFolder();
  std::vector<std::string> added;
  std::string words;
  for (const std::string &name : FolderNames(dir)) {
    struct stat st;
    if (compressed.decompressed.count(name) || lstat((dir + "/" + name).c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode) || EndsWith(name, Suffix(kind)) ||
        FileExistsAt(home + "/" + name + Suffix(kind)))
      continue;
    added.push_back(name);
    words += " " + FileWord(dir, name);
  }
  if (added.empty()) return;
  RunCommand(ToolCommand(kind, CompressTool(kind)) + words);
  for (const std::string &name : added) {
    std::string packed = dir + "/" + name + Suffix(kind);
    struct stat st;
    FilePtr f(OpenRegularFile(packed, st));
    if (!f) continue;
    std::vector<char> bytes = ReadWholeFile(f.get(), kModule);
    std::string why, target = home + "/" + name + Suffix(kind);
    if (!AddNewFile(target, std::string(bytes.begin(), bytes.end()), why) && !FileExistsAt(target))
      warn("Warning: %s could not be added: %s\n", target.c_str(), why.c_str());
  }
}

void RecompressObject(int kind) {
  AddSideFiles(kind);
  ReleasePrivateFolder();
  if (!EndsWith(objName, Suffix(kind))) objName += Suffix(kind);
}

// Whether the file beside the world holds exactly `contents`.
bool HoldsExactly(const std::string &path, const std::string &contents) {
  struct stat st;
  FilePtr f(OpenRegularFile(path, st));
  if (!f || static_cast<std::size_t>(st.st_size) != contents.size()) return false;
  std::vector<char> bytes = ReadWholeFile(f.get(), kModule);
  return std::string(bytes.begin(), bytes.end()) == contents;
}

// The world is converted into the private folder. Its geometry then goes beside the world, where
// the header and normal files are made as for any ".geom" object, unless the folder may not be
// written, or the files there are not the converter's own output for this world: a stem.geom
// that holds anything but this conversion, or a stem.aoff, .pnorm or .vnorm without such a
// stem.geom. Those are left as they are, and the object is read from the private folder.
void ConvertWorld() {
  std::string home = GetObjPath();
  std::size_t dot = objName.rfind('.');
  std::string stem = dot == std::string::npos ? objName : objName.substr(0, dot);
  std::string converter = EnvOr("WRL2GEOM_COMMAND", "");
  if (converter.empty()) converter = DefaultConverter();
  const std::string &dir = PrivateFolder();
  // The world as named: its extension may be written in capitals ("ROBOT.WRL").
  std::string world = objName;
  std::string command =
      converter + " " + FileWord(home, world) + " " + FileWord(dir, stem + ".geom");
  int status = RunCommand(command, true);
  // A geometry file left from an earlier conversion would otherwise be shown as if this one
  // had worked.
  if (status != 0) fatal(1, "File %s could not be converted\n", objName.c_str());
  objName = stem + ".geom";
  if (objFolder.isPrivate) return; // a compressed world: all of it is in the private folder
  std::string converted;
  {
    struct stat st;
    FilePtr f(OpenRegularFile(dir + "/" + stem + ".geom", st));
    if (!f) fatal(1, "File %s could not be converted\n", world.c_str());
    std::vector<char> bytes = ReadWholeFile(f.get(), kModule);
    converted.assign(bytes.begin(), bytes.end());
  }
  std::string geom = home + "/" + stem + ".geom", why;
  bool beside = !objFolder.keepUntouched && MayWriteIn(home);
  if (beside && FileExistsAt(geom)) {
    if (!HoldsExactly(geom, converted)) {
      beside = false;
      why = stem + ".geom is not the conversion of " + world;
    }
  } else if (beside) {
    for (const char *ext : {".aoff", ".pnorm", ".vnorm", ".pcolor", ".vcolor"})
      if (FileExistsAt(home + "/" + stem + ext)) {
        beside = false;
        why = stem + ext + " belongs to no conversion of " + world;
        break;
      }
    if (beside && !AddNewFile(geom, converted, why)) {
      beside = false;
      why = geom + " cannot be written: " + why;
    }
  }
  if (beside) {
    unlink((dir + "/" + stem + ".geom").c_str());
    // The converter's colours come with their own header: they go beside the geometry too (the
    // colour file first, as the header names it), never over a file already there.
    for (const char *ext : {".pcolor", ".vcolor", ".aoff"}) {
      std::string made = dir + "/" + stem + ext, there = home + "/" + stem + ext, ignored;
      struct stat st;
      FilePtr f(OpenRegularFile(made, st));
      if (!f || FileExistsAt(there)) continue;
      std::vector<char> bytes = ReadWholeFile(f.get(), kModule);
      AddNewFile(there, std::string(bytes.begin(), bytes.end()), ignored);
    }
    return;
  }
  if (!why.empty())
    warn("Warning: %s; the files beside the world are left as they are, and it is read from a "
         "private folder\n",
         why.c_str());
  UsePrivateFolder();
}

} // namespace

void Decompress(int kind) {
  if (kind != kGzip && kind != kUnixCompress) return;
  ALLOC_OR_REPORT("char", 1, kModule, DecompressObject(kind));
}

void Recompress(int kind) {
  if (kind != kGzip && kind != kUnixCompress) return;
  ALLOC_OR_REPORT("char", 1, kModule, RecompressObject(kind));
}

void ConvertVRML() {
  ALLOC_OR_REPORT("char", 1, kModule, ConvertWorld());
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

void RestoreDirectory(int) {
  try {
    ReleasePrivateFolder();
  } catch (...) {
  }
}

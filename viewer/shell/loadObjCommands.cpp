// External commands for compressed objects and the VRML converter. Every command line goes through
// the shell, so every piece that comes from a file or folder name is quoted; only the final "*"
// of a pattern stays bare so that it still matches the object's side files. The command words
// themselves (COMPRESS_PATH, COPY_COMMAND, ...) are the installer's and are used as written.
//
// From the decompression to the restore the user's folder is changed, so Ctrl-C, kill and a
// closed terminal restore it too before the run ends by its signal. The restore is made ready as
// a plan before anything is changed; the signal handler only carries that plan out, with system
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
#include <dirent.h>
#include <new>
#include <pthread.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

const char *const kModule = "loadObj";

// How to undo a decompression: the command that compresses the object's files again in place
// (run only while the object itself is there, `check`), or the one that removes the scratch
// copies, followed by the removal of the private scratch folder.
struct RestorePlan {
  std::string command;
  std::string check;   // "" : run the command unconditionally
  std::string scratch; // private folder holding the copies of a read-only object, else ""
  std::vector<std::string> env;
  std::vector<char *> envp; // `env` as execve takes it: the handler may not build anything
};
RestorePlan plan;
// Set once the plan is complete and the folder about to change; cleared once it is restored.
std::atomic<bool> armed{false};
// The command running now (0: none), for a handler to stop and wait for before restoring: a
// decompression still at work would otherwise undo the restore behind it.
std::atomic<pid_t> runningCommand{0};
pthread_t loadThread;
struct sigaction previousAction[kEndSignalCount];
bool handlerInstalled[kEndSignalCount];

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free,
              "read by the signal handler");

// Runs `command` through /bin/sh from a signal handler and waits for it. _Fork, unlike fork, runs
// no fork handlers and so may be called here. The three signals stay blocked in the child, and it
// has a process group of its own: a second Ctrl-C does not cut the restore short.
void RunFromHandler(const char *command) {
  pid_t pid = _Fork();
  if (pid == 0) {
    setpgid(0, 0);
    char sh[] = "sh", dashC[] = "-c";
    char *argv[] = {sh, dashC, const_cast<char *>(command), nullptr};
    execve("/bin/sh", argv, plan.envp.data());
    _exit(127);
  }
  if (pid < 0) return;
  int ws;
  while (waitpid(pid, &ws, 0) < 0 && errno == EINTR) {
  }
}

extern "C" void OnEndSignal(int sig) {
  // The load thread may be in the middle of writing a side file with these signals held back:
  // it takes the signal when it is done.
  if (!pthread_equal(pthread_self(), loadThread)) {
    pthread_kill(loadThread, sig);
    return;
  }
  if (pid_t child = runningCommand.load()) {
    kill(child, sig);
    int ws;
    while (waitpid(child, &ws, 0) < 0 && errno == EINTR) {
    }
  }
  if (armed.exchange(false)) {
    struct stat st;
    if (plan.check.empty() || stat(plan.check.c_str(), &st) == 0)
      RunFromHandler(plan.command.c_str());
    if (!plan.scratch.empty()) rmdir(plan.scratch.c_str());
  }
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

// Makes the plan the one to carry out and catches the three signals, except those the run was
// started to ignore (nohup, a background job).
void Arm(RestorePlan &&next) {
  HoldEndSignals hold;
  armed = false;
  plan = std::move(next);
  plan.env.clear();
  for (char **e = environ; e && *e; ++e) plan.env.emplace_back(*e);
  plan.envp.clear();
  for (std::string &e : plan.env) plan.envp.push_back(&e[0]);
  plan.envp.push_back(nullptr);
  loadThread = pthread_self();
  armed = true;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnEndSignal;
  action.sa_mask = EndSignalSet();
  action.sa_flags = SA_RESTART;
  for (int k = 0; k < kEndSignalCount; ++k) {
    if (handlerInstalled[k]) continue;
    if (sigaction(kEndSignals[k], nullptr, &previousAction[k]) != 0 ||
        previousAction[k].sa_handler == SIG_IGN)
      continue;
    handlerInstalled[k] = sigaction(kEndSignals[k], &action, nullptr) == 0;
  }
}

void Disarm() {
  HoldEndSignals hold;
  armed = false;
  for (int k = 0; k < kEndSignalCount; ++k)
    if (handlerInstalled[k]) {
      sigaction(kEndSignals[k], &previousAction[k], nullptr);
      handlerInstalled[k] = false;
    }
}

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
  return TempFolder();
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

// Undoes what Decompress did: removes the scratch copies with their folder, or compresses the
// object's files again in place. The plan stays armed until it has run, so that a signal in
// between runs it once more (both commands may run twice).
void Restore() {
  if (!armed) return;
  if (plan.check.empty() || FileExistsAt(plan.check)) RunCommand(plan.command);
  if (!plan.scratch.empty() && rmdir(plan.scratch.c_str()) != 0 && errno != ENOENT)
    warn("Scratch folder %s could not be removed: %s\n", plan.scratch.c_str(),
         std::strerror(errno));
  Disarm();
}

// Last line of defence for a run that ends through exit() while the object is decompressed (a
// window-system failure inside the toolkit, for instance).
void RestoreAtExit() {
  try {
    Restore();
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
    posix_spawnattr_setsigmask(&attr, &open);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    if (posix_spawn(&pid, "/bin/sh", nullptr, &attr, argv, environ) != 0) pid = 0;
    posix_spawnattr_destroy(&attr);
  }
  runningCommand = pid;
  pthread_sigmask(SIG_SETMASK, &open, nullptr);
  if (pid > 0) {
    // Waits without reaping, so that the process a handler may stop cannot be another one yet.
    siginfo_t info;
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
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
  if (status != 0 && (status != 2 || warningIsFailure))
    warn("Command failed (exit status %d): %s\n", status, command.c_str());
  return status;
}

int CompressionKind() {
  if (EndsWith(objName, ".gz")) return 1;
  if (EndsWith(objName, ".Z")) return 2;
  return 0;
}

namespace {

// The steps behind Decompress, Recompress and ConvertVRML; each public step reports a text it
// cannot have as the module's "char" buffer.
void DecompressObject(int kind) {
  static bool registered = false;
  if (!registered) registered = std::atexit(RestoreAtExit) == 0;
  std::string objPath = GetObjPath();
  std::string plain = objName.substr(0, objName.size() - std::strlen(Suffix(kind)));
  if (!DirIsReadOnly(objPath) && OnlyCompressedFiles(objPath, objName, kind)) {
    RestorePlan next;
    next.command = ToolCommand(kind, CompressTool(kind)) + " " + PatternWord(objPath, objName);
    next.check = objPath + "/" + plain;
    Arm(std::move(next));
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
    } else {
      std::string scratch(buf.data());
      RestorePlan next;
      next.command = EnvOr("REMOVE_COMMAND", "rm -f") + " " + PatternWord(scratch, objName);
      next.scratch = scratch;
      Arm(std::move(next));
      RunCommand(EnvOr("COPY_COMMAND", "cp") + " " + PatternWord(objPath, objName) + " " +
                 DirWord(scratch) + "/");
      std::string command =
          ToolCommand(kind, DecompressTool(kind)) + " " + PatternWord(scratch, objName);
      SetObjectFolder(scratch);
      RunCommand(command);
    }
  }
  objName = plain;
}

void RecompressObject(int kind) {
  Restore();
  if (!EndsWith(objName, Suffix(kind))) objName += Suffix(kind);
}

void ConvertWorld() {
  std::string objPath = GetObjPath();
  std::size_t dot = objName.rfind('.');
  std::string stem = dot == std::string::npos ? objName : objName.substr(0, dot);
  std::string converter = EnvOr("WRL2GEOM_COMMAND", "");
  if (converter.empty()) converter = DefaultConverter();
  // The world as named: its extension may be written in capitals ("ROBOT.WRL").
  std::string command = converter + " " + DirWord(objPath) + "/" + ShellQuote(objName) + " " +
                        DirWord(objPath) + "/" + ShellQuote(stem + ".geom");
  int status = RunCommand(command, true);
  // A geometry file left from an earlier conversion would otherwise be shown as if this one
  // had worked.
  if (status != 0) fatal(1, "File %s could not be converted\n", objName.c_str());
  objName = stem + ".geom";
}

} // namespace

void Decompress(int kind) {
  if (kind != 1 && kind != 2) return;
  ALLOC_OR_REPORT("char", 1, kModule, DecompressObject(kind));
}

void Recompress(int kind) {
  if (kind != 1 && kind != 2) return;
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

void RestoreDirectory(int kind) {
  try {
    Recompress(kind);
  } catch (...) {
  }
}

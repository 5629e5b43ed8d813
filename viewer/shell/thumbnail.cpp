// Thumbnails for file managers. A file manager hands over any file of our types, in any folder,
// read-only or not, without OBJ_PATH and without a display, and waits for the picture: the load
// must not write beside the object, and a huge or hostile file must fail within bounded time and
// memory instead of stalling the file manager or the machine.
//
// So a child process loads the object where it lies, read-only, and draws it off-screen. Whatever
// a format's load would write beside the object (an AOFF header and normal files, a converted
// world, a decompressed object) goes into the load's private folder instead, inside a scratch
// folder of the thumbnail's own; no file written there may outgrow the memory limit. The parent
// watches the child's wall time and resident memory (of it and of the commands it runs), which
// works under AddressSanitizer too, where an address-space limit would not; past a limit it kills
// the child and everything it started. The picture is copied to the output only when it is
// whole, and the scratch folder is removed whatever happened: by the parent, or after a SIGKILL
// by the next thumbnail (ScratchFolder).
#include "viewer/shell/thumbnail.h"

#include "base/fatal.h"
#include "base/files.h"
#include "base/signals.h"
#include "formats/3mf/zipPackage.h"
#include "viewer/graphics/graphics.h"
#include "viewer/model/object.h"
#include "viewer/readers/formatTable.h"
#include "viewer/readers/readGLTFObj.h"
#include "viewer/shell/loadObj.h"
#include "viewer/shell/shell.h"
#include "viewer/shell/sniffFormat.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The largest picture drawn for the oversampling; a large thumbnail gets less of it.
constexpr int kOversampledSide = 2048;
constexpr int kMaxOversampling = 4;
// How often the parent looks at the child.
constexpr auto kWatchPeriod = std::chrono::milliseconds(10);

std::string Absolute(const std::string &path) {
  if (!path.empty() && path[0] == '/') return path;
  std::vector<char> buffer(4096);
  while (!getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE)
      fatal(1, "Thumbnail: the current folder cannot be named: %s\n", std::strerror(errno));
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data()) + "/" + path;
}

// The child: the load and the drawing, its scratch use inside the scratch folder. Never returns.
[[noreturn]] void RunChild(pid_t parent, const std::string &object, const std::string &name,
                           const std::string &scratch, long long fileBytes, int width, int height,
                           int factor) {
  int status = 0;
  try {
    // Its own process group, so that the parent can stop the commands it runs with it; and it
    // goes when the parent goes, whatever ends the parent.
    setpgid(0, 0);
    for (int sig : kEndSignals) signal(sig, SIG_DFL);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    // No file written may outgrow the memory limit (a decompressed bomb, say), and such a write
    // fails with a message rather than a signal. Nor does a crash leave a core file behind.
    struct rlimit files = {static_cast<rlim_t>(fileBytes), static_cast<rlim_t>(fileBytes)};
    setrlimit(RLIMIT_FSIZE, &files);
    struct rlimit core = {0, 0};
    setrlimit(RLIMIT_CORE, &core);
    signal(SIGXFSZ, SIG_IGN);
    // A package that would inflate beyond the limit is refused with a message of its own.
    SetInflateBudget(static_cast<uint64_t>(fileBytes) / 2);
    if (chdir(scratch.c_str()) != 0)
      fatal(1, "Thumbnail: the scratch folder %s cannot be used: %s\n", scratch.c_str(),
            std::strerror(errno));
    // Whatever the load puts into a temporary folder goes into ours, and is removed with it.
    setenv("TMPDIR", scratch.c_str(), 1);
    setenv("TMP_PATH", scratch.c_str(), 1);
    // A name the contents gave (a file manager's copy without its extension) is a link of that
    // name in the scratch folder; otherwise the object is read where it lies.
    objName = object;
    if (name != object.substr(object.rfind('/') + 1)) {
      std::string dir = scratch + "/object";
      if (mkdir(dir.c_str(), 0700) != 0 || symlink(object.c_str(), (dir + "/" + name).c_str()) != 0)
        fatal(1, "Thumbnail: the scratch folder %s cannot be used: %s\n", scratch.c_str(),
              std::strerror(errno));
      objName = dir + "/" + name;
    }
    // A glTF file may name buffers of other stems: they are read where the object is.
    gltfBufferFolder = object.substr(0, object.rfind('/') + 1);
    objFolder.named = true;
    SplitObjPath();
    objFolder.keepUntouched = true;
    objType = TypeFromName(name);
    drawing_target.offscreen = true;
    drawing_target.width = width * factor;
    drawing_target.height = height * factor;
    LoadObject(objType);
    WriteThumbnail(scratch + "/thumbnail.png", factor);
    ReleaseAll();
  } catch (const FatalError &e) {
    std::fflush(stdout);
    std::fputs(e.what(), stderr);
    status = e.status == 0 ? 1 : e.status;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(status);
}

// A process and every process below it.
void AddDescendants(pid_t pid, std::vector<pid_t> &all) {
  all.push_back(pid);
  std::string proc = "/proc/" + std::to_string(pid);
  if (DIR *tasks = opendir((proc + "/task").c_str())) {
    while (struct dirent *t = readdir(tasks)) {
      if (t->d_name[0] == '.') continue;
      if (FILE *f = std::fopen((proc + "/task/" + t->d_name + "/children").c_str(), "r")) {
        long long child;
        while (std::fscanf(f, "%lld", &child) == 1 && all.size() < 4096)
          AddDescendants(static_cast<pid_t>(child), all);
        std::fclose(f);
      }
    }
    closedir(tasks);
  }
}

// Resident bytes of a process and of every process below it.
long long ResidentBytes(pid_t pid) {
  static const long long page = sysconf(_SC_PAGESIZE);
  std::vector<pid_t> all;
  AddDescendants(pid, all);
  long long total = 0;
  for (pid_t p : all)
    if (FILE *f = std::fopen(("/proc/" + std::to_string(p) + "/statm").c_str(), "r")) {
      long long size = 0, resident = 0;
      if (std::fscanf(f, "%lld %lld", &size, &resident) == 2) total += resident * page;
      std::fclose(f);
    }
  return total;
}

// The child's commands run in process groups of their own: each group below the child goes too.
void KillBelow(pid_t pid) {
  std::vector<pid_t> all;
  AddDescendants(pid, all);
  for (pid_t p : all) {
    if (p != pid && getpgid(p) == p) kill(-p, SIGKILL);
    kill(p, SIGKILL);
  }
}

// A signal that ends the parent (the file manager gave up) stops the child first: it is caught
// while a thumbnail is under way and taken as it was meant once the scratch folder is gone.
std::atomic<int> endSignal{0};
extern "C" void OnThumbnailEndSignal(int sig) {
  endSignal = sig;
}

class ThumbnailEndSignals {
public:
  ThumbnailEndSignals() {
    endSignal = 0;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnThumbnailEndSignal;
    sigemptyset(&action.sa_mask);
    // Signals the run was started to ignore (nohup) stay ignored.
    for (int k = 0; k < kEndSignalCount; ++k)
      caught_[k] = sigaction(kEndSignals[k], nullptr, &previous_[k]) == 0 &&
                   previous_[k].sa_handler != SIG_IGN &&
                   sigaction(kEndSignals[k], &action, nullptr) == 0;
  }
  ~ThumbnailEndSignals() {
    for (int k = 0; k < kEndSignalCount; ++k)
      if (caught_[k]) sigaction(kEndSignals[k], &previous_[k], nullptr);
    if (int sig = endSignal.exchange(0)) raise(sig);
  }
  ThumbnailEndSignals(const ThumbnailEndSignals &) = delete;
  ThumbnailEndSignals &operator=(const ThumbnailEndSignals &) = delete;

private:
  struct sigaction previous_[kEndSignalCount];
  bool caught_[kEndSignalCount] = {};
};

enum class Outcome { kEnded, kTooLong, kTooLarge, kInterrupted };

struct Watched {
  Outcome outcome = Outcome::kEnded;
  int waitStatus = 0;
  double seconds = 0;
  long long bytes = 0;
};

Watched Watch(pid_t pid, const ThumbnailLimits &limits) {
  Watched w;
  const long long byteLimit = limits.megabytes << 20;
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    // Waits without reaping: the group keeps its number until the end, so that killing it
    // never reaches some other process.
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid)
      break;
    w.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (w.seconds > limits.seconds) {
      w.outcome = Outcome::kTooLong;
      break;
    }
    w.bytes = ResidentBytes(pid);
    if (w.bytes > byteLimit) {
      w.outcome = Outcome::kTooLarge;
      break;
    }
    if (endSignal != 0) {
      w.outcome = Outcome::kInterrupted;
      break;
    }
    std::this_thread::sleep_for(kWatchPeriod);
  }
  // Whatever of the group is left goes now, also after the child's own end.
  KillBelow(pid);
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  while (waitpid(pid, &w.waitStatus, 0) < 0 && errno == EINTR) {
  }
  return w;
}

double PositiveNumber(const char *name, double fallback) {
  const char *v = std::getenv(name);
  if (!v) return fallback;
  char *end = nullptr;
  errno = 0;
  double x = std::strtod(v, &end);
  if (end == v || *end != '\0' || errno != 0 || !(x > 0))
    fatal(1, "%s=%s: give a number above 0\n", name, v);
  return x;
}

} // namespace

ThumbnailLimits ThumbnailLimitsFromEnvironment() {
  ThumbnailLimits limits;
  limits.seconds = PositiveNumber(kThumbnailSecondsVariable, kThumbnailDefaultSeconds);
  double megabytes = PositiveNumber(kThumbnailMegabytesVariable, kThumbnailDefaultMegabytes);
  // Past a terabyte there is no limit worth the name; the bytes must fit their type.
  limits.megabytes = static_cast<long long>(std::min(megabytes, 1048576.0));
  if (limits.megabytes < 1) limits.megabytes = 1;
  return limits;
}

int ThumbnailOversampling(int width, int height) {
  int side = std::max(width, height);
  return std::max(1, std::min(kMaxOversampling, kOversampledSide / std::max(1, side)));
}

int MakeThumbnail(const std::string &input, const std::string &output) {
  ThumbnailLimits limits = ThumbnailLimitsFromEnvironment();
  int width = drawing_target.width > 0 ? drawing_target.width : kThumbnailDefaultSize;
  int height = drawing_target.height > 0 ? drawing_target.height : kThumbnailDefaultSize;
  int factor = ThumbnailOversampling(width, height);
  std::string object = Absolute(input), picture = Absolute(output);
  const FileKind kind = FileKindAt(object);
  if (kind == FileKind::kNone || kind == FileKind::kFolder)
    fatal(1, "File %s does not exist\n", input.c_str());
  if (kind != FileKind::kRegular) fatal(1, "File %s is not a regular file\n", input.c_str());
  // A header "hand.aoff" describes the object whose geometry is "hand.geom", and AOFF objects
  // are loaded by their geometry file.
  for (const char *suffix : {"", ".gz", ".Z"}) {
    std::string header = std::string(".aoff") + suffix;
    if (!EndsWith(object, header.c_str())) continue;
    std::string geom = object.substr(0, object.size() - header.size()) + ".geom" + suffix;
    if (FileKindAt(geom) == FileKind::kRegular) object = geom;
    break;
  }
  std::string name = object.substr(object.rfind('/') + 1);
  // A file manager's copy may keep only the last extension: the contents tell the format.
  if (TypeFromName(name) == 0) name = NameFromContents(object, name);
  if (TypeFromName(name) == 0) fatal(1, "File %s extension is not supported\n", input.c_str());

  // Declared first, so that a signal is taken after the scratch folder has gone.
  ThumbnailEndSignals catchSignals;
  ScratchFolder scratch(TempFolder());
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) fatal(1, "Thumbnail: no process can be started: %s\n", std::strerror(errno));
  if (pid == 0) {
    std::string folder = scratch.path();
    scratch.LeaveToMaker();
    RunChild(parent, object, name, folder, limits.megabytes << 20, width, height, factor);
  }
  setpgid(pid, pid);
  Watched w = Watch(pid, limits);
  switch (w.outcome) {
  case Outcome::kInterrupted:
    fatal(1, "Thumbnail of %s: interrupted\n", input.c_str());
  case Outcome::kTooLong:
    fatal(1, "Thumbnail of %s: stopped at the time limit of %g seconds (%s)\n", input.c_str(),
          limits.seconds, kThumbnailSecondsVariable);
  case Outcome::kTooLarge:
    fatal(1,
          "Thumbnail of %s: stopped at %lld MB resident, past the memory limit of %lld MB (%s)\n",
          input.c_str(), (w.bytes + (1 << 20) - 1) >> 20, limits.megabytes,
          kThumbnailMegabytesVariable);
  case Outcome::kEnded:
    break;
  }
  if (WIFSIGNALED(w.waitStatus))
    fatal(1, "Thumbnail of %s: the load ended by signal %d (%s)\n", input.c_str(),
          WTERMSIG(w.waitStatus), strsignal(WTERMSIG(w.waitStatus)));
  // The child has said what went wrong.
  if (!WIFEXITED(w.waitStatus) || WEXITSTATUS(w.waitStatus) != 0) throw FatalError(1, "");
  std::string thumbnail = scratch.path() + "/thumbnail.png";
  struct stat made;
  FilePtr f(OpenRegularFile(thumbnail, made));
  if (!f) fatal(1, "Thumbnail of %s: no picture was made\n", input.c_str());
  std::vector<char> bytes = ReadWholeFile(f.get(), "thumbnail");
  ReplaceFile(picture, std::string(bytes.begin(), bytes.end()),
              "Thumbnail %s could not be written\n", false);
  return 0;
}

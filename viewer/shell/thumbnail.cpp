// Thumbnails for file managers. A file manager hands over any file of our types, in any folder,
// read-only or not, without OBJ_PATH and without a display, and waits for the picture: the load
// must not write beside the object, and a huge or hostile file must fail within bounded time and
// memory instead of stalling the file manager or the machine.
//
// So the object and the files of its stem are copied into a private scratch folder, and a child
// process loads and draws them there, off-screen. The parent watches the child's wall time and
// resident memory (of it and of the commands it runs), which works under AddressSanitizer too,
// where an address-space limit would not; past a limit it kills the child's process group. The
// picture is copied to the output only when it is whole, and the scratch folder is removed
// whatever happened.
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
#include <ftw.h>
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

bool EndsWith(const std::string &s, const char *suffix) {
  std::size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

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

// The files of an object: its name less a compression suffix, cut after the last dot
// ("hand.off.gz" -> "hand."), as the loader finds its side files. Without a dot only the object
// itself belongs to it.
bool SameStem(const std::string &object, const std::string &entry) {
  std::string name = object;
  if (EndsWith(name, ".gz"))
    name.resize(name.size() - 3);
  else if (EndsWith(name, ".Z"))
    name.resize(name.size() - 2);
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return entry == object;
  return entry.compare(0, dot + 1, name, 0, dot + 1) == 0;
}

// Copies the contents of a regular file (through a link, which is never copied as a link: the
// loader rewrites headers in place and would write through it). Anything else is passed over:
// a pipe named like a side file would never end.
bool CopyRegularFile(const std::string &from, const std::string &to) {
  int in = open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    return false;
  }
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) {
    close(in);
    fatal(1, "Thumbnail: %s could not be copied: %s\n", from.c_str(), std::strerror(errno));
  }
  std::vector<char> buffer(std::size_t(1) << 20);
  bool ok = true;
  for (;;) {
    ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; done < n && ok;) {
      ssize_t w = write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      ok = w > 0;
      done += w > 0 ? w : 0;
    }
    if (!ok) break;
  }
  int error = errno;
  close(in);
  if (close(out) != 0) ok = false;
  if (!ok) fatal(1, "Thumbnail: %s could not be copied: %s\n", from.c_str(), std::strerror(error));
  return true;
}

// The object (as `loadName`) and the files of its stem into `dir`.
void CopyObjectFiles(const std::string &object, const std::string &loadName,
                     const std::string &dir) {
  std::size_t slash = object.rfind('/');
  std::string folder = slash == 0 ? "/" : object.substr(0, slash);
  std::string name = object.substr(slash + 1);
  if (!CopyRegularFile(object, dir + "/" + loadName))
    fatal(1, "File %s does not exist\n", object.c_str());
  DIR *d = opendir(folder.c_str());
  if (!d) return; // a folder that may be passed through but not listed: the object alone
  while (struct dirent *e = readdir(d)) {
    std::string entry = e->d_name;
    if (entry == name || entry == "." || entry == ".." || !SameStem(name, entry)) continue;
    CopyRegularFile(folder + "/" + entry, dir + "/" + entry);
  }
  closedir(d);
}

int RemoveEntry(const char *path, const struct stat *, int, struct FTW *) {
  remove(path);
  return 0;
}

void RemoveTree(const std::string &dir) {
  nftw(dir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

// The scratch folder for the length of the parent's run.
class Scratch {
public:
  Scratch() {
    std::string tmpl = TempFolder() + "/mirandel-thumbnail-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
      fatal(1, "Thumbnail: no scratch folder can be made in %s: %s\n", TempFolder().c_str(),
            std::strerror(errno));
    path_ = buf.data();
  }
  ~Scratch() { RemoveTree(path_); }
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;
  const std::string &path() const { return path_; }

private:
  std::string path_;
};

// The child: the load and the drawing, inside the scratch folder. Never returns.
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
    std::string dir = scratch + "/object";
    if (mkdir(dir.c_str(), 0700) != 0 || chdir(scratch.c_str()) != 0)
      fatal(1, "Thumbnail: the scratch folder %s cannot be used: %s\n", scratch.c_str(),
            std::strerror(errno));
    // Whatever the load puts into a temporary folder goes into ours, and is removed with it.
    setenv("TMPDIR", scratch.c_str(), 1);
    setenv("TMP_PATH", scratch.c_str(), 1);
    CopyObjectFiles(object, name, dir);
    // A glTF file may name buffers of other stems: they are read where the object is.
    gltfBufferFolder = object.substr(0, object.rfind('/') + 1);
    objName = dir + "/" + name;
    objFolder.named = true;
    SplitObjPath();
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

// Resident bytes of a process and of every process below it.
long long ResidentBytes(pid_t pid) {
  static const long long page = sysconf(_SC_PAGESIZE);
  std::string proc = "/proc/" + std::to_string(pid);
  long long total = 0;
  if (FILE *f = std::fopen((proc + "/statm").c_str(), "r")) {
    long long size = 0, resident = 0;
    if (std::fscanf(f, "%lld %lld", &size, &resident) == 2) total += resident * page;
    std::fclose(f);
  }
  if (DIR *tasks = opendir((proc + "/task").c_str())) {
    while (struct dirent *t = readdir(tasks)) {
      if (t->d_name[0] == '.') continue;
      if (FILE *f = std::fopen((proc + "/task/" + t->d_name + "/children").c_str(), "r")) {
        long long child;
        while (std::fscanf(f, "%lld", &child) == 1)
          total += ResidentBytes(static_cast<pid_t>(child));
        std::fclose(f);
      }
    }
    closedir(tasks);
  }
  return total;
}

// A signal that ends the parent (the file manager gave up) stops the child first: it is caught
// while a thumbnail is under way and taken as it was meant once the scratch folder is gone.
std::atomic<int> endSignal{0};
extern "C" void OnThumbnailEndSignal(int sig) {
  endSignal = sig;
}

class CatchEndSignals {
public:
  CatchEndSignals() {
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
  ~CatchEndSignals() {
    for (int k = 0; k < kEndSignalCount; ++k)
      if (caught_[k]) sigaction(kEndSignals[k], &previous_[k], nullptr);
    if (int sig = endSignal.exchange(0)) raise(sig);
  }
  CatchEndSignals(const CatchEndSignals &) = delete;
  CatchEndSignals &operator=(const CatchEndSignals &) = delete;

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
  struct stat st;
  if (stat(object.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
    fatal(1, "File %s does not exist\n", input.c_str());
  // A header "hand.aoff" describes the object whose geometry is "hand.geom", and AOFF objects
  // are loaded by their geometry file.
  for (const char *suffix : {"", ".gz", ".Z"}) {
    std::string header = std::string(".aoff") + suffix;
    if (!EndsWith(object, header.c_str())) continue;
    std::string geom = object.substr(0, object.size() - header.size()) + ".geom" + suffix;
    if (stat(geom.c_str(), &st) == 0 && S_ISREG(st.st_mode)) object = geom;
    break;
  }
  std::string name = object.substr(object.rfind('/') + 1);
  // A file manager's copy may keep only the last extension: the contents tell the format.
  if (TypeFromName(name) == 0) name = NameFromContents(object, name);
  if (TypeFromName(name) == 0) fatal(1, "File %s extension is not supported\n", input.c_str());

  // Declared first, so that a signal is taken after the scratch folder has gone.
  CatchEndSignals catchSignals;
  Scratch scratch;
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) fatal(1, "Thumbnail: no process can be started: %s\n", std::strerror(errno));
  if (pid == 0)
    RunChild(parent, object, name, scratch.path(), limits.megabytes << 20, width, height, factor);
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

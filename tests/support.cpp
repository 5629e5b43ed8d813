#include "support.h"

#include "base/sanitizerDefaults.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <png.h>
#include <regex>
#include <signal.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

TempDir::TempDir() {
  char tmpl[] = "/tmp/mirandel-test-XXXXXX";
  const char *d = mkdtemp(tmpl);
  path_ = d ? d : "";
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::string cmd = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
  if (std::system(cmd.c_str()) != 0) {
  }
}

std::string TempDir::write(const std::string &name, const std::string &contents) const {
  std::string p = file(name);
  std::ofstream f(p, std::ios::binary);
  f << contents;
  return p;
}

std::string ReadFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool FileExists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListDir(const std::string &dir) {
  std::vector<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

static int Spawn(const std::vector<std::string> &argv, const Env &env, const std::string &cwd,
                 const std::string &outPath, const std::string &errPath) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int in = open("/dev/null", O_RDONLY);
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  // Standard error is a file here: a failing viewer on a display would wait in its message
  // dialog. The tests of that dialog unset this.
  setenv("MIRANDEL_NO_DIALOG", "1", 1);
  for (const EnvChange &e : env) {
    if (e.set)
      setenv(e.name.c_str(), e.value.c_str(), 1);
    else
      unsetenv(e.name.c_str());
  }
  if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

static int DecodeStatus(int ws) {
  if (WIFEXITED(ws)) return WEXITSTATUS(ws);
  if (WIFSIGNALED(ws)) return 128 + WTERMSIG(ws);
  return -1;
}

static std::string ScratchName(const char *what) {
  static int counter = 0;
  return "/tmp/mirandel-run-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + what;
}

Child::Child(const std::vector<std::string> &argv, const Env &env, const std::string &cwd)
    : outPath_(ScratchName(".out")), errPath_(ScratchName(".err")) {
  pid_ = Spawn(argv, env, cwd, outPath_, errPath_);
}

Child::~Child() {
  if (!done_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    int ws;
    waitpid(pid_, &ws, 0);
  }
  unlink(outPath_.c_str());
  unlink(errPath_.c_str());
}

bool Child::Running() {
  if (done_) return false;
  int ws;
  pid_t r = waitpid(pid_, &ws, WNOHANG);
  if (r == pid_) {
    done_ = true;
    result_.status = DecodeStatus(ws);
    return false;
  }
  return true;
}

RunResult Child::Wait(double timeoutSeconds) {
  auto start = std::chrono::steady_clock::now();
  while (Running()) {
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (elapsed > timeoutSeconds) {
      kill(pid_, SIGKILL);
      int ws;
      waitpid(pid_, &ws, 0);
      done_ = true;
      result_.status = DecodeStatus(ws);
      result_.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  result_.out = ReadFile(outPath_);
  result_.err = ReadFile(errPath_);
  return result_;
}

RunResult RunProgram(const std::vector<std::string> &argv, const Env &env, const std::string &cwd,
                     double timeoutSeconds) {
  Child child(argv, env, cwd);
  return child.Wait(timeoutSeconds);
}

std::string MirandelBin() {
  return MIRANDEL_BIN;
}

RunResult RunMirandel(const std::vector<std::string> &args, const Env &env, const std::string &cwd,
                      double timeoutSeconds) {
  std::vector<std::string> argv{MirandelBin()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, env, cwd, timeoutSeconds);
}

std::string RealWorld(const std::string &relative) {
  return std::string(MIRANDEL_REALWORLD_DIR) + "/" + relative;
}

std::string RealWorldMissing() {
  struct stat st;
  if (stat(MIRANDEL_REALWORLD_DIR, &st) == 0 && S_ISDIR(st.st_mode)) return std::string();
  return std::string("objects written by other programs not found: no folder ") +
         MIRANDEL_REALWORLD_DIR;
}

bool RealWorldRequired() {
  const char *v = std::getenv("MIRANDEL_REQUIRE_REALWORLD");
  return v && *v && std::strcmp(v, "0") != 0;
}

std::string SourcePath(const std::string &relative) {
  return std::string(MIRANDEL_SOURCE_DIR) + "/" + relative;
}

XServer::XServer(int width, int height) {
  int fds[2];
  if (pipe(fds) != 0) return;
  std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(devnull, 1);
    dup2(devnull, 2);
    std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
           "tcp", "-noreset", static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  pid_ = pid;
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) {
    kill(pid_, SIGKILL);
    int ws;
    waitpid(pid_, &ws, 0);
    pid_ = -1;
    return;
  }
  display_ = ":" + number;
}

XServer::~XServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int ws;
    waitpid(pid_, &ws, 0);
  }
}

RunResult XServer::Run(const std::vector<std::string> &argv, double timeoutSeconds) const {
  return RunProgram(argv, {env()}, "", timeoutSeconds);
}

std::string XServer::WaitForWindow(const std::string &nameRegex, double timeoutSeconds) const {
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    RunResult r = Run({"xdotool", "search", "--name", nameRegex}, 10);
    // The window is ready once it is mapped and viewable. A toolkit may give an unmapped window
    // of its own the same name.
    std::size_t at = 0;
    while (r.status == 0 && at < r.out.size()) {
      std::size_t end = r.out.find('\n', at);
      if (end == std::string::npos) end = r.out.size();
      std::string id = r.out.substr(at, end - at);
      at = end + 1;
      RunResult attr = Run({"xwininfo", "-id", id}, 10);
      if (attr.out.find("IsViewable") != std::string::npos) return id;
    }
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (elapsed > timeoutSeconds) return "";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

Image ReadPng(const std::string &path, bool alpha) {
  Image img;
  img.channels = alpha ? 4 : 3;
  png_image pi;
  std::memset(&pi, 0, sizeof pi);
  pi.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&pi, path.c_str())) return img;
  pi.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  img.rgb.resize(PNG_IMAGE_SIZE(pi));
  if (!png_image_finish_read(&pi, nullptr, img.rgb.data(), 0, nullptr)) {
    png_image_free(&pi);
    img.rgb.clear();
    return img;
  }
  img.width = static_cast<int>(pi.width);
  img.height = static_cast<int>(pi.height);
  return img;
}

Image CaptureWindow(const XServer &x, const std::string &windowId) {
  std::string out = ScratchName(".png");
  x.Run({"import", "-window", windowId, out}, 30);
  Image img = ReadPng(out);
  unlink(out.c_str());
  return img;
}

std::string KeyFileValue(const std::string &text, const std::string &key) {
  std::smatch m;
  std::regex re("(^|\n)" + key + "=([^\n]*)");
  return std::regex_search(text, m, re) ? m[2].str() : "";
}

std::vector<std::string> KeyFileList(const std::string &value) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start < value.size()) {
    std::size_t end = value.find(';', start);
    if (end == std::string::npos) end = value.size();
    if (end > start) items.push_back(value.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

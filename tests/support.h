// Test support: scratch folders, running the real program, an X server of our own.
#pragma once

#include "base/fatal.h"

#include <map>
#include <string>
#include <vector>

struct RunResult {
  int status = -1; // exit status, or 128 + signal
  bool timedOut = false;
  std::string out;
  std::string err;
};

// A fresh directory under /tmp, removed with everything in it at the end of its scope.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }
  // Writes `contents` to path()/name and returns the full path.
  std::string write(const std::string &name, const std::string &contents) const;

private:
  std::string path_;
};

// Runs fn and returns the message it ends the run with ("" when it returns), its status in *status.
template <class F> std::string FatalMessage(F fn, int *status = nullptr) {
  try {
    fn();
  } catch (const FatalError &e) {
    if (status) *status = e.status;
    return e.what();
  }
  return "";
}

std::string ReadFile(const std::string &path);
bool FileExists(const std::string &path);
// Names in a directory, sorted.
std::vector<std::string> ListDir(const std::string &dir);

// Environment changes for a child: a value sets the variable, an absent optional unsets it.
struct EnvChange {
  std::string name;
  bool set = true;
  std::string value;
};
using Env = std::vector<EnvChange>;
inline EnvChange Unset(const std::string &name) {
  return EnvChange{name, false, ""};
}

// Runs `argv` (argv[0] is the program path) with the environment changed by `env`, in `cwd`
// (empty: the test's own), and waits at most `timeoutSeconds`. MIRANDEL_NO_DIALOG is 1 unless
// `env` changes it: a failure never waits in a message dialog.
RunResult RunProgram(const std::vector<std::string> &argv, const Env &env = {},
                     const std::string &cwd = "", double timeoutSeconds = 120);
// Runs the viewer: RunProgram with MIRANDEL_BIN as argv[0].
RunResult RunMirandel(const std::vector<std::string> &args, const Env &env = {},
                      const std::string &cwd = "", double timeoutSeconds = 120);
// Starts the viewer in the background; Wait() collects it.
class Child {
public:
  Child(const std::vector<std::string> &argv, const Env &env = {}, const std::string &cwd = "");
  ~Child();
  bool Running();
  RunResult Wait(double timeoutSeconds = 60);
  int pid() const { return pid_; }

private:
  int pid_ = -1;
  std::string outPath_, errPath_;
  RunResult result_;
  bool done_ = false;
};

// Objects written by other programs lie outside the project, in ../shared/realworld. A user's clone
// has no such folder: the tests that read it skip with one line naming it. Where
// MIRANDEL_REQUIRE_REALWORLD is set (CI), a missing folder fails those tests instead.
std::string RealWorld(const std::string &relative);
// "" when the folder is there, else the line that says which folder is missing.
std::string RealWorldMissing();
bool RealWorldRequired();
#define REQUIRE_REALWORLD()                                                                        \
  do {                                                                                             \
    std::string missing_ = RealWorldMissing();                                                     \
    if (!missing_.empty()) {                                                                       \
      if (RealWorldRequired()) FAIL() << missing_;                                                 \
      GTEST_SKIP() << missing_;                                                                    \
    }                                                                                              \
  } while (0)
std::string SourcePath(const std::string &relative);
std::string MirandelBin();

// An X server (Xvfb) for one test: 1024 x 768, 24 bits, its own display number.
class XServer {
public:
  explicit XServer(int width = 1024, int height = 768);
  ~XServer();
  bool ok() const { return pid_ > 0; }
  const std::string &display() const { return display_; }
  EnvChange env() const { return EnvChange{"DISPLAY", true, display_}; }
  // Runs a command (xdotool, import, ...) against this display.
  RunResult Run(const std::vector<std::string> &argv, double timeoutSeconds = 30) const;
  // Waits for a window whose name matches `nameRegex`; its id, or "" after the timeout.
  std::string WaitForWindow(const std::string &nameRegex, double timeoutSeconds = 30) const;

private:
  int pid_ = -1;
  std::string display_;
};

// A captured image: 8-bit RGB pixels (RGBA where read with its alpha), row 0 at the top.
struct Image {
  int width = 0, height = 0;
  int channels = 3;
  std::vector<unsigned char> rgb;
  bool empty() const { return width == 0; }
  const unsigned char *at(int x, int y) const { return &rgb[channels * (size_t(y) * width + x)]; }
};
// Reads a PNG file as RGB, or as RGBA with `alpha`.
Image ReadPng(const std::string &path, bool alpha = false);

// The value of `key` in a freedesktop key file (a desktop entry, a thumbnailer entry).
std::string KeyFileValue(const std::string &text, const std::string &key);
// The items of a key file's list value ("a;b;c;").
std::vector<std::string> KeyFileList(const std::string &value);
// Captures a window of the X server with `import`.
Image CaptureWindow(const XServer &x, const std::string &windowId);

// What every layer uses: the allocation report's call site, the warnings kept, whole-file
// contents, the temporary folder.
#include "base/fatal.h"
#include "base/files.h"
#include "support.h"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(Base, AllocationReportNamesTheCallSite) {
  std::vector<double> v;
  const std::size_t huge = v.max_size() + 1;
  int line = 0;
  std::string message = FatalMessage([&] {
    line = __LINE__ + 1;
    ALLOC_OR_REPORT("Coord", huge, "readBYUObj", v.reserve(huge));
  });
  EXPECT_EQ(message, "Memory allocation for Coord (" +
                         std::to_string(static_cast<long long>(huge)) + " bytes) failed on line " +
                         std::to_string(line) + " in readBYUObj\n");
  // Work that succeeds leaves no report.
  EXPECT_EQ(FatalMessage([&] { ALLOC_OR_REPORT("Coord", 4, "readBYUObj", v.reserve(4)); }), "");
  EXPECT_GE(v.capacity(), 4u);
}

// A failure's message dialog shows the last warning lines with the message: however many came
// before, and a last line still open counts as one.
TEST(Base, RecentWarningsAreTheLastLines) {
  testing::internal::CaptureStderr();
  for (int i = 0; i < 500; ++i) warn("line %d of a long run\n", i);
  warn("open ");
  warn("line");
  std::string written = testing::internal::GetCapturedStderr();
  std::string expected;
  for (int i = 500 - kWarningLinesKept + 1; i < 500; ++i)
    expected += "line " + std::to_string(i) + " of a long run\n";
  expected += "open line";
  EXPECT_EQ(RecentWarnings(), expected);
  EXPECT_EQ(written.substr(written.size() - expected.size()), expected);
}

TEST(Base, ContentsOfFilesAndPipesAlike) {
  TempDir dir;
  std::string path = dir.write("seven", "0123456");
  struct stat st;
  FilePtr file(OpenRegularFile(path, st));
  ASSERT_TRUE(file);
  FileContents mapped;
  mapped.Load(file.get(), "test");
  file.reset();
  EXPECT_EQ(std::string(mapped.data(), mapped.size()), "0123456");
  // Neither a folder nor a pipe is a regular file to open; a pipe is still read whole.
  EXPECT_EQ(OpenRegularFile(dir.path(), st), nullptr);
  std::FILE *pipe = popen("printf 'ab\\ncd'", "r");
  ASSERT_NE(pipe, nullptr);
  FileContents read;
  read.Load(pipe, "test");
  pclose(pipe);
  EXPECT_EQ(std::string(read.data(), read.size()), "ab\ncd");
  FileContents empty;
  EXPECT_EQ(empty.size(), 0u);
}

TEST(Base, TemporaryFilesGoToTmpdirElseTmp) {
  const char *saved = std::getenv("TMPDIR");
  std::string savedValue = saved ? saved : "";
  setenv("TMPDIR", "/somewhere/else", 1);
  EXPECT_EQ(TempFolder(), "/somewhere/else");
  setenv("TMPDIR", "", 1);
  EXPECT_EQ(TempFolder(), "/tmp");
  unsetenv("TMPDIR");
  EXPECT_EQ(TempFolder(), "/tmp");
  if (saved) setenv("TMPDIR", savedValue.c_str(), 1);
}

// A scratch folder is cleared once the run that made it is killed, at whatever moment of its
// making, and also while a child it forked lives on (the lock is shared across fork unless the
// child lets go of it); never while its maker lives.
TEST(Base, AKilledRunsScratchIsClearedWhileItsChildLives) {
  TempDir tmp;
  int child[2];
  ASSERT_EQ(pipe(child), 0);
  pid_t maker = fork();
  ASSERT_GE(maker, 0);
  if (maker == 0) {
    ScratchFolder scratch(tmp.path());
    pid_t c = fork();
    if (c == 0) {
      scratch.LeaveToMaker();
      c = getpid(); // told once it has let go
      if (write(child[1], &c, sizeof c) != sizeof c) _exit(1);
      pause();
      _exit(0);
    }
    pause();
    _exit(0);
  }
  pid_t c = -1;
  ASSERT_EQ(read(child[0], &c, sizeof c), static_cast<ssize_t>(sizeof c));
  ASSERT_EQ(ListDir(tmp.path()).size(), 2u); // the folder and its lock
  ClearAbandonedScratch(tmp.path());
  EXPECT_EQ(ListDir(tmp.path()).size(), 2u) << "a live run's folder was cleared";
  kill(maker, SIGKILL);
  int status;
  waitpid(maker, &status, 0);
  ClearAbandonedScratch(tmp.path());
  EXPECT_EQ(ListDir(tmp.path()), std::vector<std::string>()) << "the child kept the folder";
  kill(c, SIGKILL);
  close(child[0]);
  close(child[1]);

  // Killed at any moment of the making: a lock file alone, or with its folder, is cleared too.
  tmp.write("mirandel-AbCd12.lock", "");
  tmp.write("mirandel-XyZ789.lock", "");
  ASSERT_EQ(mkdir(tmp.file("mirandel-XyZ789").c_str(), 0700), 0);
  tmp.write("mirandel-XyZ789/side.off", "OFF");
  ClearAbandonedScratch(tmp.path());
  EXPECT_EQ(ListDir(tmp.path()), std::vector<std::string>());
}

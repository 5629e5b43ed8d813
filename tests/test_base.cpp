// What every layer uses: the allocation report's call site, whole-file contents, temporary files.
#include "base/fatal.h"
#include "base/files.h"
#include "base/tempFile.h"
#include "support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

template <class F> std::string FatalMessage(F fn) {
  try {
    fn();
  } catch (const FatalError &e) {
    return e.what();
  }
  return "";
}

} // namespace

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

TEST(Base, TempFileLivesInTmpdirUntilItsHolderEnds) {
  TempDir dir;
  const char *saved = std::getenv("TMPDIR");
  std::string savedValue = saved ? saved : "";
  setenv("TMPDIR", dir.path().c_str(), 1);
  EXPECT_EQ(TempFolder(), dir.path());
  std::string path;
  {
    TempFile temp;
    temp.Write("solid\n", 6, "STLReadObj");
    path = temp.path();
    EXPECT_EQ(path.compare(0, dir.path().size() + 10, dir.path() + "/mirandel-"), 0);
    EXPECT_EQ(ReadFile(path), "solid\n");
  }
  EXPECT_FALSE(FileExistsAt(path));
  setenv("TMPDIR", "", 1);
  EXPECT_EQ(TempFolder(), "/tmp");
  setenv("TMPDIR", (dir.path() + "/missing").c_str(), 1);
  TempFile nowhere;
  EXPECT_EQ(FatalMessage([&] { nowhere.Write("x", 1, "STLReadObj"); }),
            "STLReadObj: cannot create a temporary file in " + dir.path() + "/missing\n");
  if (saved)
    setenv("TMPDIR", savedValue.c_str(), 1);
  else
    unsetenv("TMPDIR");
}

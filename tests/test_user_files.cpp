// The user's files under the faults that really happen: a full disk, a read-only file system,
// another program saving or cutting a file while the viewer reads it, a second viewer on the
// same object, things that are not files where an object belongs.
#include "base/fatal.h"
#include "base/files.h"
#include "support.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// A cube of side 10 (it gets a "scale" line), its third count wrong (the geometry is rewritten).
const std::string kBigCube = "8 6 0\n"
                             "0 0 0\n10 0 0\n10 10 0\n0 10 0\n0 0 10\n10 0 10\n10 10 10\n0 10 10\n"
                             "4 1 4 3 2\n4 5 6 7 8\n4 1 2 6 5\n4 2 3 7 6\n4 3 4 8 7\n4 4 1 5 8\n";
const std::string kHeader = "\ngeometry\t\tindexed_poly\tfff\t\tcube.geom\n";

// A small file system of its own (300 kB of memory), mounted on a fresh folder; `ok()` false
// where mounting is not permitted.
class SmallFileSystem {
public:
  SmallFileSystem() {
    ok_ = mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, "size=300k,mode=0755") == 0;
    if (!ok_) why_ = std::string("a tmpfs cannot be mounted here: ") + std::strerror(errno);
  }
  ~SmallFileSystem() {
    if (ok_) umount2(dir_.path().c_str(), MNT_DETACH);
  }
  bool ok() const { return ok_; }
  const std::string &why() const { return why_; }
  const TempDir &dir() const { return dir_; }
  // Fills what is left of it.
  void Fill() const {
    int fd = open(dir_.file("filler").c_str(), O_WRONLY | O_CREAT, 0644);
    std::string block(4096, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    // The last partial block too.
    while (write(fd, "x", 1) > 0) {
    }
    close(fd);
  }
  bool ReadOnly() const {
    return mount("tmpfs", dir_.path().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=300k") == 0;
  }

private:
  TempDir dir_;
  bool ok_ = false;
  std::string why_;
};

#define REQUIRE_MOUNT(fs)                                                                          \
  do {                                                                                             \
    if (!(fs).ok()) GTEST_SKIP() << (fs).why();                                                    \
  } while (0)

RunResult Info(const std::string &dir, const std::string &name, const std::string &tmp) {
  return RunMirandel({"--info", "-in", name}, {{"OBJ_PATH", true, dir}, {"TMP_PATH", true, tmp}});
}

bool Has(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

int Count(const std::string &text, const std::string &part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

} // namespace

// A full disk while the header and the geometry are written leaves both whole: the load goes on
// from corrected copies, with a warning, and once there is room again the next load writes them.
TEST(UserFiles, FullDiskLeavesHeaderAndGeometryWhole) {
  SmallFileSystem fs;
  REQUIRE_MOUNT(fs);
  TempDir tmp;
  const TempDir &dir = fs.dir();
  dir.write("cube.geom", kBigCube);
  dir.write("cube.aoff", kHeader);
  fs.Fill();
  RunResult r = Info(dir.path(), "cube.geom", tmp.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "8 vertices\n6 polygons\nbbox: 0 0 0 10 10 10\n")) << r.out;
  EXPECT_TRUE(Has(r.err, "Warning: " + dir.file("cube.aoff") + " is left as it is")) << r.err;
  EXPECT_EQ(ReadFile(dir.file("cube.aoff")), kHeader);
  EXPECT_EQ(ReadFile(dir.file("cube.geom")), kBigCube);
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"cube.aoff", "cube.geom", "filler"}));
  EXPECT_TRUE(ListDir(tmp.path()).empty());

  std::remove(dir.file("filler").c_str());
  r = Info(dir.path(), "cube.geom", tmp.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Count(ReadFile(dir.file("cube.aoff")), "scale"), 1);
  EXPECT_EQ(ReadFile(dir.file("cube.geom")).substr(0, 7), "8\t6\t24\n");
  r = Info(dir.path(), "cube.geom", tmp.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

// On a read-only file system a bare ".geom" and a VRML world load from the private folder; nothing
// there changes.
TEST(UserFiles, ReadOnlyFileSystemStillOpensBareGeometryAndWorlds) {
  SmallFileSystem fs;
  REQUIRE_MOUNT(fs);
  TempDir tmp;
  const TempDir &dir = fs.dir();
  dir.write("cube.geom", kBigCube);
  dir.write("tri.wrl",
            "#VRML V2.0 utf8\nShape { geometry IndexedFaceSet {\n"
            "  coord Coordinate { point [0 0 0, 1 0 0, 0 1 0] } coordIndex [0 1 2 -1] } }\n");
  ASSERT_TRUE(fs.ReadOnly()) << std::strerror(errno);
  RunResult r = Info(dir.path(), "cube.geom", tmp.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "8 vertices\n6 polygons\n")) << r.out;
  r = Info(dir.path(), "tri.wrl", tmp.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Object: tri.geom\n3 vertices\n1 polygons\n")) << r.out;
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"cube.geom", "tri.wrl"}));
  EXPECT_EQ(ReadFile(dir.file("cube.geom")), kBigCube);
  EXPECT_TRUE(ListDir(tmp.path()).empty());
}

// Another program saves the geometry while the viewer prepares it: what it saved stays, whatever
// the moment.
TEST(UserFiles, GeometrySavedMeanwhileIsKept) {
  const std::string saved = "3 1 3\n0 0 0\n1 0 0\n0 1 0\n3 1 2 3\n";
  for (int round = 0; round < 8; ++round) {
    TempDir dir, tmp;
    // Enough vertices that the read takes a while.
    std::string big = "20000 1 0\n";
    for (int i = 0; i < 20000; ++i) big += std::to_string(i % 7) + " 1 2\n";
    big += "3 1 2 3\n";
    dir.write("obj.geom", big);
    Child viewer({MirandelBin(), "--info", "-in", "obj.geom"},
                 {{"OBJ_PATH", true, dir.path()}, {"TMP_PATH", true, tmp.path()}});
    // The other program saves as editors do: a new file renamed over the old one.
    std::this_thread::sleep_for(std::chrono::milliseconds(10 + 15 * round));
    RunResult save =
        RunProgram({"sh", "-c", "printf '%s' \"$1\" > \"$2.new\" && mv \"$2.new\" \"$2\"", "sh",
                    saved, dir.file("obj.geom")});
    ASSERT_EQ(save.status, 0) << save.err;
    RunResult r = viewer.Wait(60);
    EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status << r.err;
    EXPECT_EQ(ReadFile(dir.file("obj.geom")), saved) << "round " << round << ": " << r.err;
  }
}

// Two viewers started at once on one bare ".geom": the header gets its lines once, and neither
// sees the other's half-made files.
TEST(UserFiles, TwoLoadsOfOneBareGeometryAtOnce) {
  for (int round = 0; round < 6; ++round) {
    TempDir dir, tmp;
    dir.write("cube.geom", kBigCube);
    Env env{{"OBJ_PATH", true, dir.path()}, {"TMP_PATH", true, tmp.path()}};
    Child a({MirandelBin(), "--info", "-in", "cube.geom"}, env);
    Child b({MirandelBin(), "--info", "-in", "cube.geom"}, env);
    RunResult ra = a.Wait(60), rb = b.Wait(60);
    EXPECT_EQ(ra.status, 0) << ra.err;
    EXPECT_EQ(rb.status, 0) << rb.err;
    EXPECT_EQ(ra.err + rb.err, "");
    std::string header = ReadFile(dir.file("cube.aoff"));
    for (const char *word : {"geometry", "scale", "polygon_normals", "vertex_normals"})
      EXPECT_EQ(Count(header, word), 1) << word << " in round " << round << ":\n" << header;
    EXPECT_EQ(ListDir(dir.path()),
              (std::vector<std::string>{"cube.aoff", "cube.geom", "cube.pnorm", "cube.vnorm"}));
  }
}

// A world's geometry and side files stay beside it and are used again; a stem.geom that is not
// the world's conversion is the user's and is kept as it is.
TEST(UserFiles, WorldConversionNeverReplacesTheUsersGeometry) {
  TempDir dir, tmp;
  dir.write("tri.wrl",
            "#VRML V2.0 utf8\nShape { geometry IndexedFaceSet {\n"
            "  coord Coordinate { point [0 0 0, 1 0 0, 0 1 0] } coordIndex [0 1 2 -1] } }\n");
  RunResult r = Info(dir.path(), "tri.wrl", tmp.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"tri.aoff", "tri.geom", "tri.pnorm",
                                                           "tri.vnorm", "tri.wrl"}));
  std::map<std::string, std::string> first;
  for (const std::string &name : ListDir(dir.path())) first[name] = ReadFile(dir.file(name));
  r = Info(dir.path(), "tri.wrl", tmp.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const auto &f : first) EXPECT_EQ(ReadFile(dir.file(f.first)), f.second) << f.first;

  const std::string mine = "4 1 4\n0 0 0\n2 0 0\n2 2 0\n0 2 0\n4 1 2 3 4\n";
  dir.write("tri.geom", mine);
  r = Info(dir.path(), "tri.wrl", tmp.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Object: tri.geom\n3 vertices\n1 polygons\n")) << r.out;
  EXPECT_EQ(r.err, "Warning: tri.geom is not the conversion of tri.wrl; the files beside the world "
                   "are left as they are, and it is read from a private folder\n");
  EXPECT_EQ(ReadFile(dir.file("tri.geom")), mine);
  EXPECT_EQ(ReadFile(dir.file("tri.aoff")), first["tri.aoff"]);
  EXPECT_TRUE(ListDir(tmp.path()).empty());
}

// Only a regular file is an object: a pipe and a device end the run at once, in every mode.
TEST(UserFiles, OnlyRegularFilesAreObjects) {
  TempDir dir, out;
  ASSERT_EQ(mkfifo(dir.file("x.ply").c_str(), 0644), 0);
  ASSERT_EQ(symlink("/dev/zero", dir.file("z.off").c_str()), 0);
  for (const char *name : {"x.ply", "z.off"}) {
    RunResult r = RunMirandel({"--info", "-in", name}, {{"OBJ_PATH", true, dir.path()}}, "", 30);
    EXPECT_FALSE(r.timedOut) << name;
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.err, std::string("File ") + name + " is not a regular file\n");
    r = RunMirandel({"--thumbnail", dir.file(name), out.file("t.png")}, {}, "", 30);
    EXPECT_FALSE(r.timedOut) << name;
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.err, "File " + dir.file(name) + " is not a regular file\n");
  }
  // A pipe where a side file belongs.
  dir.write("cube.geom", kBigCube);
  ASSERT_EQ(mkfifo(dir.file("cube.pnorm").c_str(), 0644), 0);
  dir.write("cube.vnorm", "8\n0 0 1\n0 0 1\n0 0 1\n0 0 1\n0 0 1\n0 0 1\n0 0 1\n0 0 1\n");
  RunResult r =
      RunMirandel({"--info", "-in", "cube.geom"}, {{"OBJ_PATH", true, dir.path()}}, "", 30);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(ListDir(out.path()).empty());
}

// A mapped file that another program cuts short: the pages past its new end read as zeros, and
// the run ends with a message naming the file, never with SIGBUS.
TEST(UserFiles, FileCutShortUnderTheMappingIsNamed) {
  TempDir dir;
  std::string path = dir.write("big", std::string(3 * 4096 + 100, 'a'));
  struct stat st;
  FilePtr f(OpenRegularFile(path, st));
  ASSERT_TRUE(f);
  {
    FileContents contents;
    contents.Load(f.get(), "test", path);
    ASSERT_EQ(truncate(path.c_str(), 10), 0);
    const volatile char *data = contents.data();
    EXPECT_EQ(data[5], 'a');
    EXPECT_EQ(data[contents.size() - 1], 0);
  }
  EXPECT_EQ(FileCutShort(), path);
  EXPECT_EQ(FatalMessage([] { fatal(2, "something else\n"); }),
            "File " + path + " was cut short while it was read\n");
  ForgetFileCutShort();
  EXPECT_EQ(FileCutShort(), "");
}

// The same through the real program with a real second process that truncates the object at
// moments spread over its load.
TEST(UserFiles, ObjectCutShortWhileLoadingEndsWithAMessage) {
  std::string off = "OFF\n300000 1 0\n";
  for (int i = 0; i < 300000; ++i) off += "0.25 0.5 0.75\n";
  off += "3 0 1 2\n";
  int cut = 0;
  for (int round = 0; round < 10; ++round) {
    TempDir dir;
    dir.write("big.off", off);
    Child viewer({MirandelBin(), "--info", "-in", "big.off"}, {{"OBJ_PATH", true, dir.path()}});
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + 20 * round));
    ASSERT_EQ(truncate(dir.file("big.off").c_str(), 4096), 0);
    RunResult r = viewer.Wait(60);
    EXPECT_TRUE(r.status == 0 || r.status == 1) << "round " << round << ": " << r.status << r.err;
    // The reader may have said first what it made of the zeros.
    std::string tail = "File " + dir.file("big.off") + " was cut short while it was read\n";
    if (Has(r.err, tail)) {
      ++cut;
      EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
    }
  }
  std::printf("cut short under the reader in %d of 10 rounds\n", cut);
}

// A coordinate that is no finite single-precision number ends the load, naming the file and the
// vertex, before anything is written from it.
TEST(UserFiles, CoordinatesMustBeFiniteFloats) {
  struct Case {
    const char *file, *contents, *err;
  } cases[] = {
      {"big.off", "OFF\n3 1 0\n0 0 0\n1e308 0 0\n0 1 0\n3 0 1 2\n",
       "File big.off: vertex 2: coordinate inf is not a finite single-precision number\n"},
      {"nan.ply",
       "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
       "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
       "0 0 0\n1 0 0\n0 nan 0\n3 0 1 2\n",
       "File nan.ply: vertex 3: coordinate nan is not a finite single-precision number\n"},
      {"big.ply",
       "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
       "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
       "0 0 0\n1 0 0\n0 -1e39 0\n3 0 1 2\n",
       "File big.ply: vertex 3: coordinate -inf is not a finite single-precision number\n"},
      {"big.geom", "3 1 3\n0 0 0\n0 0 1e308\n0 1 0\n3 1 2 3\n",
       "Geometry file %s/big.geom: vertex 2: coordinate inf is not a finite single-precision "
       "number\n"},
  };
  for (const Case &c : cases) {
    TempDir dir;
    dir.write(c.file, c.contents);
    RunResult r = RunMirandel({"--info", "-in", c.file}, {{"OBJ_PATH", true, dir.path()}});
    std::string err = c.err;
    if (err.find("%s") != std::string::npos) err.replace(err.find("%s"), 2, dir.path());
    EXPECT_EQ(r.status, 1) << c.file << ": " << r.out;
    EXPECT_EQ(r.err, err) << c.file;
    for (const std::string &name : ListDir(dir.path())) {
      if (name != c.file) {
        EXPECT_EQ(ReadFile(dir.file(name)).find("inf"), std::string::npos) << name;
      }
    }
  }
}

// Thumbnails as a file manager asks for them: the installed thumbnailer entry's command, with no
// display and no OBJ_PATH, on objects in folders it must not touch, and on files meant to hurt.
#include "support.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Why(const RunResult &r) {
  return "status " + std::to_string(r.status) + "\nout: " + r.out + "\nerr: " + r.err;
}

// The object fills the thumbnail: opaque in its middle, over a good share of the square, from
// edge to edge along one side, and (unless the file gives colours of its own) drawn in the
// object's lit pink where it faces the light.
void ExpectObjectShown(const Image &p, int size, const std::string &what,
                       bool objectColour = true) {
  ASSERT_EQ(p.width, size) << what;
  ASSERT_EQ(p.height, size) << what;
  int opaque = 0, pink = 0, x0 = size, x1 = -1, y0 = size, y1 = -1;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const unsigned char *c = p.at(x, y);
      if (c[3] < 128) continue;
      ++opaque;
      pink += c[0] > 60 && c[0] > c[1] + 30 && c[2] > c[1];
      x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    }
  EXPECT_GT(opaque, size * size / 8) << what;
  if (objectColour) {
    EXPECT_GT(pink, opaque / 4) << what;
  }
  EXPECT_GT(std::max(x1 - x0, y1 - y0), size * 8 / 10) << what << ": the object is not framed";
  // Transparent around it.
  EXPECT_EQ(p.at(0, 0)[3], 0) << what;
}

// A key file's list as a set, for comparing lists whose order does not matter.
std::set<std::string> ListSet(const std::string &value) {
  std::vector<std::string> items = KeyFileList(value);
  return std::set<std::string>(items.begin(), items.end());
}

// The command a file manager runs for a thumbnailer's Exec value: its words, each field code
// replaced inside its word (%i the file, %u its URI, %o the output, %s the size, %% a %).
std::vector<std::string> ThumbnailCommand(const std::string &exec, const std::string &input,
                                          const std::string &output, int size) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start < exec.size()) {
    std::size_t end = exec.find(' ', start);
    if (end == std::string::npos) end = exec.size();
    std::string word;
    for (std::size_t i = start; i < end; ++i) {
      if (exec[i] != '%' || i + 1 >= end) {
        word += exec[i];
        continue;
      }
      char code = exec[++i];
      word += code == 'i'   ? input
              : code == 'u' ? "file://" + input
              : code == 'o' ? output
              : code == 's' ? std::to_string(size)
              : code == '%' ? "%"
                            : "";
    }
    if (!word.empty()) words.push_back(word);
    start = end + 1;
  }
  return words;
}

// Names with sizes and modification times: what a folder's listing shows.
std::string Listing(const std::string &dir) {
  std::string all;
  for (const std::string &name : ListDir(dir)) {
    struct stat st;
    stat((dir + "/" + name).c_str(), &st);
    all += name + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec) + "\n";
  }
  return all;
}

// A binary PLY of a wavy grid of about `triangles` triangles.
std::string GridPly(int triangles) {
  int w = 1;
  while (2 * (w + 1) * (w + 1) <= triangles) ++w;
  int vertices = (w + 1) * (w + 1), faces = 2 * w * w;
  std::string ply =
      "ply\nformat binary_little_endian 1.0\nelement vertex " + std::to_string(vertices) +
      "\nproperty float x\nproperty float y\nproperty float z\nelement face " +
      std::to_string(faces) + "\nproperty list uchar int vertex_indices\nend_header\n";
  auto put = [&ply](const void *p, std::size_t n) { ply.append(static_cast<const char *>(p), n); };
  for (int j = 0; j <= w; ++j)
    for (int i = 0; i <= w; ++i) {
      float v[3] = {float(i) / w, float(j) / w,
                    0.05f * std::sin(6.0f * i / w) * std::cos(5.0f * j / w)};
      put(v, sizeof v);
    }
  for (int j = 0; j < w; ++j)
    for (int i = 0; i < w; ++i) {
      int a = j * (w + 1) + i, b = a + 1, c = a + w + 1, d = c + 1;
      unsigned char three = 3;
      int t1[3] = {a, b, d}, t2[3] = {a, d, c};
      put(&three, 1), put(t1, sizeof t1), put(&three, 1), put(t2, sizeof t2);
    }
  return ply;
}

const char *kCubeOff = "OFF\n8 6 0\n-1 -1 -1\n1 -1 -1\n1 1 -1\n-1 1 -1\n-1 -1 1\n1 -1 1\n1 1 1\n"
                       "-1 1 1\n4 0 3 2 1\n4 4 5 6 7\n4 0 1 5 4\n4 2 3 7 6\n4 1 2 6 5\n4 0 4 7 3\n";

// The installed thumbnailer and a private temporary folder, which must be empty after each run.
class Thumbnail : public ::testing::Test {
protected:
  void SetUp() override {
    RunResult install =
        RunProgram({"cmake", "--install", MIRANDEL_BIN_DIR, "--prefix", prefix.path()});
    ASSERT_EQ(install.status, 0) << Why(install);
    entry = ReadFile(prefix.file("share/thumbnailers/mirandel.thumbnailer"));
    exec = KeyFileValue(entry, "Exec");
    ASSERT_FALSE(exec.empty()) << entry;
  }
  // Runs the entry's command as a file manager does: no display, no OBJ_PATH, from "/".
  RunResult Run(const std::string &input, const std::string &output, int size,
                const Env &extra = {}, double timeout = 120) {
    const char *path = std::getenv("PATH");
    Env env{Unset("DISPLAY"),
            Unset("OBJ_PATH"),
            {"TMPDIR", true, tmp.path()},
            {"PATH", true, prefix.path() + "/bin:" + (path ? path : "/usr/bin:/bin")}};
    env.insert(env.end(), extra.begin(), extra.end());
    return RunProgram(ThumbnailCommand(exec, input, output, size), env, "/", timeout);
  }
  TempDir prefix, tmp, out;
  std::string entry, exec;
};

} // namespace

TEST_F(Thumbnail, EntryOffersTheDesktopEntrysTypes) {
  EXPECT_EQ(KeyFileValue(entry, "TryExec"), "mirandel");
  EXPECT_NE(exec.find("%i"), std::string::npos);
  EXPECT_NE(exec.find("%o"), std::string::npos);
  EXPECT_NE(exec.find("%s"), std::string::npos);
  std::string desktop = ReadFile(SourcePath("desktop/mirandel.desktop"));
  EXPECT_EQ(ListSet(KeyFileValue(entry, "MimeType")), ListSet(KeyFileValue(desktop, "MimeType")));
  EXPECT_EQ(entry.compare(0, 19, "[Thumbnailer Entry]"), 0);
}

TEST_F(Thumbnail, ObjectsGiveSquarePicturesAndTheirFoldersStayAsTheyWere) {
  TempDir objects;
  // Each case in its own folder, so that the listing shows what the run left.
  struct Case {
    std::string folder, file;
    int size;
    bool readOnly;
    bool objectColour = true;
  };
  const Case cases[] = {
      {"ply", "grid.ply", 128, false},
      {"gz", "cube.off.gz", 256, false},
      {"ro geom", "torus.geom", 128, true},
      // A header is drawn through its geometry file.
      {"ro aoff", "torus.aoff", 96, true},
      {"ro gz", "cube.off.gz", 64, true},
      // Its parts get colours of their own.
      {"coor", "tri.coor", 128, false, false},
  };
  for (const char *d : {"ply", "gz", "ro geom", "ro aoff", "ro gz", "coor"})
    ASSERT_EQ(RunProgram({"mkdir", "-p", objects.file(d)}).status, 0);
  objects.write("ply/grid.ply", GridPly(2000));
  objects.write("gz/cube.off", kCubeOff);
  objects.write("ro gz/cube.off", kCubeOff);
  // A twin the decompression must not take for the object's own, and a stranger.
  objects.write("ro gz/cube.aoff", "not ours\n");
  objects.write("ro gz/other.off", kCubeOff);
  ASSERT_EQ(
      RunProgram({"gzip", objects.file("gz/cube.off"), objects.file("ro gz/cube.off")}).status, 0);
  objects.write("ro geom/torus.geom", ReadFile(SourcePath("samples/torus.geom")));
  objects.write("ro aoff/torus.geom", ReadFile(SourcePath("samples/torus.geom")));
  objects.write("ro aoff/torus.aoff", "geometry indexed_poly fff torus.geom\n");
  objects.write("coor/tri.coor", "1,-1,-1,0\n2,1,-1,0\n3,0,1,0\n");
  objects.write("coor/tri.elem", "face 1 2 3\n");
  for (const Case &c : cases)
    if (c.readOnly) {
      ASSERT_EQ(chmod(objects.file(c.folder).c_str(), 0555), 0);
    }

  for (const Case &c : cases) {
    std::string folder = objects.file(c.folder), png = out.file(c.folder + ".png");
    std::string before = Listing(folder);
    RunResult r = Run(folder + "/" + c.file, png, c.size);
    EXPECT_EQ(r.status, 0) << c.file << ": " << Why(r);
    ExpectObjectShown(ReadPng(png, true), c.size, c.folder + "/" + c.file, c.objectColour);
    // Not a file written, renamed or touched beside the object, read-only folder or not (the
    // tests run as root, whom a mode would not stop).
    EXPECT_EQ(Listing(folder), before) << c.folder;
    EXPECT_EQ(ListDir(tmp.path()), std::vector<std::string>()) << c.folder << ": scratch left";
  }
  for (const Case &c : cases)
    if (c.readOnly) chmod(objects.file(c.folder).c_str(), 0755);
}

TEST_F(Thumbnail, FailuresAreCleanAndLeaveNothingBehind) {
  TempDir objects;
  objects.write("cube.off", kCubeOff);
  objects.write("notes.txt", "hello\n");
  objects.write("empty.off", "OFF\n0 0 0\n");
  // A count far beyond what the file holds.
  objects.write("liar.ply", "ply\nformat binary_little_endian 1.0\nelement vertex 2000000000\n"
                            "property float x\nproperty float y\nproperty float z\nelement face 1\n"
                            "property list uchar int vertex_indices\nend_header\n");
  struct Case {
    std::string input, output;
    Env env;
    std::string message; // a part of standard error
  };
  const Case cases[] = {
      {objects.file("missing.off"), out.file("a.png"), {}, "does not exist"},
      {objects.file("notes.txt"), out.file("a.png"), {}, "extension is not supported"},
      {objects.path(), out.file("a.png"), {}, "does not exist"},
      {objects.file("empty.off"), out.file("a.png"), {}, "nothing to show"},
      {objects.file("liar.ply"), out.file("a.png"), {}, "liar.ply"},
      {objects.file("cube.off"), out.file("no/such/folder/a.png"), {}, "could not be written"},
      {objects.file("cube.off"),
       out.file("a.png"),
       {{"MIRANDEL_THUMBNAIL_SECONDS", true, "soon"}},
       "MIRANDEL_THUMBNAIL_SECONDS=soon: give a number above 0"},
      {objects.file("cube.off"),
       out.file("a.png"),
       {{"MIRANDEL_THUMBNAIL_MEGABYTES", true, "0"}},
       "MIRANDEL_THUMBNAIL_MEGABYTES=0: give a number above 0"},
  };
  std::string before = Listing(objects.path());
  for (const Case &c : cases) {
    RunResult r = Run(c.input, c.output, 128, c.env);
    EXPECT_EQ(r.status, 1) << c.input << ": " << Why(r);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.input << ": " << r.err;
    EXPECT_FALSE(FileExists(out.file("a.png"))) << c.input;
    EXPECT_EQ(ListDir(tmp.path()), std::vector<std::string>()) << c.input << ": scratch left";
  }
  EXPECT_EQ(Listing(objects.path()), before);
}

// A big object under a tiny limit stands for a huge or hostile file: the run stops at the limit
// with a message, status 1, no picture, and no scratch folder or process left.
TEST_F(Thumbnail, LimitsStopTheLoadInTime) {
  TempDir objects;
  objects.write("big.ply", GridPly(1000000));
  struct Case {
    EnvChange limit;
    std::string message;
  };
  const Case cases[] = {
      {{"MIRANDEL_THUMBNAIL_SECONDS", true, "0.2"},
       "Thumbnail of " + objects.file("big.ply") +
           ": stopped at the time limit of 0.2 seconds (MIRANDEL_THUMBNAIL_SECONDS)\n"},
      {{"MIRANDEL_THUMBNAIL_MEGABYTES", true, "40"},
       " MB resident, past the memory limit of 40 MB (MIRANDEL_THUMBNAIL_MEGABYTES)\n"},
  };
  for (const Case &c : cases) {
    auto start = std::chrono::steady_clock::now();
    RunResult r = Run(objects.file("big.ply"), out.file("big.png"), 128, {c.limit}, 60);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, 1) << Why(r);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_LT(seconds, 10) << c.limit.name;
    EXPECT_FALSE(FileExists(out.file("big.png")));
    EXPECT_EQ(ListDir(tmp.path()), std::vector<std::string>()) << "scratch left";
  }
  EXPECT_EQ(ListDir(objects.path()), std::vector<std::string>{"big.ply"});
}

// The file manager gives up on a thumbnail: the load stops with it and its scratch folder goes.
TEST_F(Thumbnail, EndedRunStopsItsLoadAndCleansUp) {
  TempDir objects;
  objects.write("big.ply", GridPly(1000000));
  const char *path = std::getenv("PATH");
  Child run(ThumbnailCommand(exec, objects.file("big.ply"), out.file("big.png"), 128),
            {Unset("DISPLAY"),
             Unset("OBJ_PATH"),
             {"TMPDIR", true, tmp.path()},
             {"PATH", true, prefix.path() + "/bin:" + (path ? path : "/usr/bin:/bin")}},
            "/");
  // Once the scratch folder is there, the load is under way.
  for (int i = 0; i < 500 && ListDir(tmp.path()).empty(); ++i) usleep(10000);
  ASSERT_FALSE(ListDir(tmp.path()).empty()) << "no scratch folder";
  kill(run.pid(), SIGTERM);
  RunResult r = run.Wait(30);
  EXPECT_EQ(r.status, 128 + SIGTERM) << Why(r);
  EXPECT_EQ(ListDir(tmp.path()), std::vector<std::string>()) << "scratch left";
  EXPECT_FALSE(FileExists(out.file("big.png")));
}

// The object is read where it lies: a huge neighbour of its stem costs nothing. A thumbnailer
// killed outright leaves its scratch folder, and the next one clears it.
TEST_F(Thumbnail, ObjectsAreReadInPlaceAndAKilledRunsScratchIsCleared) {
  TempDir objects;
  objects.write("good.off", kCubeOff);
  // Sparse: two gigabytes that take no room, far past the memory bound.
  ASSERT_EQ(RunProgram({"truncate", "-s", "2G", objects.file("good.off.orig")}).status, 0);
  RunResult r = Run(objects.file("good.off"), out.file("good.png"), 64);
  EXPECT_EQ(r.status, 0) << Why(r);
  ExpectObjectShown(ReadPng(out.file("good.png"), true), 64, "good.off");
  EXPECT_EQ(ListDir(tmp.path()), std::vector<std::string>()) << "scratch left";

  objects.write("big.ply", GridPly(1000000));
  const char *path = std::getenv("PATH");
  Child run(ThumbnailCommand(exec, objects.file("big.ply"), out.file("big.png"), 128),
            {Unset("DISPLAY"),
             Unset("OBJ_PATH"),
             {"TMPDIR", true, tmp.path()},
             {"PATH", true, prefix.path() + "/bin:" + (path ? path : "/usr/bin:/bin")}},
            "/");
  for (int i = 0; i < 500 && ListDir(tmp.path()).empty(); ++i) usleep(10000);
  ASSERT_FALSE(ListDir(tmp.path()).empty()) << "no scratch folder";
  kill(run.pid(), SIGKILL);
  EXPECT_EQ(run.Wait(30).status, 128 + SIGKILL);
  r = Run(objects.file("good.off"), out.file("good.png"), 64);
  EXPECT_EQ(r.status, 0) << Why(r);
  EXPECT_EQ(ListDir(tmp.path()), std::vector<std::string>()) << "scratch left";
}

namespace {

// A binary STL of the cube: an 80-byte header that begins with "solid", as many writers do.
std::string CubeStl() {
  const int quads[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                           {2, 3, 7, 6}, {1, 2, 6, 5}, {0, 4, 7, 3}};
  auto corner = [](int k, int axis) { return float(((k >> axis) & 1) * 2 - 1); };
  const int order[8] = {0, 1, 3, 2, 4, 5, 7, 6}; // the OFF cube's corners by bits
  std::string stl = "solid cube" + std::string(70, ' ');
  uint32_t n = 12;
  stl.append(reinterpret_cast<const char *>(&n), 4);
  for (const auto &q : quads)
    for (int t = 0; t < 2; ++t) {
      float rec[12] = {0};
      int tri[3] = {q[0], q[1 + t], q[2 + t]};
      for (int v = 0; v < 3; ++v)
        for (int a = 0; a < 3; ++a) rec[3 + 3 * v + a] = corner(order[tri[v]], a);
      stl.append(reinterpret_cast<const char *>(rec), sizeof rec);
      stl.append(2, '\0');
    }
  return stl;
}

} // namespace

// File managers run the thumbnailer on a copy that keeps only the last extension: the contents,
// decompressed where they are compressed, tell the format.
TEST_F(Thumbnail, CopiesWithoutTheirExtensionAreToldByTheirContents) {
  TempDir objects;
  const char *copy = "gnome-desktop-file-to-thumbnail";
  struct Case {
    const char *folder, *tool; // tool: how the copy is compressed ("" for not at all)
    std::string contents;
    std::string suffix;
  };
  const Case cases[] = {
      {"off", "gzip", kCubeOff, ".gz"},
      {"ply", "compress", GridPly(40), ".Z"},
      {"stl", "gzip", CubeStl(), ".gz"},
      {"plain", "", CubeStl(), ""},
  };
  for (const Case &c : cases) {
    ASSERT_EQ(RunProgram({"mkdir", "-p", objects.file(c.folder)}).status, 0);
    std::string file = objects.write(std::string(c.folder) + "/" + copy, c.contents);
    if (*c.tool) {
      ASSERT_EQ(RunProgram({c.tool, "-f", file}).status, 0) << c.tool;
    }
    ASSERT_TRUE(FileExists(file + c.suffix)) << c.folder;
    std::string png = out.file(std::string(c.folder) + ".png");
    RunResult r = Run(file + c.suffix, png, 96);
    EXPECT_EQ(r.status, 0) << c.folder << ": " << Why(r);
    ExpectObjectShown(ReadPng(png, true), 96, c.folder);
    EXPECT_EQ(ListDir(tmp.path()), std::vector<std::string>()) << c.folder << ": scratch left";
  }
  ASSERT_EQ(RunProgram({"mkdir", "-p", objects.file("text")}).status, 0);
  std::string text = objects.write(std::string("text/") + copy, "neither an object nor empty\n");
  RunResult r = Run(text, out.file("text.png"), 96);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("extension is not supported"), std::string::npos) << r.err;
}

// A large binary STL is drawn from a guess while the mesh library repairs it. The guess must be
// the repaired mesh itself whenever the repair keeps the file's facets, must give way whenever
// the repair changes anything, and the first picture must be the repaired mesh's either way.
#include "viewer/model/object.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/guessSTLObj.h"
#include "viewer/readers/readSTLObj.h"
#include "viewer/shell/loadObj.h"
#include "support.h"
#include "window_support.h"

#include <array>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits>
#include <unistd.h>

namespace {

struct Facet {
  std::array<float, 3> normal;
  std::array<std::array<float, 3>, 3> corners;
};

// A closed torus of 2 u v facets wound outward; the file's normals left zero.
std::vector<Facet> Torus(int u, int v) {
  std::vector<std::array<float, 3>> grid(std::size_t(u) * v);
  for (int i = 0; i < u; ++i)
    for (int j = 0; j < v; ++j) {
      double a = 2 * M_PI * i / u, b = 2 * M_PI * j / v;
      grid[std::size_t(i) * v + j] = {float((2 + std::cos(b)) * std::cos(a)),
                                      float((2 + std::cos(b)) * std::sin(a)), float(std::sin(b))};
    }
  auto at = [&](int i, int j) { return grid[std::size_t(i % u) * v + j % v]; };
  std::vector<Facet> facets;
  for (int i = 0; i < u; ++i)
    for (int j = 0; j < v; ++j) {
      facets.push_back({{0, 0, 0}, {at(i, j), at(i + 1, j), at(i + 1, j + 1)}});
      facets.push_back({{0, 0, 0}, {at(i, j), at(i + 1, j + 1), at(i, j + 1)}});
    }
  return facets;
}

std::string Binary(const std::vector<Facet> &facets) {
  std::string out = "guessed torus";
  out.resize(80, ' ');
  uint32_t n = static_cast<uint32_t>(facets.size());
  out.append(reinterpret_cast<const char *>(&n), 4);
  for (const Facet &f : facets) {
    out.append(reinterpret_cast<const char *>(f.normal.data()), 12);
    for (const auto &c : f.corners) out.append(reinterpret_cast<const char *>(c.data()), 12);
    out.append(2, '\0');
  }
  return out;
}

// 256 x 130 x 2 = 66560 facets: just past the size that gets a guess.
std::vector<Facet> LargeTorus() {
  return Torus(256, 130);
}

int OpenIn(const TempDir &dir, const std::string &name) {
  return open(dir.file(name).c_str(), O_RDONLY | O_CLOEXEC);
}

} // namespace

// The guess is made of every file of the right shape, and held exactly where the repair keeps the
// facets; then it is what the conversion of the repaired record gives, array for array.
TEST(StlGuess, HeldWhereTheRepairKeepsTheFacetsOnly) {
  ASSERT_GE(LargeTorus().size(), kGuessFacetsFrom);
  struct Case {
    const char *name;
    std::vector<Facet> facets;
    bool held;
  };
  std::vector<Case> cases;
  cases.push_back({"clean.stl", LargeTorus(), true});
  // Normals of any kind in the file: the value fix decides them in the guess as in the repair.
  std::vector<Facet> normals = LargeTorus();
  for (std::size_t i = 0; i < normals.size(); ++i)
    normals[i].normal = {float(i % 7) - 3, 0.5f, i % 3 ? 1e-3f : -9.0f};
  cases.push_back({"normals.stl", normals, true});
  // One facet wound against its neighbours: the repair turns it.
  std::vector<Facet> turned = LargeTorus();
  std::swap(turned[1000].corners[1], turned[1000].corners[2]);
  cases.push_back({"turned.stl", turned, false});
  // All wound inward: the repair reverses them all.
  std::vector<Facet> inward = LargeTorus();
  for (Facet &f : inward) std::swap(f.corners[1], f.corners[2]);
  cases.push_back({"inward.stl", inward, false});
  // A hole: the repair fills it, and the facets it adds are not in the file.
  std::vector<Facet> open = LargeTorus();
  open.erase(open.begin() + 500, open.begin() + 502);
  cases.push_back({"open.stl", open, false});

  TempDir dir;
  for (const Case &c : cases) {
    dir.write(c.name, Binary(c.facets));
    setenv("OBJ_PATH", dir.path().c_str(), 1);
    ResetSearchDirs();
    objName = c.name;
    std::unique_ptr<Part> guessed(new Part);
    int fd = OpenIn(dir, c.name);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(GuessSTLObject(fd, *guessed)) << c.name;
    close(fd);
    EXPECT_TRUE(guessed->facets.empty() && guessed->facet_vertex_pool.empty()) << c.name;
    STLObjPtr repaired = STLReadObj();
    EXPECT_EQ(STLMatchesGuess(*repaired, *guessed), c.held) << c.name;
    if (c.held) {
      Shape *shape = CreateShape(5);
      STLAdoptObject(std::move(repaired));
      const Part &want = *shape->part;
      CompleteSTLGuess(*guessed);
      EXPECT_EQ(guessed->facet_count, want.facet_count) << c.name;
      EXPECT_EQ(guessed->vertex_count, want.vertex_count) << c.name;
      EXPECT_EQ(guessed->facet_offset, want.facet_offset) << c.name;
      EXPECT_EQ(guessed->fronts_known, want.fronts_known) << c.name;
      ASSERT_EQ(guessed->vertices.size(), want.vertices.size()) << c.name;
      ASSERT_EQ(guessed->polygon_normals.size(), want.polygon_normals.size()) << c.name;
      ASSERT_EQ(guessed->facets.size(), want.facets.size()) << c.name;
      EXPECT_EQ(std::memcmp(guessed->vertices.data(), want.vertices.data(),
                            want.vertices.size() * sizeof(Coord)),
                0)
          << c.name;
      EXPECT_EQ(std::memcmp(guessed->polygon_normals.data(), want.polygon_normals.data(),
                            want.polygon_normals.size() * sizeof(Vector)),
                0)
          << c.name;
      EXPECT_TRUE(guessed->facet_vertex_pool == want.facet_vertex_pool) << c.name;
      EXPECT_EQ(std::memcmp(guessed->facets.data(), want.facets.data(),
                            want.facets.size() * sizeof(FacetList)),
                0)
          << c.name;
    }
    ReleaseShape();
  }
}

// Files that are no plain binary STL of a guess's size get none, and leave the Part empty.
TEST(StlGuess, NoGuessOfOtherFiles) {
  std::string good = Binary(LargeTorus());
  std::string lying = good;
  uint32_t more = static_cast<uint32_t>(LargeTorus().size() + 1);
  std::memcpy(&lying[80], &more, 4);
  std::vector<Facet> unbounded = LargeTorus();
  unbounded[77].corners[2][1] = std::numeric_limits<float>::infinity();
  std::vector<Facet> small = Torus(128, 100);
  const std::pair<const char *, std::string> files[] = {
      {"lying_count.stl", lying},
      {"trailing_byte.stl", good + "x"},
      {"cut_short.stl", good.substr(0, good.size() - 50)},
      {"infinite_corner.stl", Binary(unbounded)},
      {"small.stl", Binary(small)},
      {"empty.stl", ""},
  };
  TempDir dir;
  for (const auto &file : files) {
    dir.write(file.first, file.second);
    Part part;
    int fd = OpenIn(dir, file.first);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(GuessSTLObject(fd, part)) << file.first;
    close(fd);
    EXPECT_TRUE(part.vertices.empty() && part.polygon_normals.empty()) << file.first;
  }
  // A folder is no file.
  Part part;
  int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  EXPECT_FALSE(GuessSTLObject(fd, part));
  close(fd);
}

// Guess held or not, the first picture is the repaired mesh's: the same as that of the object
// compressed, which the repair reads from a copy and no guess is made of. In the window too.
TEST(StlGuess, FirstPictureIsTheRepairedMeshesEitherWay) {
  XServer x;
  if (!x.ok()) GTEST_SKIP() << "no Xvfb";
  std::vector<Facet> turned = LargeTorus();
  for (int i = 0; i < 4000; i += 3) std::swap(turned[i].corners[1], turned[i].corners[2]);
  std::vector<Facet> open = LargeTorus();
  open.erase(open.begin() + 20000, open.begin() + 20600);
  const std::pair<const char *, std::vector<Facet>> objects[] = {
      {"clean", LargeTorus()}, {"turned", turned}, {"open", open}};
  TempDir dir;
  for (const auto &object : objects) {
    std::string name = object.first;
    dir.write(name + ".stl", Binary(object.second));
    dir.write("copy.stl", Binary(object.second));
    ASSERT_EQ(RunProgram({"gzip", "-f", dir.file("copy.stl")}).status, 0);
    Env env{x.env(), {"OBJ_PATH", true, dir.path()}, {"ASAN_OPTIONS", true, "detect_leaks=0"}};
    RunResult r = RunMirandel({"--snapshot", dir.file(name + ".png"), "-in", name + ".stl"}, env);
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    r = RunMirandel({"--snapshot", dir.file("copy.png"), "-in", "copy.stl.gz"}, env);
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    Image guessed = ReadPng(dir.file(name + ".png")), repaired = ReadPng(dir.file("copy.png"));
    ASSERT_EQ(guessed.width, repaired.width) << name;
    EXPECT_GT(CountPixels(repaired, Pink), 1000) << name;
    EXPECT_EQ(DiffPixels(guessed, repaired), 0) << name;
    if (name != "clean") continue;
    ViewerSession s({}, dir.file("clean.stl"));
    ASSERT_TRUE(s.ok()) << "no window";
    EXPECT_EQ(DiffPixels(s.CaptureSame(repaired), repaired), 0) << "the window's first frame";
    s.Key("Escape");
    EXPECT_EQ(s.Finish().status, 0);
  }
}

#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/readSTLObj.h"
#include "viewer/shell/shell.h"
#include "support.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <gtest/gtest.h>

namespace {

using Tri = std::array<std::array<float, 3>, 3>;

std::string BinarySTL(const std::vector<Tri> &tris, const std::string &label = "binary") {
  std::string out = label;
  out.resize(80, ' ');
  uint32_t n = static_cast<uint32_t>(tris.size());
  out.append(reinterpret_cast<const char *>(&n), 4);
  for (const Tri &t : tris) {
    float normal[3] = {0, 0, 0};
    out.append(reinterpret_cast<const char *>(normal), 12);
    for (const auto &v : t) out.append(reinterpret_cast<const char *>(v.data()), 12);
    out.append(2, '\0');
  }
  return out;
}

std::string AsciiFacets(const std::vector<Tri> &tris) {
  std::string out;
  char line[128];
  for (const Tri &t : tris) {
    out += "  facet normal 0 0 0\n    outer loop\n";
    for (const auto &v : t) {
      std::snprintf(line, sizeof line, "      vertex %.9g %.9g %.9g\n", v[0], v[1], v[2]);
      out += line;
    }
    out += "    endloop\n  endfacet\n";
  }
  return out;
}

// A unit cube as 12 triangles wound outward.
std::vector<Tri> Cube(float shift = 0) {
  const float c[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                         {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  const int quads[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                           {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};
  std::vector<Tri> tris;
  auto v = [&](int i) {
    return std::array<float, 3>{c[i][0] + shift, c[i][1] + shift, c[i][2] + shift};
  };
  for (const auto &q : quads) {
    tris.push_back({v(q[0]), v(q[1]), v(q[2])});
    tris.push_back({v(q[0]), v(q[2]), v(q[3])});
  }
  return tris;
}

// Loads dir/name through the reader, as the pipeline does, into a fresh Shape.
struct Loaded {
  STLObjPtr obj;
  Shape *shape = nullptr;
  ~Loaded() { ReleaseShape(); }
};

void Load(Loaded &out, const TempDir &dir, const std::string &name) {
  setenv("OBJ_PATH", dir.path().c_str(), 1);
  ResetSearchDirs();
  objName = name;
  out.shape = CreateShape(5);
  out.obj = STLReadObj();
  STLFormatObj(*out.obj, *out.shape);
}

// Every facet normal points away from the solid's centre.
void ExpectOutward(const Part &p, const Coord &centre) {
  for (uint32_t f = 0; f < p.facet_count; ++f) {
    const uint32_t *idx = p.facetVertices(f);
    float mid[3] = {0, 0, 0};
    for (int j = 0; j < 3; ++j) {
      mid[0] += p.vertices[idx[j]].x / 3, mid[1] += p.vertices[idx[j]].y / 3;
      mid[2] += p.vertices[idx[j]].z / 3;
    }
    const Vector &n = p.polygon_normals[f];
    float dot = n.x * (mid[0] - centre.x) + n.y * (mid[1] - centre.y) + n.z * (mid[2] - centre.z);
    EXPECT_GT(dot, 0.0f) << "facet " << f;
  }
}

// Some facet holds exactly the triangle's three corners, in any order (the repair may turn it).
bool HasTriangle(const Part &p, const Tri &tri) {
  auto key = [](const Coord &c) { return std::array<float, 3>{c.x, c.y, c.z}; };
  std::array<std::array<float, 3>, 3> want = tri;
  std::sort(want.begin(), want.end());
  for (uint32_t f = 0; f < p.facet_count; ++f) {
    const uint32_t *idx = p.facetVertices(f);
    std::array<std::array<float, 3>, 3> got = {key(p.vertices[idx[0]]), key(p.vertices[idx[1]]),
                                               key(p.vertices[idx[2]])};
    std::sort(got.begin(), got.end());
    if (std::memcmp(got.data(), want.data(), sizeof got) == 0) return true;
  }
  return false;
}

} // namespace

TEST(StlCheck, TellsTextFromBinaryAsTheLibraryDoes) {
  std::string bin = BinarySTL(Cube(), "solid but binary");
  STLFileCheck check = STLCheckFile(std::vector<char>(bin.begin(), bin.end()));
  EXPECT_FALSE(check.ascii); // the facet data has bytes with their top bit set
  EXPECT_FALSE(check.markBinary);

  // Small positive coordinates and zero normals leave every top bit clear: the library would
  // take the file for text, so it is marked binary by its exact layout.
  std::string plain = BinarySTL(Cube(10));
  check = STLCheckFile(std::vector<char>(plain.begin(), plain.end()));
  EXPECT_FALSE(check.ascii);
  EXPECT_TRUE(check.markBinary);
  EXPECT_TRUE(check.error.empty());

  std::string text = "solid cube\n" + AsciiFacets(Cube()) + "endsolid cube\n";
  check = STLCheckFile(std::vector<char>(text.begin(), text.end()));
  EXPECT_TRUE(check.ascii);
  EXPECT_EQ(check.solids, 1);
  EXPECT_EQ(check.facets, 12);
  EXPECT_TRUE(check.error.empty());
  EXPECT_TRUE(check.textCopy.empty());
}

TEST(StlCheck, SeveralSolidsBecomeOneAndBrokenTextIsRefused) {
  std::vector<Tri> cube = Cube();
  std::vector<Tri> a(cube.begin(), cube.begin() + 5), b(cube.begin() + 5, cube.end());
  std::string text = "solid a\r\n" + AsciiFacets(a) + "endsolid a\r\nsolid b\r\n" + AsciiFacets(b) +
                     "endsolid b\r\n";
  STLFileCheck check = STLCheckFile(std::vector<char>(text.begin(), text.end()));
  EXPECT_EQ(check.solids, 2);
  EXPECT_EQ(check.facets, 12);
  ASSERT_FALSE(check.textCopy.empty());
  EXPECT_EQ(check.textCopy.rfind("solid", 0), 0u);
  EXPECT_EQ(check.textCopy.find("endsolid"), check.textCopy.size() - 9);
  std::string joined = check.textCopy;
  check = STLCheckFile(std::vector<char>(joined.begin(), joined.end()));
  EXPECT_EQ(check.solids, 1);
  EXPECT_EQ(check.facets, 12);

  // Facets written one per line make the library miscount them: they get the seven-line layout.
  std::string oneLine = "solid flat\n";
  for (const Tri &tri : cube) {
    oneLine += "facet normal 0 0 0 outer loop";
    for (const auto &v : tri)
      oneLine += " vertex " + std::to_string(v[0]) + " " + std::to_string(v[1]) + " " +
                 std::to_string(v[2]);
    oneLine += " endloop endfacet\n";
  }
  check = STLCheckFile(std::vector<char>(oneLine.begin(), oneLine.end()));
  EXPECT_TRUE(check.needsCopy);
  EXPECT_EQ(check.facets, 12);
  std::string laidOut = check.textCopy;
  check = STLCheckFile(std::vector<char>(laidOut.begin(), laidOut.end()));
  EXPECT_FALSE(check.needsCopy);
  EXPECT_EQ(check.facets, 12);
  EXPECT_EQ(std::count(laidOut.begin(), laidOut.end(), '\n'), 2 + 7 * 12);
  TempDir dir;
  dir.write("one_line.stl", oneLine);
  {
    Loaded l;
    Load(l, dir, "one_line.stl");
    EXPECT_EQ(l.shape->part->facet_count, 12u);
  }

  std::string body = AsciiFacets(cube);
  for (std::string broken :
       {"solid x\n" + body.substr(0, body.size() / 2 + 20), "hello x\n" + body,
        "solid x\n" + body + "facet normal 1 2 three\n",
        "solid x\n" + body.substr(0, 100) + std::string(1, '\0') + body.substr(100)}) {
    check = STLCheckFile(std::vector<char>(broken.begin(), broken.end()));
    EXPECT_TRUE(check.ascii);
    EXPECT_FALSE(check.error.empty()) << broken.substr(broken.size() - 40);
  }
}

TEST(StlRepair, ClosedMeshIsLeftAsItIs) {
  TempDir dir;
  dir.write("cube.stl", BinarySTL(Cube()));
  Loaded l;
  Load(l, dir, "cube.stl");
  const Part &p = *l.shape->part;
  EXPECT_EQ(p.facet_count, 12u);
  EXPECT_EQ(p.vertex_count, 36u);
  EXPECT_EQ(l.obj->stats.facets_added, 0);
  EXPECT_EQ(l.obj->stats.facets_removed, 0);
  // Unshared vertices in facet order, copied unchanged.
  EXPECT_EQ(p.facetVertices(11)[2], 35u);
  EXPECT_EQ(p.vertices[3].x, Cube()[1][0][0]);
  EXPECT_TRUE(p.vertex_normals.empty());
  ExpectOutward(p, Coord{0.5f, 0.5f, 0.5f});
}

TEST(StlRepair, InwardWindingIsTurnedOutward) {
  std::vector<Tri> cube = Cube();
  for (Tri &t : cube) std::swap(t[1], t[2]);
  TempDir dir;
  dir.write("inverted.stl", BinarySTL(cube));
  Loaded l;
  Load(l, dir, "inverted.stl");
  EXPECT_EQ(l.shape->part->facet_count, 12u);
  EXPECT_GT(l.obj->stats.volume, 0.0f);
  ExpectOutward(*l.shape->part, Coord{0.5f, 0.5f, 0.5f});
}

TEST(StlRepair, OpenAndGappedMeshes) {
  TempDir dir;
  // A box without its top: the hole is filled, the new facets come last.
  std::vector<Tri> open = Cube();
  open.erase(open.begin() + 2, open.begin() + 4);
  dir.write("open_box.stl", BinarySTL(open));
  {
    Loaded l;
    Load(l, dir, "open_box.stl");
    EXPECT_EQ(l.shape->part->facet_count, 12u);
    EXPECT_EQ(l.obj->stats.facets_added, 2);
    const Part &p = *l.shape->part;
    for (uint32_t v = 30; v < 36; ++v) EXPECT_EQ(p.vertices[v].z, 1.0f);
  }
  // One corner of one facet a hair off: the nearby pass joins it, nothing is added or removed.
  std::vector<Tri> gap = Cube(10);
  gap[0][1][0] += 1e-5f;
  dir.write("gap.stl", BinarySTL(gap));
  {
    Loaded l;
    Load(l, dir, "gap.stl");
    EXPECT_EQ(l.shape->part->facet_count, 12u);
    EXPECT_EQ(l.obj->stats.facets_added, 0);
    EXPECT_EQ(l.obj->stats.facets_removed, 0);
    EXPECT_GE(l.obj->stats.connected_facets_3_edge, 12);
  }
  // A facet far from the cube and touching nothing is removed.
  std::vector<Tri> stray = Cube();
  stray.push_back({{{5, 5, 5}, {6, 5, 5}, {5, 6, 5}}});
  dir.write("stray.stl", BinarySTL(stray));
  {
    Loaded l;
    Load(l, dir, "stray.stl");
    EXPECT_EQ(l.shape->part->facet_count, 12u);
    EXPECT_EQ(l.obj->stats.facets_removed, 1);
  }
}

// A read the library gives up on leaves no open file behind: a fuzz run of many such files in one
// process ran out of descriptors.
TEST(StlRepair, FailedReadsCloseTheirFile) {
  auto openDescriptors = [] {
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
      while (readdir(d)) ++n;
      closedir(d);
    }
    return n;
  };
  TempDir dir;
  std::string bin = BinarySTL(Cube());
  dir.write("truncated.stl", bin.substr(0, bin.size() - 7));
  int before = openDescriptors();
  for (int i = 0; i < 3; ++i) {
    Loaded l;
    EXPECT_THROW(Load(l, dir, "truncated.stl"), FatalError);
  }
  EXPECT_EQ(openDescriptors(), before);
}

TEST(StlCommandLine, RealFilesLoadWithTheirCounts) {
  REQUIRE_REALWORLD();
  struct Case {
    const char *file;
    int facets;
  } cases[] = {
      {"numpystl-Cube-crlf.stl", 12},    {"openscad-import_bin_solid.stl", 46},
      {"trimesh-multibody.stl", 32},     {"assimp-sphereWithHole.stl", 290},
      {"assimp-Spider_ascii.stl", 1354}, {"assimp-Spider_binary.stl", 1354},
  };
  for (const Case &c : cases) {
    RunResult r = RunMirandel({"--info", "-in", c.file}, {{"OBJ_PATH", true, RealWorld("stl")}});
    EXPECT_EQ(r.status, 0) << c.file << ": " << r.err;
    EXPECT_NE(r.out.find(std::to_string(3 * c.facets) + " vertices\n"), std::string::npos)
        << c.file;
    EXPECT_NE(r.out.find(std::to_string(c.facets) + " polygons\n"), std::string::npos) << c.file;
  }
  RunResult lying = RunMirandel({"--info", "-in", "stlmodels-incorrectFaceCounter.bin.stl"},
                                {{"OBJ_PATH", true, RealWorld("invalid")}});
  EXPECT_EQ(lying.status, 0);
  EXPECT_EQ(lying.err, "Warning: File size doesn't match number of facets in the header\n");
  EXPECT_NE(lying.out.find("4 polygons\n"), std::string::npos);

  RunResult empty =
      RunMirandel({"--info", "-in", "openscad-empty2.stl"}, {{"OBJ_PATH", true, RealWorld("stl")}});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.err, "STLReadObj: openscad-empty2.stl holds no facets\n");
}

TEST(StlCommandLine, FilesWithoutFacetsOrWithBrokenTextStop) {
  TempDir dir;
  // Text the library would loop on for ever.
  dir.write("garbage.stl", "solid x\n" + std::string(400, 'z') + "\n");
  RunResult garbage =
      RunMirandel({"--info", "-in", "garbage.stl"}, {{"OBJ_PATH", true, dir.path()}}, "", 30);
  EXPECT_FALSE(garbage.timedOut);
  EXPECT_EQ(garbage.status, 1);
  EXPECT_EQ(garbage.err, "STLReadObj: garbage.stl is not a readable ASCII STL file: unexpected "
                         "word on line 2\n");

  // A short file that is neither text the library reads nor binary: found looping by the fuzzer.
  std::string shortFile = "binary   z" + std::string(8, ' ') + std::string(176, '\0') +
                          std::string(29, ' ') + std::string(30, '\0') + "so";
  dir.write("short_neither.stl", shortFile);
  RunResult neither =
      RunMirandel({"--info", "-in", "short_neither.stl"}, {{"OBJ_PATH", true, dir.path()}}, "", 30);
  EXPECT_FALSE(neither.timedOut);
  EXPECT_EQ(neither.status, 1);
  EXPECT_EQ(neither.err, "STLReadObj: short_neither.stl is not a readable ASCII STL file: no "
                         "\"solid\" at the start on line 1\n");

  dir.write("no_facets.stl", "solid x\n" + std::string(300, '\n') + "endsolid x\n");
  RunResult none =
      RunMirandel({"--info", "-in", "no_facets.stl"}, {{"OBJ_PATH", true, dir.path()}});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, "STLReadObj: no_facets.stl holds no facets\n");

  std::string bin = BinarySTL(Cube());
  dir.write("truncated.stl", bin.substr(0, bin.size() - 7));
  RunResult cut = RunMirandel({"--info", "-in", "truncated.stl"}, {{"OBJ_PATH", true, dir.path()}});
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("has the wrong size"), std::string::npos) << cut.err;
}

// Text the library reads as it stands, or would with another layout, loads the same object as the
// plain lower-case file: keywords in any case, padding or notes after the last solid.
TEST(StlCheck, KeywordCaseAndWhatFollowsTheSolidDoNotMatter) {
  const std::string body = AsciiFacets(Cube());
  const std::string plain = "solid cube\n" + body + "endsolid cube\n";
  auto upper = [](std::string s) {
    for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  };
  auto mixed = [](std::string s) {
    for (auto [from, to] : {std::pair<const char *, const char *>{"endsolid", "EndSolid"},
                            {"solid", "Solid"},
                            {"facet normal", "Facet Normal"},
                            {"outer loop", "Outer Loop"},
                            {"vertex", "Vertex"},
                            {"endloop", "EndLoop"},
                            {"endfacet", "EndFacet"}})
      for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + 1))
        s.replace(at, std::strlen(from), to);
    return s;
  };
  struct Case {
    const char *name;
    std::string text;
  } cases[] = {
      {"upper_case.stl", upper(plain)},
      {"mixed_case.stl", mixed(plain)},
      {"dos_eof.stl", plain + "\x1a"},
      {"dos_eof_no_endsolid.stl", "solid cube\r\n" + body + "\x1a"},
      {"nul_padding.stl", plain + "\n\n" + std::string(40, '\0') + "\n\n\n"},
      {"trailer_words.stl", plain + "exported by a CAD program\nunits: mm\n"},
  };
  TempDir dir;
  dir.write("plain.stl", plain);
  Part want;
  {
    Loaded ref;
    Load(ref, dir, "plain.stl");
    want = *ref.shape->part; // the next load replaces the Shape
  }
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    STLFileCheck check = STLCheckFile(std::vector<char>(c.text.begin(), c.text.end()));
    EXPECT_EQ(check.error, "");
    EXPECT_EQ(check.facets, 12);
    dir.write(c.name, c.text);
    Loaded l;
    Load(l, dir, c.name);
    const Part &got = *l.shape->part;
    ASSERT_EQ(got.facet_count, want.facet_count);
    EXPECT_EQ(std::memcmp(got.vertices.data(), want.vertices.data(),
                          want.vertices.size() * sizeof(Coord)),
              0);
    EXPECT_EQ(std::memcmp(got.polygon_normals.data(), want.polygon_normals.data(),
                          want.polygon_normals.size() * sizeof(Vector)),
              0);
  }
}

// Triangles that share no edge at all lose nothing to the removal of unconnected facets.
TEST(StlRepair, LooseTrianglesAreKept) {
  const Tri a = {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}}, b = {{{5, 5, 5}, {6, 5, 5}, {5, 6, 5}}};
  TempDir dir;
  dir.write("two_solids_loose.stl", "solid a\n" + AsciiFacets({a}) + "endsolid a\nsolid b\n" +
                                        AsciiFacets({b}) + "endsolid b\n");
  dir.write("loose_binary.stl", BinarySTL({a, b, Cube(20)[0], Cube(30)[5]}));
  for (const char *name : {"two_solids_loose.stl", "loose_binary.stl"}) {
    SCOPED_TRACE(name);
    Loaded l;
    Load(l, dir, name);
    EXPECT_EQ(l.obj->stats.facets_removed, 0);
    EXPECT_GE(l.shape->part->facet_count, 2u);
    EXPECT_TRUE(HasTriangle(*l.shape->part, a));
    EXPECT_TRUE(HasTriangle(*l.shape->part, b));
  }
}

// Files shorter than the library's own size probes: a short text, and binary files of fewer than
// four facets, whose values must arrive bit for bit.
TEST(StlRead, ShortFilesAreRead) {
  const Tri one = {{{0.1f, 1e-7f, -0.0f}, {123456.789f, 0.3f, 2.5f}, {0.7f, 3.4e-38f, 1.0f}}};
  const Tri two = {{{-1.5f, -2.25f, -3.125f}, {-1, -2, -4}, {-2, -2, -3}}};
  const Tri three = {{{7, 7, 7}, {8, 7, 7}, {7, 8, 7.000001f}}};
  const std::string oneText = "solid t\n" + AsciiFacets({one}) + "endsolid t\n";
  ASSERT_LT(oneText.size(), 212u);
  std::string lying = BinarySTL({one, two, three});
  lying[80] = 9; // the header claims nine facets
  struct Case {
    const char *name;
    std::string data;
    std::vector<Tri> tris;
    std::string warning;
  } cases[] = {
      {"one_triangle.stl", oneText, {one}, ""},
      {"one_triangle_bin.stl", BinarySTL({one}), {one}, ""},
      {"two_triangles_bin.stl", BinarySTL({one, two}), {one, two}, ""},
      // Negative values set top bits in the library's type probe.
      {"three_triangles_bin.stl", BinarySTL({two, one, three}), {two, one, three}, ""},
      {"three_lying_bin.stl",
       lying,
       {one, two, three},
       "Warning: File size doesn't match number of facets in the header\n"},
  };
  TempDir dir;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    dir.write(c.name, c.data);
    Loaded l;
    Load(l, dir, c.name);
    EXPECT_EQ(l.obj->stats.facets_removed, 0);
    for (const Tri &t : c.tris) EXPECT_TRUE(HasTriangle(*l.shape->part, t));
    RunResult r = RunMirandel({"--info", "-in", c.name}, {{"OBJ_PATH", true, dir.path()}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind(c.warning, 0), 0u) << r.err; // a leak checker's summary may follow
    EXPECT_EQ(r.err.find("Warning") != std::string::npos, !c.warning.empty()) << r.err;
  }
}

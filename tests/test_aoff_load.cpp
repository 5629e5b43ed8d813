// Loading native objects through the real program: the side files it writes and its refusals.
#include "viewer/readers/findObj.h"
#include "viewer/shell/loadObj.h"
#include "viewer/model/normalsObj.h"
#include "viewer/model/shape.h"
#include "viewer/shell/shell.h"
#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A cube of side `side` with its minimum corner at (x0, x0, x0); indices from `base`.
std::string CubeGeom(double side, double x0, int base, const std::string &lead = "",
                     int third = 24) {
  std::ostringstream s;
  s << lead << "8 6 " << third << "\n";
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x)
        s << x0 + x * side << " " << x0 + y * side << " " << x0 + z * side << "\n";
  int q[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                 {1, 3, 7, 5}, {3, 2, 6, 7}, {2, 0, 4, 6}};
  for (auto &f : q)
    s << "4 " << f[0] + base << " " << f[1] + base << " " << f[2] + base << " " << f[3] + base
      << "\n";
  return s.str();
}

RunResult Info(const TempDir &dir, const std::string &name) {
  return RunMirandel({"--info", "-in", name}, {{"OBJ_PATH", true, dir.path()}});
}

std::string Snapshot(const TempDir &dir) {
  std::string all;
  for (const std::string &name : ListDir(dir.path()))
    all += name + "\n" + ReadFile(dir.file(name)) + "\n--\n";
  return all;
}

// Loads dir/name in this process as the program does, without a window; the loaded Part.
const Part &LoadHere(const TempDir &dir, const std::string &name) {
  std::string saved = std::getenv("OBJ_PATH") ? std::getenv("OBJ_PATH") : "";
  setenv("OBJ_PATH", dir.path().c_str(), 1);
  ResetSearchDirs();
  objFolder = ObjectFolder();
  runOptions = RunOptions();
  runOptions.info = true;
  objName = name;
  LoadObject(kTypeAOFF);
  runOptions = RunOptions();
  setenv("OBJ_PATH", saved.c_str(), 1);
  return *currentShape->part;
}

// The command that runs the viewer as a user whom permission bits bind (nobody, when the tests
// run as the superuser); empty when that user cannot run it.
std::vector<std::string> Unprivileged() {
  if (geteuid() != 0) return {MirandelBin()};
  std::vector<std::string> asNobody{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  std::vector<std::string> probe = asNobody;
  probe.insert(probe.end(), {"test", "-x", MirandelBin()});
  if (RunProgram(probe).status != 0) return {};
  asNobody.push_back(MirandelBin());
  return asNobody;
}

const char *kMiscounted = "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 1 2 3\n";
const char *kCanonical = "3\t1\t3\n"
                         "0.000000\t0.000000\t0.000000\n"
                         "1.000000\t0.000000\t0.000000\n"
                         "0.000000\t1.000000\t0.000000\n"
                         "3\t1 2 3 \n";

const char *kGeometryLine = "\ngeometry\t\tindexed_poly\tfff\t\tcube.geom\n";
const char *kNormalLines = "polygon_normals\t\tgeneric\t\tfff\t\tcube.pnorm\n"
                           "vertex_normals\t\tgeneric\t\tfff\t\tcube.vnorm\n";

} // namespace

TEST(AOFFLoad, PlainCubeGetsHeaderAndNormalFilesAndASecondLoadChangesNothing) {
  TempDir dir;
  std::string geom = CubeGeom(1, 0, 1);
  dir.write("cube.geom", geom);
  RunResult r = Info(dir, "cube.geom");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "Object: cube.geom\n8 vertices\n6 polygons\nbbox: 0 0 0 1 1 1\n");
  EXPECT_EQ(ReadFile(dir.file("cube.aoff")), std::string(kGeometryLine) + kNormalLines + "\n");
  EXPECT_EQ(ReadFile(dir.file("cube.geom")), geom);
  EXPECT_EQ(ListDir(dir.path()),
            (std::vector<std::string>{"cube.aoff", "cube.geom", "cube.pnorm", "cube.vnorm"}));
  // Facet 0 runs 1 3 4 2 on the bottom: its normal points down, and every corner is a diagonal.
  std::string pnorm = ReadFile(dir.file("cube.pnorm"));
  EXPECT_EQ(pnorm.substr(0, pnorm.find('\n', 2) + 1), "6\n0.000000\t0.000000\t-1.000000\n");
  std::string vnorm = ReadFile(dir.file("cube.vnorm"));
  EXPECT_EQ(vnorm.substr(0, vnorm.find('\n', 2) + 1), "8\n-0.577350\t-0.577350\t-0.577350\n");

  std::string before = Snapshot(dir);
  r = Info(dir, "cube.geom");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Snapshot(dir), before);
}

// Once the header holds the object's scale and translate, later loads still give its real box.
TEST(AOFFLoad, EveryLoadPrintsTheObjectsOwnBox) {
  TempDir dir;
  dir.write("cube.geom", CubeGeom(10, 5, 1));
  for (int load = 0; load < 2; ++load) {
    RunResult r = Info(dir, "cube.geom");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Object: cube.geom\n8 vertices\n6 polygons\nbbox: 5 5 5 15 15 15\n") << load;
  }
  std::string header = ReadFile(dir.file("cube.aoff"));
  EXPECT_NE(header.find("scale"), std::string::npos) << header;
  EXPECT_NE(header.find("translate"), std::string::npos) << header;
}

TEST(AOFFLoad, AppendedLinesFollowTheData) {
  struct Case {
    std::string geom;
    std::string appended;
    std::string bbox;
  } cases[] = {
      {CubeGeom(1, 0, 0), "facet_offset\t\tdefault\t\tf\t\t0\n", "bbox: 0 0 0 1 1 1\n"},
      {CubeGeom(10, -5, 1), "scale\t\t\t\tdefault\t\tfff\t\t0.400000 0.400000 0.400000\n",
       "bbox: -5 -5 -5 5 5 5\n"},
      {CubeGeom(0.5, -0.25, 1), "scale\t\t\t\tdefault\t\tfff\t\t8.000000 8.000000 8.000000\n",
       "bbox: -0.25 -0.25 -0.25 0.25 0.25 0.25\n"},
      {CubeGeom(0.02, 0, 1), "scale\t\t\t\tdefault\t\tfff\t\t200.000000 200.000000 200.000000\n",
       "bbox: 0 0 0 0.02 0.02 0.02\n"},
      {CubeGeom(2, 5, 1), "translate\t\t\tdefault\t\tfff\t\t-6.000000 -6.000000 -6.000000\n",
       "bbox: 5 5 5 7 7 7\n"},
  };
  for (const Case &c : cases) {
    TempDir dir;
    dir.write("cube.geom", c.geom);
    RunResult r = Info(dir, "cube.geom");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.find("bbox")), c.bbox);
    EXPECT_EQ(ReadFile(dir.file("cube.aoff")),
              std::string(kGeometryLine) + c.appended + kNormalLines + "\n");
    std::string before = Snapshot(dir);
    ASSERT_EQ(Info(dir, "cube.geom").status, 0);
    EXPECT_EQ(Snapshot(dir), before);
  }
}

TEST(AOFFLoad, WordInHeaderCommentCountsAndHeaderWithoutFinalNewlineStaysApart) {
  TempDir dir;
  dir.write("cube.geom", CubeGeom(10, -5, 1));
  // CR LF line ends and no newline after the last line.
  dir.write("cube.aoff", "# keep the scale as it is\r\ngeometry indexed_poly fff cube.geom");
  RunResult r = Info(dir, "cube.geom");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir.file("cube.aoff")),
            std::string("# keep the scale as it is\r\ngeometry indexed_poly fff cube.geom\n") +
                kNormalLines + "\n");
}

TEST(AOFFLoad, MiscountedGeomIsRewrittenCanonicallyInPlace) {
  TempDir dir;
  dir.write("tri.geom", kMiscounted);
  RunResult r = Info(dir, "tri.geom");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir.file("tri.geom")), kCanonical);
  // No temporary file is left behind.
  EXPECT_EQ(ListDir(dir.path()),
            (std::vector<std::string>{"tri.aoff", "tri.geom", "tri.pnorm", "tri.vnorm"}));
  EXPECT_EQ(ReadFile(dir.file("tri.pnorm")), "1\n0.000000\t0.000000\t1.000000\n");
}

// The rewrite changes the file's contents and nothing else about it: a link stays a link to the
// rewritten file, other names of the file see the new contents, and a write-protected file is
// refused, even to the superuser.
TEST(AOFFLoad, GeomRewriteKeepsLinksAndProtection) {
  TempDir dir;
  std::string obj = dir.file("obj"), real = dir.file("real");
  mkdir(obj.c_str(), 0755);
  mkdir(real.c_str(), 0755);

  dir.write("real/tri.geom", kMiscounted);
  ASSERT_EQ(symlink("../real/tri.geom", dir.file("obj/tri.geom").c_str()), 0);
  RunResult r = RunMirandel({"--info", "-in", "tri.geom"}, {{"OBJ_PATH", true, obj}});
  EXPECT_EQ(r.status, 0) << r.err;
  struct stat st;
  ASSERT_EQ(lstat(dir.file("obj/tri.geom").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(dir.file("real/tri.geom")), kCanonical);
  EXPECT_EQ(ListDir(real), std::vector<std::string>{"tri.geom"});

  TempDir dir2;
  dir2.write("tri.geom", kMiscounted);
  ASSERT_EQ(link(dir2.file("tri.geom").c_str(), dir2.file("kept.geom").c_str()), 0);
  r = Info(dir2, "tri.geom");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir2.file("kept.geom")), kCanonical);

  TempDir dir3;
  dir3.write("tri.geom", kMiscounted);
  chmod(dir3.file("tri.geom").c_str(), 0444);
  r = Info(dir3, "tri.geom");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Cannot open file " + dir3.file("tri.geom") + " for writting\n");
  EXPECT_EQ(ReadFile(dir3.file("tri.geom")), kMiscounted);
}

// Whether the file may be written decides, not the folder: a file the user may not write is
// refused although the folder is writable, and a writable file in a folder the user may not
// write is rewritten where it is.
TEST(AOFFLoad, GeomRewriteFollowsTheFilesOwnPermission) {
  std::vector<std::string> viewer = Unprivileged();
  if (viewer.empty()) GTEST_SKIP() << "nobody cannot run " << MirandelBin();
  bool root = geteuid() == 0;
  TempDir top;
  chmod(top.path().c_str(), 0755);
  std::string sideLines = "geometry indexed_poly fff tri.geom\n"
                          "polygon_normals generic fff tri.pnorm\n"
                          "vertex_normals generic fff tri.vnorm\n";
  auto run = [&](const std::string &dir) {
    std::vector<std::string> argv = viewer;
    argv.insert(argv.end(), {"--info", "-in", "tri.geom"});
    return RunProgram(argv, {{"OBJ_PATH", true, dir}});
  };

  // A read-only folder holding every side file, and the geometry file the user's own.
  std::string ro = top.file("ro");
  mkdir(ro.c_str(), 0755);
  top.write("ro/tri.geom", kMiscounted);
  top.write("ro/tri.aoff", sideLines);
  top.write("ro/tri.pnorm", "1\n0 0 1\n");
  top.write("ro/tri.vnorm", "3\n0 0 1\n0 0 1\n0 0 1\n");
  if (root)
    ASSERT_EQ(chown(top.file("ro/tri.geom").c_str(), 65534, 65534), 0);
  else
    chmod(ro.c_str(), 0555);
  RunResult r = run(ro);
  chmod(ro.c_str(), 0755);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(top.file("ro/tri.geom")), kCanonical);
  EXPECT_EQ(ListDir(ro),
            (std::vector<std::string>{"tri.aoff", "tri.geom", "tri.pnorm", "tri.vnorm"}));

  // Someone else's file in a folder everyone may write.
  if (!root) return;
  std::string shared = top.file("shared");
  mkdir(shared.c_str(), 0777);
  chmod(shared.c_str(), 0777);
  top.write("shared/tri.geom", kMiscounted);
  chmod(top.file("shared/tri.geom").c_str(), 0644);
  r = run(shared);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Cannot open file " + shared + "/tri.geom for writting\n");
  EXPECT_EQ(ReadFile(top.file("shared/tri.geom")), kMiscounted);
  struct stat st;
  ASSERT_EQ(stat(top.file("shared/tri.geom").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
}

TEST(AOFFLoad, DeletingOnlyTheVertexNormalsRewritesBoth) {
  TempDir dir;
  dir.write("cube.geom", CubeGeom(1, 0, 1));
  ASSERT_EQ(Info(dir, "cube.geom").status, 0);
  dir.write("cube.pnorm", "6\n1 0 0\n1 0 0\n1 0 0\n1 0 0\n1 0 0\n1 0 0\n");
  std::remove(dir.file("cube.vnorm").c_str());
  ASSERT_EQ(Info(dir, "cube.geom").status, 0);
  EXPECT_EQ(ReadFile(dir.file("cube.aoff")),
            std::string(kGeometryLine) + kNormalLines + "\n" + "\n");
  EXPECT_EQ(ReadFile(dir.file("cube.pnorm")).substr(0, 11), "6\n0.000000\t");
  EXPECT_TRUE(FileExists(dir.file("cube.vnorm")));
}

TEST(AOFFLoad, IndicesBeyondSixteenBitsLoad) {
  // A strip of 40000 triangles: indices far above 32767 must reach the right vertices.
  TempDir dir;
  const int n = 40002;
  std::string s =
      std::to_string(n) + " " + std::to_string(n - 2) + " " + std::to_string(3 * (n - 2)) + "\n";
  for (int i = 0; i < n; ++i)
    s += std::to_string(i * 0.0001) + " " + std::to_string(i % 2) + " 0\n";
  for (int i = 1; i + 2 <= n; ++i)
    s +=
        "3 " + std::to_string(i) + " " + std::to_string(i + 1) + " " + std::to_string(i + 2) + "\n";
  dir.write("strip.geom", s);
  RunResult r = Info(dir, "strip.geom");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("40002 vertices\n40000 polygons\n"), std::string::npos) << r.out;
  // Alternate windings give alternating normals; a wrapped index would break the pattern.
  std::string pnorm = ReadFile(dir.file("strip.pnorm"));
  std::istringstream in(pnorm);
  int count;
  in >> count;
  ASSERT_EQ(count, n - 2);
  for (int f = 0; f < count; ++f) {
    float x, y, z;
    in >> x >> y >> z;
    ASSERT_FLOAT_EQ(z, f % 2 ? 1.0f : -1.0f) << "facet " << f;
  }
}

TEST(AOFFLoad, BinaryGeomIsReadAsBinary) {
  TempDir dir;
  std::string b;
  auto u32 = [&](uint32_t v) { b.append(reinterpret_cast<const char *>(&v), 4); };
  auto f32 = [&](float v) { b.append(reinterpret_cast<const char *>(&v), 4); };
  auto i16 = [&](int16_t v) { b.append(reinterpret_cast<const char *>(&v), 2); };
  u32(0xFEEDFEED), u32(3), u32(1), u32(3);
  for (float v : {0.f, 0.f, 0.f, 2.f, 0.f, 0.f, 0.f, 2.f, 0.f}) f32(v);
  i16(3), i16(1), i16(2), i16(3);
  dir.write("tri.geom", b);
  RunResult r = Info(dir, "tri.geom");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Object: tri.geom\n3 vertices\n1 polygons\nbbox: 0 0 0 2 2 0\n");
  EXPECT_EQ(ReadFile(dir.file("tri.geom")), b);
  EXPECT_EQ(ReadFile(dir.file("tri.pnorm")), "1\n0.000000\t0.000000\t1.000000\n");
}

TEST(AOFFLoad, LyingGeometryIsRefusedWithAMessage) {
  struct Case {
    const char *what;
    std::string geom;
    std::string err;
  } cases[] = {
      {"index past the vertices", "3 1 3\n0 0 0\n1 0 0\n0 1 0\n3 1 2 4\n",
       "AOFFFormatObj: bad.geom: polygon 0 uses vertex 4, outside the object's 3 vertices "
       "(index base 1)\n"},
      {"negative index", "3 1 3\n0 0 0\n1 0 0\n0 1 0\n3 1 -2 3\n",
       "AOFFFormatObj: bad.geom: polygon 0 uses vertex -2, outside the object's 3 vertices "
       "(index base 1)\n"},
      {"truncated", "3 1 3\n0 0 0\n1 0 0\n0 1 0\n3 1 2\n",
       "AOFFReadIndexedPoly: data file DIR/bad.geom ends early or holds a value that cannot be "
       "read\nCannot read geometry file DIR/bad.geom\n"},
      {"huge counts", "2000000000 2000000000 2000000000\n0 0 0\n",
       "AOFFReadIndexedPoly: data file DIR/bad.geom declares more data than it holds\n"
       "Cannot read geometry file DIR/bad.geom\n"},
      {"bad number", "3 1 3\n0 0 0\n1 x 0\n0 1 0\n3 1 2 3\n",
       "AOFFReadIndexedPoly: data file DIR/bad.geom ends early or holds a value that cannot be "
       "read\nCannot read geometry file DIR/bad.geom\n"},
  };
  for (const Case &c : cases) {
    TempDir dir;
    dir.write("bad.geom", c.geom);
    RunResult r = Info(dir, "bad.geom");
    std::string err = c.err;
    for (std::size_t at; (at = err.find("DIR")) != std::string::npos;)
      err.replace(at, 3, dir.path());
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.err, err) << c.what;
  }
}

TEST(AOFFLoad, SuppliedArraysMustMatchTheirCounts) {
  TempDir dir;
  dir.write("cube.geom", CubeGeom(1, 0, 1));
  dir.write("cube.vnorm", "2\n0 0 1\n0 0 1\n");
  dir.write("cube.pnorm", "6\n0 0 1\n0 0 1\n0 0 1\n0 0 1\n0 0 1\n0 0 1\n");
  RunResult r = Info(dir, "cube.geom");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "AOFFFormatObj: cube.vnorm holds 2 vertex normals for an object of 8 "
                   "vertices\n");
  TempDir dir2;
  dir2.write("cube.geom", CubeGeom(1, 0, 1));
  dir2.write("cube.pal", "2 3\n1 0 0\n0 1 0\n1 2 3\n");
  dir2.write("cube.aoff", "geometry indexed_poly fff cube.geom\n"
                          "polygon_colors indexed fff cube.pal\n");
  r = Info(dir2, "cube.geom");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "AOFFFormatObj: cube.pal: colour 2 names record 3 of a palette of 2\n");
}

// A clockwise object is stored with "back_faces reverse": normal files follow the file's own
// vertex order, as other programs write them, and either way the object is lit from outside.
TEST(AOFFLoad, ClockwiseObjectWithReversedBackFacesIsLitFromOutside) {
  for (bool supplied : {false, true}) {
    TempDir dir;
    // Seen from +z this triangle runs clockwise.
    dir.write("tri.geom", "3 1 3\n0 0 0\n0 1 0\n1 0 0\n3 1 2 3\n");
    std::string header = "geometry indexed_poly fff tri.geom\n"
                         "vertex_order default s clockwise\n"
                         "back_faces default s reverse\n";
    if (supplied) {
      header += "polygon_normals generic fff tri.pnorm\nvertex_normals generic fff tri.vnorm\n";
      dir.write("tri.pnorm", "1\n0 0 -1\n");
      dir.write("tri.vnorm", "3\n0 0 -1\n0 0 -1\n0 0 -1\n");
    }
    dir.write("tri.aoff", header);
    const Part &p = LoadHere(dir, "tri.geom");
    EXPECT_EQ(ReadFile(dir.file("tri.pnorm")),
              supplied ? "1\n0 0 -1\n" : "1\n0.000000\t0.000000\t-1.000000\n");
    // Stored counter-clockwise seen from +z: its front, and every normal, face +z.
    Vector front;
    ASSERT_EQ(p.facet_count, 1u);
    ASSERT_TRUE(FacetNormal(p.vertices.data(), p.facetVertices(0), 3, front));
    EXPECT_FLOAT_EQ(front.z, 1.0f) << supplied;
    ASSERT_EQ(p.polygon_normals.size(), 1u);
    EXPECT_FLOAT_EQ(p.polygon_normals[0].z, 1.0f) << supplied;
    ASSERT_EQ(p.vertex_normals.size(), 3u);
    for (const Vector &v : p.vertex_normals) EXPECT_FLOAT_EQ(v.z, 1.0f) << supplied;
  }
}

// "geometry" of a kind it does not take is reported and leaves the object empty; the normal
// files made from the .geom file beside it then have nothing to belong to.
TEST(AOFFLoad, GenericGeometryLeavesAnEmptyObject) {
  TempDir dir;
  dir.write("cube.geom", CubeGeom(1, 0, 1));
  dir.write("cube.aoff", "geometry generic fff cube.geom\n");
  RunResult r = Info(dir, "cube.geom");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Unsupported type\nAOFFProp Name: geometry\nAOFFProp Type: 4\n");
  EXPECT_EQ(r.out.substr(0, r.out.find("bbox")), "Object: cube.geom\n0 vertices\n0 polygons\n");
}

// A header's own "scale" line stands, whatever the fit would give.
TEST(AOFFLoad, ScaleLineInTheHeaderIsReadAsItIs) {
  TempDir dir;
  dir.write("cube.geom", CubeGeom(0.5, -0.25, 1));
  std::string header = "geometry indexed_poly fff cube.geom\nscale default fff 2 2 2\n";
  dir.write("cube.aoff", header);
  const Part &p = LoadHere(dir, "cube.geom");
  EXPECT_EQ(ReadFile(dir.file("cube.aoff")), header + kNormalLines + "\n");
  EXPECT_EQ(p.scale_on, 1);
  EXPECT_EQ(p.scale[0], 2.0f);
}

TEST(AOFFLoad, HeaderProblemsStopWithTheLine) {
  TempDir dir;
  dir.write("cube.geom", CubeGeom(1, 0, 1));
  dir.write("cube.aoff", "geometry indexed_poly fff cube.geom\r\ncolour default fq 1 2\r\n");
  RunResult r = Info(dir, "cube.geom");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "AOFFReadObj: problem parsing line\n\t>>>colour default fq 1 2\n\n");

  dir.write("cube.aoff", "geometry indexed_poly fff cube.geom\nscale generic fff nowhere.dat\n");
  r = Info(dir, "cube.geom");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "OFFReadGeneric: cannot open data file " + dir.path() +
                       "/nowhere.dat\nAOFFReadObj: problem parsing line\n\t>>>scale generic fff "
                       "nowhere.dat\n\n");

  // A known property of a kind it does not take is reported and skipped.
  dir.write("cube.aoff", "geometry indexed_poly fff cube.geom\nfacet_offset generic fff "
                         "cube.pnorm\nscale generic fff cube.pnorm\n");
  r = Info(dir, "cube.geom");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Unsupported type\nAOFFProp Name: facet_offset\nAOFFProp Type: 4\n"
                   "Unsupported type\nAOFFProp Name: scale\nAOFFProp Type: 4\n");
}

TEST(AOFFLoad, ReadOnlyDirectoryWithCompleteSideFilesLoads) {
  TempDir dir;
  dir.write("cube.geom", CubeGeom(1, 0, 1));
  ASSERT_EQ(Info(dir, "cube.geom").status, 0);
  chmod(dir.path().c_str(), 0555);
  RunResult r = Info(dir, "cube.geom");
  chmod(dir.path().c_str(), 0755);
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(AOFFLoad, SamplesLoadWithoutWriting) {
  for (const char *name : {"cube.geom", "torus.geom", "prism.geom"}) {
    TempDir dir;
    std::string stem = std::string(name).substr(0, std::string(name).size() - 5);
    for (const std::string &f : ListDir(SourcePath("samples")))
      if (f.compare(0, stem.size() + 1, stem + ".") == 0)
        dir.write(f, ReadFile(SourcePath("samples/" + f)));
    std::string before = Snapshot(dir);
    RunResult r = Info(dir, name);
    ASSERT_EQ(r.status, 0) << name << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Snapshot(dir), before) << name;
  }
}

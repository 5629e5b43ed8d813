// The VRML converter: its library on hand-made worlds, its program on worlds written elsewhere.
#include "splitFace.h"
#include "support.h"
#include "wrl2geom.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

using wrl2geom::ConvertError;
using wrl2geom::kMaxSplitWork;
using wrl2geom::Mesh;
using wrl2geom::Skipped;

namespace {

Mesh ConvertText(const std::string &text, Skipped *skipped = nullptr) {
  Skipped local;
  return wrl2geom::Convert(text, "t.wrl", skipped ? *skipped : local);
}

// Facet f's corners.
std::vector<int> Facet(const Mesh &m, std::size_t f) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < f; ++i) at += std::size_t(m.sizes[i]);
  return std::vector<int>(m.indices.begin() + long(at), m.indices.begin() + long(at) + m.sizes[f]);
}

void ExpectVertex(const Mesh &m, int v, double x, double y, double z) {
  EXPECT_NEAR(m.xyz[3 * v], x, 1e-9) << "vertex " << v;
  EXPECT_NEAR(m.xyz[3 * v + 1], y, 1e-9) << "vertex " << v;
  EXPECT_NEAR(m.xyz[3 * v + 2], z, 1e-9) << "vertex " << v;
}

std::string ErrorOf(const std::string &text) {
  try {
    ConvertText(text);
  } catch (const ConvertError &e) {
    return e.what();
  }
  return "";
}

const char *kTriangle2 = "Shape { geometry IndexedFaceSet { coord Coordinate { point [0 0 0, 1 0 "
                         "0, 0 1 0] } coordIndex [0 1 2 -1] } }";

} // namespace

TEST(Wrl2Geom, TransformsNestAndUseRepeatsTheSharedShape) {
  Mesh m = ConvertText(std::string("#VRML V2.0 utf8\n"
                                   "Transform { translation 10 0 0 children [\n"
                                   "  Transform { scale 2 2 2 children [ DEF Tri ") +
                       kTriangle2 +
                       " ] }\n"
                       "] }\n"
                       "Transform { rotation 0 0 1 1.5707963267948966 children USE Tri }\n");
  ASSERT_EQ(m.vertexCount(), 6u);
  ASSERT_EQ(m.sizes, (std::vector<int>{3, 3}));
  // Scale first, then the outer translation.
  ExpectVertex(m, 0, 10, 0, 0);
  ExpectVertex(m, 1, 12, 0, 0);
  ExpectVertex(m, 2, 10, 2, 0);
  // The same shape again, turned a quarter about z: x goes to y.
  ExpectVertex(m, 4, 0, 1, 0);
  ExpectVertex(m, 5, -1, 0, 0);
  EXPECT_EQ(Facet(m, 1), (std::vector<int>{3, 4, 5}));
}

TEST(Wrl2Geom, CoordinatesSharedUnderOneTransformArePlacedOnce) {
  Mesh m =
      ConvertText("#VRML V2.0 utf8\n"
                  "Shape { geometry IndexedFaceSet { coord DEF C Coordinate { point [0 0 0, 1 0 0, "
                  "1 1 0, 0 1 0, 9 9 9] } coordIndex [0 1 2] } }\n"
                  "Shape { geometry IndexedFaceSet { coord USE C coordIndex [0 2 3] } }\n");
  // The unused fifth point is left out, so nothing stray widens the object.
  ASSERT_EQ(m.vertexCount(), 4u);
  EXPECT_EQ(Facet(m, 0), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(Facet(m, 1), (std::vector<int>{0, 2, 3}));
}

TEST(Wrl2Geom, IndexRunsAndWinding) {
  Skipped skipped;
  // Empty runs vanish, a two-corner run is counted, the last run needs no -1, and ccw FALSE
  // turns the corners round.
  Mesh m = ConvertText(
      "#VRML V2.0 utf8\n"
      "Shape { geometry IndexedFaceSet { ccw FALSE coord Coordinate { point [0 0 0, "
      "1 0 0, 1 1 0, 0 1 0] }\n coordIndex [0, 1, 2, 3, -1, -1, 0, 1, -1, 0 1 2,] } }\n",
      &skipped);
  ASSERT_EQ(m.sizes, (std::vector<int>{4, 3}));
  EXPECT_EQ(Facet(m, 0), (std::vector<int>{3, 2, 1, 0}));
  EXPECT_EQ(Facet(m, 1), (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(skipped.faces, 1);

  // A mirroring scale turns the faces inside out; the converter turns them back.
  Mesh mirrored = ConvertText("#VRML V2.0 utf8\nTransform { scale -1 1 1 children " +
                              std::string(kTriangle2) + " }");
  EXPECT_EQ(Facet(mirrored, 0), (std::vector<int>{2, 1, 0}));
}

TEST(Wrl2Geom, Version1StateFollowsSeparators) {
  Mesh m = ConvertText("#VRML V1.0 ascii\n"
                       "Coordinate3 { point [0 0 0, 1 0 0, 0 1 0] }\n"
                       "Separator {\n"
                       "  Translation { translation 5 0 0 }\n"
                       "  ShapeHints { vertexOrdering CLOCKWISE }\n"
                       "  Coordinate3 { point [0 0 0, 0 0 1, 0 1 0] }\n"
                       "  IndexedFaceSet { coordIndex [0, 1, 2, -1] }\n"
                       "}\n"
                       "IndexedFaceSet { coordIndex [0, 1, 2, -1] }\n"
                       "MatrixTransform { matrix 1 0 0 0  0 1 0 0  0 0 1 0  0 0 7 1 }\n"
                       "Scale { scaleFactor 2 2 2 }\n"
                       "IndexedFaceSet { coordIndex [0, 1, 2] }\n");
  ASSERT_EQ(m.vertexCount(), 9u);
  // Inside the separator: its own points, moved, corners reversed.
  ExpectVertex(m, 1, 5, 0, 1);
  EXPECT_EQ(Facet(m, 0), (std::vector<int>{2, 1, 0}));
  // After it: the outer points, unmoved, in file order.
  ExpectVertex(m, 4, 1, 0, 0);
  EXPECT_EQ(Facet(m, 1), (std::vector<int>{3, 4, 5}));
  // Transforms in a group accumulate: the matrix's translation, then the scale nearer the shape.
  ExpectVertex(m, 7, 2, 0, 7);
}

TEST(Wrl2Geom, SyntaxThatCarriesNoGeometryIsPassedOver) {
  Skipped skipped;
  Mesh m =
      ConvertText("#VRML V2.0 utf8\n"
                  "PROTO Thing [ field SFFloat size 1 ] { Box { size 1 1 1 } }\n"
                  "WorldInfo { info [\"braces } ] { and # are text\" \"quote \\\" inside\"] }\n"
                  "DEF T TimeSensor { loop TRUE }\n"
                  "Shape { appearance Appearance { material Material { diffuseColor 1 0 0 } } "
                  "geometry Sphere { radius 2 } }\n"
                  "Shape { geometry Text { string [\"hi\"] } }\n"
                  "Shape { geometry Sphere { } }\n"
                  "Thing { size 3 }\n"
                  "Shape { geometry Box { size 2 4 6 } }\n"
                  "ROUTE T.fraction_changed TO T.set_startTime\n",
                  &skipped);
  // Only the box becomes polygons: 8 corners, 6 quadrilaterals, outward.
  ASSERT_EQ(m.vertexCount(), 8u);
  ASSERT_EQ(m.sizes, (std::vector<int>(6, 4)));
  ExpectVertex(m, 7, 1, 2, 3);
  EXPECT_EQ(skipped.shapes.at("Sphere"), 2);
  EXPECT_EQ(skipped.shapes.at("Text"), 1);
  EXPECT_EQ(wrl2geom::SkippedLine("t.wrl", skipped),
            "mirandel-wrl2geom: t.wrl: skipped 3 shapes that are not face sets (Sphere, Text)\n");
}

TEST(Wrl2Geom, BadWorldsAreRefusedWithTheirLine) {
  const std::string v2 = "#VRML V2.0 utf8\n";
  struct Case {
    std::string text, expected;
  } cases[] = {
      {"solid cube\n", "t.wrl: not a VRML 1.0 or 2.0 file"},
      {v2 + "Shape { geometry IndexedFaceSet { coord Coordinate { point [0 0 0, 1 0 0, 0 1 0] }\n"
            "coordIndex [0 1 3] } }",
       "t.wrl: line 3: coordIndex 3 out of range (3 points)"},
      {v2 + "Shape { geometry IndexedFaceSet { coord Coordinate { point [0 0 0, 1 0 0, 0 1 0] }\n"
            "coordIndex [0 -2 1] } }",
       "t.wrl: line 3: coordIndex -2 out of range (3 points)"},
      {"#VRML V1.0 ascii\nIndexedFaceSet { coordIndex [0 1 2] }",
       "t.wrl: line 2: coordIndex 0 out of range (0 points)"},
      {v2 + "Transform { children [ USE Nothing ] }", "t.wrl: line 2: USE of undefined name"},
      {v2 + "Transform { children [\n Shape { geometry Box { } }\n",
       "t.wrl: line 2: list of children without its closing \"]\""},
      {v2 + "Shape { geometry IndexedFaceSet { coordIndex [0 1 2x] } }",
       "t.wrl: line 2: bad number \"2x\""},
      {v2 + "WorldInfo { title \"open", "t.wrl: line 2: string without its closing quote"},
      // What the converter reads must be numbers; what it passes over must still be closed.
      {v2 + "Transform { translation 1 2x 3 children " + kTriangle2 + " }",
       "t.wrl: line 2: bad number \"2x\""},
      {v2 + "Shape { geometry IndexedFaceSet { coord Coordinate { point [0 0 0, 1 ../0 0] }\n"
            "coordIndex [0 1 2] } }",
       "t.wrl: line 2: bad number \"../0\""},
      {"#VRML V1.0 ascii\nSeparator {\nTexture2 { filename ../wood.jpg\n",
       "t.wrl: line 3: Texture2 node without its closing \"}\""},
      // Names defined inside a prototype are its own.
      {v2 + "PROTO P [ ] { DEF X Group { } }\nTransform { children USE X }",
       "t.wrl: line 3: USE of undefined name"},
      {v2 + "Shape { geometry Sphere { } }", "t.wrl: no face sets to convert"},
      {v2 + "Transform { scale 1e30 1 1 children Transform { scale 1e30 1 1 children " +
           kTriangle2 + " } }",
       "t.wrl: line 2: a transformed point lies beyond the range of coordinates"},
      // A node may not reach itself through its own name: the name is not bound yet.
      {v2 + "DEF G Group { children [ USE G ] }", "t.wrl: line 2: USE of undefined name"},
  };
  for (const Case &c : cases) {
    std::string error = ErrorOf(c.text);
    EXPECT_EQ(error.compare(0, c.expected.size(), c.expected), 0)
        << "got \"" << error << "\" for:\n"
        << c.text;
  }
  // Forty doublings through USE would visit a trillion instances: the walk stops with a message.
  std::string doubling = v2 + "DEF a0 Group { }\n";
  for (int i = 1; i <= 40; ++i)
    doubling += "DEF a" + std::to_string(i) + " Group { children [ USE a" + std::to_string(i - 1) +
                " USE a" + std::to_string(i - 1) + " ] }\n";
  EXPECT_NE(ErrorOf(doubling).find("more node instances than the converter takes"),
            std::string::npos);
  // Deep nesting ends with a message, not a stack overflow.
  std::string deep = v2;
  for (int i = 0; i < 100000; ++i) deep += "Group { children [ ";
  EXPECT_NE(ErrorOf(deep).find("nested deeper than"), std::string::npos);
}

TEST(Wrl2Geom, WorldsWrittenElsewhere) {
  REQUIRE_REALWORLD();
  TempDir dir;
  std::string bin = std::string(MIRANDEL_BIN_DIR) + "/mirandel-wrl2geom";
  struct Case {
    const char *file, *header;
  } cases[] = {
      {"wrl/vtk-v2-teapot.wrl", "1189\t1506\t5390\n"},
      // A concave ten-corner face with repeated points: four triangles over its six places.
      {"wrl/cge-v1-concave.wrl", "6\t4\t12\n"},
      // Three face sets share one Coordinate3 under three translations.
      {"wrl/cge-v1-material_per_face_vertex.wrl", "24\t6\t24\n"},
  };
  for (const Case &c : cases) {
    std::string out = dir.file("out.geom");
    RunResult r = RunProgram({bin, RealWorld(c.file), out});
    EXPECT_EQ(r.status, 0) << c.file << ": " << r.err;
    EXPECT_EQ(r.err, "");
    std::string text = ReadFile(out);
    EXPECT_EQ(text.compare(0, std::strlen(c.header), c.header), 0) << c.file;
  }
  // The last case: its third face set moved by both translations.
  std::string last = ReadFile(dir.file("out.geom"));
  EXPECT_NE(last.find("\n18.000000\t0.000000\t0.000000\n"), std::string::npos);

  // A gzip-compressed world reads like the plain one.
  std::string gz = dir.file("teapot.wrl");
  RunResult zip = RunProgram(
      {"sh", "-c", "gzip -c \"$1\" > \"$2\"", "sh", RealWorld("wrl/vtk-v2-teapot.wrl"), gz});
  ASSERT_EQ(zip.status, 0);
  RunResult r = RunProgram({bin, gz, dir.file("gz.geom")});
  EXPECT_EQ(r.status, 0) << r.err;
  RunResult plain = RunProgram({bin, RealWorld("wrl/vtk-v2-teapot.wrl"), dir.file("plain.geom")});
  EXPECT_EQ(ReadFile(dir.file("gz.geom")), ReadFile(dir.file("plain.geom")));

  // A world it refuses leaves no output behind and says why.
  dir.write("bad.wrl", "#VRML V2.0 utf8\nShape { geometry IndexedFaceSet { coordIndex [0 1 2] } }");
  r = RunProgram({bin, dir.file("bad.wrl"), dir.file("bad.geom")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "mirandel-wrl2geom: " + dir.file("bad.wrl") +
                       ": line 2: coordIndex 0 out of range (0 points)\n");
  EXPECT_FALSE(FileExists(dir.file("bad.geom")));
  r = RunProgram({bin, dir.file("missing.wrl"), dir.file("m.geom")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing.wrl: cannot open"), std::string::npos) << r.err;
}

// The text is plain decimals that any number reader takes: rounding noise reads as zero, and a
// tiny object keeps its digits.
TEST(Wrl2Geom, WrittenTextIsPlainDecimals) {
  TempDir dir;
  Mesh turned = ConvertText(std::string("#VRML V2.0 utf8\nTransform { rotation 0 0 1 "
                                        "1.5707963267948966 children ") +
                            kTriangle2 + " }");
  wrl2geom::WriteGeom(turned, dir.file("turned.geom"));
  EXPECT_EQ(ReadFile(dir.file("turned.geom")), "3\t1\t3\n"
                                               "0.000000\t0.000000\t0.000000\n"
                                               "0.000000\t1.000000\t0.000000\n"
                                               "-1.000000\t0.000000\t0.000000\n"
                                               "3\t0 1 2 \n");
  Mesh tiny = ConvertText(std::string("#VRML V2.0 utf8\nTransform { scale 1e-7 1e-7 1e-7 "
                                      "children ") +
                          kTriangle2 + " }");
  wrl2geom::WriteGeom(tiny, dir.file("tiny.geom"));
  EXPECT_EQ(ReadFile(dir.file("tiny.geom")), "3\t1\t3\n"
                                             "0.0000000000000\t0.0000000000000\t0.0000000000000\n"
                                             "0.0000001000000\t0.0000000000000\t0.0000000000000\n"
                                             "0.0000000000000\t0.0000001000000\t0.0000000000000\n"
                                             "3\t0 1 2 \n");
}

// Worlds as exporters write them: whatever the converter does not use (textures, scripts,
// prototypes, sounds, unquoted file names, hexadecimal images, strings full of braces) is passed
// over by its brackets, and the face sets in between still come through.
TEST(Wrl2Geom, WhatTheConverterDoesNotUseIsPassedOverByItsBrackets) {
  const std::string quad1 = "Coordinate3 { point [0 0 0, 1 0 0, 1 1 0, 0 1 0] }\n"
                            "IndexedFaceSet { coordIndex [0, 1, 2, 3, -1] }\n";
  const std::string quad2 = "geometry IndexedFaceSet { coord Coordinate { point [0 0 0, 1 0 0, "
                            "1 1 0, 0 1 0] } coordIndex [0 1 2 3 -1] }";
  struct Case {
    const char *what;
    std::string text;
    std::size_t vertices, facets;
  } cases[] = {
      {"1.0 texture with an unquoted file name",
       "#VRML V1.0 ascii\nSeparator {\n Texture2 { filename ../textures/wood.jpg wrapS REPEAT }\n" +
           quad1 + "}\n",
       4, 1},
      {"1.0 image in hexadecimal, materials, bindings, a bit mask and a font",
       "#VRML V1.0 ascii\nSeparator { renderCulling AUTO\n"
       " Texture2 { image 2 1 3 0xFF0000 0x00ff00 }\n"
       " Material { diffuseColor [1 0 0, 0 1 1] transparency 0.5 }\n"
       " MaterialBinding { value PER_FACE_INDEXED }\n"
       " FontStyle { family SERIF style (BOLD | ITALIC) }\n"
       " ShapeHints { vertexOrdering COUNTERCLOCKWISE faceType UNKNOWN_FACE_TYPE creaseAngle .5 }\n"
       " Texture2Transform { translation 0.5 1e999 center -inf 0 }\n" +
           quad1 + "}\n",
       4, 1},
      {"1.0 extension node with its field list, an info string and a comment inside a field",
       "#VRML V1.0 ascii\n"
       "Info { string \"made by a tool { with } braces \\\" and a quote\" }\n"
       "Blinker { fields [ SFFloat speed, MFNode kids ] isA [\"Switch\"] speed 2\n"
       "  Cube { } }\n"
       "Coordinate3 { point [0 0 0, 1 0 0, # the second corner\n 1 1 0, 0 1 0] }\n"
       "IndexedFaceSet { coordIndex [0, 1, 2, 3] textureCoordIndex [0 1 2 3] }\n"
       "WWWInline { name ../parts/wheel.wrl bboxSize 1 1 1 }\n",
       4, 1},
      {"1.0 name defined inside a node the converter passes over",
       "#VRML V1.0 ascii\n"
       "Blinker { fields [ MFNode kids ] DEF 3dsCoords Coordinate3 { point [0 0 0, 1 0 0, 0 1 0] } "
       "}\n"
       "Separator { USE 3dsCoords IndexedFaceSet { coordIndex [0 1 2] } }\n",
       3, 1},
      {"2.0 prototypes, a script, routes, sensors and environment nodes",
       "#VRML V2.0 utf8\n"
       "EXTERNPROTO Lamp [ field SFColor color ] [ \"lib.wrl#Lamp\" \"http://x/lib.wrl#Lamp\" ]\n"
       "PROTO Wheel [ field SFFloat r 1 exposedField MFNode kids [] eventIn SFBool go ] {\n"
       "  DEF Inner Transform { children IS kids } Script { url \"vrmlscript: function go() { "
       "r = 2; }\" } }\n"
       "NavigationInfo { type [ \"EXAMINE\", \"ANY\" ] headlight TRUE }\n"
       "Background { skyColor [0 0 1] }\n"
       "Viewpoint { description \"front \\\"view\\\"\" position 0 0 10 }\n"
       "DEF Clock TimeSensor { cycleInterval 2 loop TRUE }\n"
       "DEF Run Script {\n"
       "  eventIn SFFloat tick eventOut SFVec3f where field SFNode target USE Clock\n"
       "  directOutput TRUE url [ \"javascript: function tick(f) { where = new SFVec3f(f, 0, 0); "
       "}\" ]\n}\n"
       "Sound { source AudioClip { url \"a.wav\" loop TRUE } }\n"
       "WorldInfo { title \"t\" info \"one\" \"two\" }\n"
       "Wheel { r 3 }\n"
       "Lamp { color 1 1 0 }\n"
       "DEF Spin Transform { children [ Shape { appearance Appearance {\n"
       "  material Material { diffuseColor 1 0 0 } texture ImageTexture { url ../tex/wood.jpg } "
       "}\n  " +
           quad2 +
           " } ] }\n"
           "ROUTE Clock.fraction_changed TO Run.tick\n"
           "ROUTE Run.where TO Spin.set_translation\n",
       4, 1},
      {"2.0 face set fields the converter does not read",
       "#VRML V2.0 utf8\n"
       "Shape { geometry IndexedFaceSet { solid FALSE creaseAngle 1.57 convex TRUE\n"
       "  color Color { color [1 0 0, 0 1 0] } colorPerVertex FALSE colorIndex [0 1]\n"
       "  normal DEF N Normal { vector [0 0 1] } normalIndex [0 0 0 0 -1]\n"
       "  texCoord TextureCoordinate { point [0 0, 1 0, 1 1, 0 1] } texCoordIndex [0 1 2 3 -1]\n"
       "  coord Coordinate { point [0 0 0, 1 0 0, 1 1 0, 0 1 0] } coordIndex [0 1 2 3 -1]\n"
       "  PixelTexture { image 1 1 3 0xFFFFFF } } }\n",
       4, 1},
      {"2.0 name defined in a field the converter does not read, used where it does",
       "#VRML V2.0 utf8\n"
       "Collision { proxy DEF Hull Shape { " +
           quad2 + " } children [ ] }\nTransform { translation 5 0 0 children USE Hull }\n",
       4, 1},
  };
  for (const Case &c : cases) {
    std::string error;
    Mesh m;
    try {
      m = ConvertText(c.text);
    } catch (const ConvertError &e) {
      error = e.what();
    }
    EXPECT_EQ(error, "") << c.what;
    EXPECT_EQ(m.vertexCount(), c.vertices) << c.what;
    EXPECT_EQ(m.sizes.size(), c.facets) << c.what;
  }
}

namespace {

using Point = std::array<double, 3>;

Point Cross(const Point &a, const Point &b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Dot(const Point &a, const Point &b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Twice the vector area of a closed polygon (its Newell normal).
Point VectorArea(const std::vector<Point> &p) {
  Point n{0, 0, 0};
  for (std::size_t i = 0; i < p.size(); ++i) {
    Point c = Cross(p[i], p[(i + 1) % p.size()]);
    for (int k = 0; k < 3; ++k) n[k] += c[k];
  }
  return n;
}

using Point2 = std::array<double, 2>;

// How often the polygon winds around the point (x, y).
int Winding(const std::vector<Point2> &p, double x, double y) {
  int w = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const Point2 &a = p[i], &b = p[(i + 1) % p.size()];
    double side = (a[0] - x) * (b[1] - y) - (a[1] - y) * (b[0] - x);
    if (a[1] <= y && b[1] > y && side > 0) ++w;
    if (a[1] > y && b[1] <= y && side < 0) --w;
  }
  return w;
}

std::vector<Point> Corners(const Mesh &m, std::size_t f) {
  std::vector<Point> p;
  for (int v : Facet(m, f))
    p.push_back(
        {m.xyz[3 * std::size_t(v)], m.xyz[3 * std::size_t(v) + 1], m.xyz[3 * std::size_t(v) + 2]});
  return p;
}

std::string FaceWorld(const std::vector<Point> &p, bool clockwise = false) {
  std::string text = "#VRML V2.0 utf8\nShape { geometry IndexedFaceSet { ";
  if (clockwise) text += "ccw FALSE ";
  text += "coord Coordinate { point [";
  char buf[100];
  for (const Point &q : p) {
    std::snprintf(buf, sizeof buf, " %.17g %.17g %.17g,", q[0], q[1], q[2]);
    text += buf;
  }
  text += "] } coordIndex [";
  for (std::size_t i = 0; i < p.size(); ++i) text += " " + std::to_string(i);
  return text + "] } }\n";
}

// Checks that the facets of `m` are triangles that tile the polygon `p` seen along its normal:
// every triangle faces the polygon's way, their areas add up to the polygon's, and a grid of
// sample points lies in as many triangles as the polygon winds around it.
void ExpectTiles(const Mesh &m, const std::vector<Point> &p, const std::string &what) {
  Point n = VectorArea(p);
  double area2 = std::sqrt(Dot(n, n));
  Point axis{n[0] / area2, n[1] / area2, n[2] / area2};
  Point u = Cross(axis, std::fabs(axis[0]) < 0.9 ? Point{1, 0, 0} : Point{0, 1, 0});
  double ul = std::sqrt(Dot(u, u));
  u = {u[0] / ul, u[1] / ul, u[2] / ul};
  Point v = Cross(axis, u);
  auto flat = [&](const std::vector<Point> &q) {
    std::vector<Point2> out;
    for (const Point &c : q) out.push_back({Dot(c, u), Dot(c, v)});
    return out;
  };
  double sum = 0;
  std::vector<std::vector<Point2>> triangles;
  for (std::size_t f = 0; f < m.sizes.size(); ++f) {
    ASSERT_EQ(m.sizes[f], 3) << what << ": facet " << f;
    std::vector<Point> t = Corners(m, f);
    double a = Dot(VectorArea(t), axis);
    EXPECT_GT(a, 0) << what << ": facet " << f << " faces the other way or has no area";
    sum += a;
    triangles.push_back(flat(t));
  }
  EXPECT_NEAR(sum, area2, 1e-9 * area2) << what;
  std::vector<Point2> outline = flat(p);
  Point2 lo{1e300, 1e300}, hi{-1e300, -1e300};
  for (const Point2 &q : outline)
    for (int k = 0; k < 2; ++k) lo[k] = std::min(lo[k], q[k]), hi[k] = std::max(hi[k], q[k]);
  int wrong = 0;
  for (int i = 0; i < 97; ++i)
    for (int j = 0; j < 89; ++j) {
      double x = lo[0] + (hi[0] - lo[0]) * (i + 0.3183) / 97;
      double y = lo[1] + (hi[1] - lo[1]) * (j + 0.2718) / 89;
      int covered = 0;
      for (const auto &t : triangles)
        if (std::min({t[0][0], t[1][0], t[2][0]}) <= x &&
            x <= std::max({t[0][0], t[1][0], t[2][0]}))
          covered += Winding(t, x, y);
      if (covered != Winding(outline, x, y)) ++wrong;
    }
  EXPECT_EQ(wrong, 0) << what << ": sample points covered wrongly";
}

std::vector<Point> Flat(const std::vector<std::array<double, 2>> &xy) {
  std::vector<Point> p;
  for (const auto &q : xy) p.push_back({q[0], q[1], 0});
  return p;
}

// The points turned about an oblique axis and moved off the origin, so that the face's plane is
// none of the coordinate planes.
std::vector<Point> Tilted(const std::vector<Point> &p) {
  std::vector<Point> out;
  double c = std::cos(0.7), s = std::sin(0.7);
  for (const Point &q : p) {
    Point r{q[0], c * q[1] - s * q[2], s * q[1] + c * q[2]};
    out.push_back({c * r[0] + s * r[2] + 100, r[1] - 40, -s * r[0] + c * r[2] + 7});
  }
  return out;
}

} // namespace

// A concave or bent face reaches the viewer as triangles that cover it exactly, each facing the
// face's own way; a flat convex face reaches it as it is.
TEST(Wrl2Geom, ConcaveAndBentFacesBecomeTrianglesThatTileThem) {
  std::vector<Point> ell = Flat({{0, 0}, {0, 2}, {-2, 2}, {-2, -1}, {1, -1}, {1, 0}});
  std::vector<Point> comb = Flat({{0, 0}, {10, 0}, {10, 3}});
  for (int i = 9; i >= 1; i -= 2) {
    comb.push_back({double(i), 1, 0});
    comb.push_back({double(i - 1), 3, 0});
  }
  std::vector<Point> spiral;
  for (int i = 0; i <= 40; ++i) {
    double a = i * 0.3, r = 1 + i * 0.1;
    spiral.push_back({r * std::cos(a), r * std::sin(a), 0});
  }
  for (int i = 40; i >= 0; --i) {
    double a = i * 0.3, r = 1.4 + i * 0.1;
    spiral.push_back({r * std::cos(a), r * std::sin(a), 0});
  }
  std::vector<Point> bentQuad = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0.4}, {0, 1, 0}};
  std::vector<Point> bentHex = {{0, 0, 0},   {4, 0, 0.3}, {4, 4, 0},
                                {2, 1, 0.5}, {0, 4, 0},   {-1, 2, -0.2}};
  std::vector<Point> zigzag;
  for (int i = 0; i <= 400; ++i) zigzag.push_back({double(i), i % 2 ? 1.0 : 2.0, 0});
  zigzag.push_back({400, -1, 0});
  zigzag.push_back({0, -1, 0});
  struct Case {
    const char *what;
    std::vector<Point> p;
  } cases[] = {
      {"L-shape that starts at its inner corner", ell},
      {"the same in an oblique plane", Tilted(ell)},
      {"comb", comb},
      {"spiral arm", Tilted(spiral)},
      // A square ring cut open to one face: its hole reached through a slit whose two sides
      // share their points.
      {"ring through a slit", Flat({{0, 0},
                                    {6, 0},
                                    {6, 6},
                                    {0, 6},
                                    {0, 2},
                                    {2, 2},
                                    {2, 4},
                                    {4, 4},
                                    {4, 2},
                                    {2, 2},
                                    {0, 2}})},
      {"corners on straight edges and repeated corners", Flat({{0, 0},
                                                               {1, 0},
                                                               {2, 0},
                                                               {2, 0},
                                                               {2, 1},
                                                               {1, 1},
                                                               {1, 1},
                                                               {1, 2},
                                                               {1, 3},
                                                               {0, 3},
                                                               {0, 2},
                                                               {0, 1},
                                                               {0, 0}})},
      {"bent quadrilateral", bentQuad},
      {"bent concave hexagon", bentHex},
      {"four hundred teeth", zigzag},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ExpectTiles(ConvertText(FaceWorld(c.p)), c.p, c.what);
    // A face wound the other way round is split into triangles wound that way too.
    std::vector<Point> reversed(c.p.rbegin(), c.p.rend());
    ExpectTiles(ConvertText(FaceWorld(c.p, true)), reversed, std::string(c.what) + ", ccw FALSE");
  }

  // Flat convex faces, a straight corner and a point off the plane by rounding noise included,
  // are written as they are.
  std::vector<Point> octagon;
  for (int i = 0; i < 8; ++i)
    octagon.push_back({std::cos(i * 0.785398), std::sin(i * 0.785398), i % 2 ? 1e-7 : 0});
  struct Kept {
    const char *what;
    std::vector<Point> p;
  } kept[] = {
      {"square", Flat({{0, 0}, {1, 0}, {1, 1}, {0, 1}})},
      {"octagon", Tilted(octagon)},
      {"pentagon with a straight corner", Flat({{0, 0}, {1, 0}, {2, 0}, {2, 1}, {0, 1}})},
      // Nothing to split by: no area, so no plane.
      {"points on a line", Flat({{0, 0}, {1, 0}, {2, 0}, {3, 0}})},
      {"figure eight", Flat({{0, 0}, {1, 1}, {1, 0}, {0, 1}})},
  };
  for (const Kept &k : kept) {
    Mesh m = ConvertText(FaceWorld(k.p));
    ASSERT_EQ(m.sizes, std::vector<int>{int(k.p.size())}) << k.what;
    std::vector<int> order(k.p.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = int(i);
    EXPECT_EQ(Facet(m, 0), order) << k.what;
  }
}

// The concave face from another program: it was drawn as a dark triangle; now its triangles
// tile it.
TEST(Wrl2Geom, ConcaveFaceFromElsewhereIsTiled) {
  REQUIRE_REALWORLD();
  Skipped skipped;
  Mesh m = wrl2geom::Convert(wrl2geom::ReadInput(RealWorld("wrl/cge-v1-concave.wrl")),
                             "concave.wrl", skipped);
  std::vector<Point> face =
      Flat({{0, 0.5}, {2.5, 0.5}, {2.5, 1.85}, {2.85, 1.85}, {2.85, 0.15}, {0, 0.15}});
  ExpectTiles(m, face, "concave.wrl");
}

// When a face needs more effort than is left, what is not yet cut off stays one polygon: the
// pieces still add up to the whole face.
TEST(Wrl2Geom, FaceOutOfEffortKeepsItsRestWhole) {
  std::vector<double> xyz = {0, 0, 0, 10, 0, 0, 10, 3, 0};
  for (int i = 9; i >= 1; i -= 2) xyz.insert(xyz.end(), {double(i), 1, 0, double(i - 1), 3, 0});
  std::vector<int> corners;
  for (std::size_t v = 0; v < xyz.size() / 3; ++v) corners.push_back(int(v));
  auto area = [&](const int *c, std::size_t n) {
    double a = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const double *p = &xyz[3 * std::size_t(c[i])], *q = &xyz[3 * std::size_t(c[(i + 1) % n])];
      a += p[0] * q[1] - p[1] * q[0];
    }
    return a / 2;
  };
  for (long effort : {0L, 4L, 12L, kMaxSplitWork}) {
    std::vector<int> sizes, indices;
    long work = effort;
    wrl2geom::SplitFace(xyz, corners.data(), corners.size(), sizes, indices, work);
    double sum = 0;
    std::size_t at = 0;
    for (int n : sizes) {
      EXPECT_GT(area(&indices[at], std::size_t(n)), 0) << "effort " << effort;
      sum += area(&indices[at], std::size_t(n));
      at += std::size_t(n);
    }
    EXPECT_EQ(at, indices.size());
    EXPECT_NEAR(sum, area(corners.data(), corners.size()), 1e-12) << "effort " << effort;
    if (effort == 0) {
      EXPECT_EQ(indices, corners);
    }
    if (effort == kMaxSplitWork) {
      EXPECT_EQ(sizes, std::vector<int>(corners.size() - 2, 3));
    }
  }
}

// Diffuse colours: a material's for its whole shape, a Color node's per face or per point, by
// index or in order; in 1.0 the material under its binding. Faces that all have one colour give
// facet colours; otherwise each vertex gets one, placed again where its corners differ.
TEST(Wrl2Geom, DiffuseColoursReachTheMesh) {
  const std::string quad = "coord Coordinate { point [0 0 0, 1 0 0, 1 1 0, 0 1 0] } "
                           "coordIndex [0 1 2 -1, 0 2 3 -1] ";
  struct Case {
    const char *what;
    std::string world;
    std::vector<float> facetRgb, vertexRgb;
    std::size_t vertices;
  } cases[] = {
      {"no colours",
       "#VRML V2.0 utf8\nShape { geometry IndexedFaceSet { " + quad + "} }",
       {},
       {},
       4},
      {"material",
       "#VRML V2.0 utf8\nShape { appearance Appearance { material Material { "
       "diffuseColor 1 0 0 } } geometry IndexedFaceSet { " +
           quad + "} }",
       {1, 0, 0, 1, 0, 0},
       {},
       4},
      {"default material",
       "#VRML V2.0 utf8\nShape { appearance Appearance { material Material "
       "{ } } geometry Box { } }",
       std::vector<float>(18, .8f),
       {},
       8},
      {"per face",
       "#VRML V2.0 utf8\nShape { geometry IndexedFaceSet { " + quad +
           "color Color { color [0 1 0, 0 0 1] } colorPerVertex FALSE } }",
       {0, 1, 0, 0, 0, 1},
       {},
       4},
      {"per face indexed",
       "#VRML V2.0 utf8\nShape { geometry IndexedFaceSet { " + quad +
           "color Color { color [0 1 0, 0 0 1] } colorIndex [1 1] "
           "colorPerVertex FALSE } }",
       {0, 0, 1, 0, 0, 1},
       {},
       4},
      {"per point",
       "#VRML V2.0 utf8\nShape { geometry IndexedFaceSet { " + quad +
           "color Color { color [1 0 0, 0 1 0, 0 0 1, 1 1 2] } } }",
       {},
       {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1},
       4},
      // Point 0 is red in one face and green in the other: it is placed twice.
      {"per corner",
       "#VRML V2.0 utf8\nShape { geometry IndexedFaceSet { " + quad +
           "color Color { color [1 0 0, 0 1 0] } "
           "colorIndex [0 0 0 -1, 1 0 1 -1] } }",
       {},
       {1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 1, 0, 0, 1, 0},
       5},
      {"uncoloured beside coloured",
       "#VRML V2.0 utf8\nShape { geometry IndexedFaceSet { " + quad +
           "} }\nShape { appearance Appearance { material Material { diffuseColor 0 0 1 } } "
           "geometry IndexedFaceSet { " +
           quad + "} }",
       {.8f, .8f, .8f, .8f, .8f, .8f, 0, 0, 1, 0, 0, 1},
       {},
       8},
      {"1.0 per face indexed",
       "#VRML V1.0 ascii\nMaterial { diffuseColor [1 0 0, 0 1 0] }\nMaterialBinding { value "
       "PER_FACE_INDEXED }\nCoordinate3 { point [0 0 0, 1 0 0, 1 1 0, 0 1 0] }\n"
       "IndexedFaceSet { coordIndex [0 1 2 -1, 0 2 3 -1] materialIndex [1, 0] }",
       {0, 1, 0, 1, 0, 0},
       {},
       4},
      {"1.0 overall",
       "#VRML V1.0 ascii\nMaterial { diffuseColor 0 0 1 }\nCube { }",
       std::vector<float>{0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1},
       {},
       8},
  };
  for (const Case &c : cases) {
    Mesh m = ConvertText(c.world);
    EXPECT_EQ(m.facetRgb, c.facetRgb) << c.what;
    EXPECT_EQ(m.vertexRgb, c.vertexRgb) << c.what;
    EXPECT_EQ(m.vertexCount(), c.vertices) << c.what;
  }
}

// The converter's colours reach the viewer through the header beside the geometry; a header of
// the user's own is left alone.
TEST(Wrl2Geom, ColoursAreWrittenBesideTheGeometry) {
  TempDir dir;
  std::string world = "#VRML V2.0 utf8\nShape { appearance Appearance { material Material { "
                      "diffuseColor 0 .5 1 } } geometry IndexedFaceSet { coord Coordinate { "
                      "point [0 0 0, 1 0 0, 0 1 0] } coordIndex [0 1 2] } }";
  dir.write("scene.wrl", world);
  for (int load = 0; load < 2; ++load) {
    RunResult r = RunMirandel({"--info", "-in", "scene.wrl"},
                              {{"OBJ_PATH", true, dir.path()}, Unset("WRL2GEOM_COMMAND")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Object: scene.geom\n3 vertices\n1 polygons\nbbox: 0 0 0 1 1 0\n") << load;
    EXPECT_EQ(ReadFile(dir.file("scene.pcolor")), "1\n0.000000\t0.500000\t1.000000\n");
    std::string header = ReadFile(dir.file("scene.aoff"));
    EXPECT_NE(header.find("polygon_colors\t\tgeneric\t\tfff\t\tscene.pcolor\n"), std::string::npos)
        << header;
    EXPECT_NE(header.find("polygon_normals"), std::string::npos) << header;
  }
  std::string bin = std::string(MIRANDEL_BIN_DIR) + "/mirandel-wrl2geom";
  dir.write("own.wrl", world);
  dir.write("own.aoff", "geometry indexed_poly fff own.geom\nmaterial_colors default fff 1 1 0\n");
  RunResult r = RunProgram({bin, dir.file("own.wrl"), dir.file("own.geom")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir.file("own.aoff")),
            "geometry indexed_poly fff own.geom\nmaterial_colors default fff 1 1 0\n");
  EXPECT_FALSE(FileExists(dir.file("own.pcolor")));
}

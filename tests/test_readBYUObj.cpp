#include "part_reader_support.h"

#include <gtest/gtest.h>

using V = std::vector<uint32_t>;

TEST(BYUReader, NegatedNumberEndsPolygonAndPartsFormOneObject) {
  TempDir dir;
  // Two parts; Fortran-style numbers running together in the vertices and the connectivity.
  dir.write("two_parts.byu", "2 7 2 7\n1 1 2 2\n"
                             "0.00000E+00-0.10000E+01 2.5\n1 0 0\n0 1 0\n"
                             "0 0 1\n1 1 0\n1 0 1\n0 1 1\n"
                             "1 2-3\n4 5\n6 -7\n");
  auto part = ReadPartFrom(dir, "two_parts.byu", BYUReadObj);
  ASSERT_EQ(part->vertex_count, 7u);
  EXPECT_EQ(part->vertices[0].y, -1.0f);
  EXPECT_EQ(part->vertices[0].z, 2.5f);
  ASSERT_EQ(part->facet_count, 2u);
  EXPECT_EQ(FacetIndices(*part, 0), (V{0, 1, 2}));
  EXPECT_EQ(FacetIndices(*part, 1), (V{3, 4, 5, 6}));

  // Into the Shape: arrays change owner, indices are zero-based.
  CreateShape(kTypeBYU);
  BYUFormatObj(*part, *currentShape);
  const Part &p = *currentShape->part;
  EXPECT_EQ(p.facet_offset, 0);
  EXPECT_EQ(p.vertex_count, 7u);
  EXPECT_EQ(p.vertices.size(), 7u);
  EXPECT_EQ(p.facet_count, 2u);
  EXPECT_EQ(p.facet_vertex_pool.size(), 7u);
  EXPECT_TRUE(part->vertices.empty());
  ReleaseShape();
}

TEST(BYUReader, ShortOrOpenEndedConnectivityStopsAtWhatIsThere) {
  TempDir dir;
  // Five polygons claimed, two present, the last without its negated end; then a polygon of 70
  // vertices, more than a fixed buffer of 64 would hold.
  dir.write("few_polygons.byu", "1 3 5 0\n1 5\n0 0 0 1 0 0 0 1 0\n1 2 -3\n3 2 1");
  auto part = ReadPartFrom(dir, "few_polygons.byu", BYUReadObj);
  ASSERT_EQ(part->facet_count, 2u);
  EXPECT_EQ(FacetIndices(*part, 1), (V{2, 1, 0}));

  std::string big = "1 70 1 70\n1 1\n";
  for (int i = 0; i < 70; ++i) big += std::to_string(i) + " 0 0\n";
  for (int i = 1; i < 70; ++i) big += std::to_string(i) + " ";
  big += "-70\n";
  dir.write("big_polygon.byu", big);
  part = ReadPartFrom(dir, "big_polygon.byu", BYUReadObj);
  ASSERT_EQ(part->facet_count, 1u);
  ASSERT_EQ(part->facets[0].count, 70u);
  EXPECT_EQ(FacetIndices(*part, 0)[69], 69u);
}

TEST(BYUReader, BadVertexNumbersAndLyingCountsEndTheRun) {
  TempDir dir;
  const std::string head = "1 3 1 3\n1 1\n0 0 0 1 0 0 0 1 0\n";
  dir.write("vertex_zero.byu", head + "1 0 -2\n");
  dir.write("vertex_beyond.byu", head + "1 2 -4\n");
  dir.write("huge_vertex_count.byu", "1 2000000000 1 3\n1 1\n0 0 0 1 0 0 0 1 0\n1 2 -3\n");
  dir.write("truncated.byu", "1 4 1 3\n1 1\n0 0 0 1 0 0 0 1 0\n1 2");
  dir.write("no_header.byu", "cube\n");
  dir.write("letters_in_vertex.byu", "1 3 1 3\n1 1\n0 0 0 1 x 0 0 1 0\n1 2 -3\n");
  struct Case {
    const char *file, *message;
  } cases[] = {
      {"vertex_zero.byu", "polygon 1 uses vertex number 0, outside 1 to 3\n"},
      {"vertex_beyond.byu", "polygon 1 uses vertex number -4, outside 1 to 3\n"},
      {"huge_vertex_count.byu", "the file ends before its 2000000000 vertices\n"},
      {"truncated.byu", "the file ends before its 4 vertices\n"},
      {"no_header.byu", "the header does not hold four counts\n"},
      {"letters_in_vertex.byu", "vertex 2 is not three numbers\n"},
  };
  for (const Case &c : cases) {
    Failure f = ReadPartFailure(dir, c.file, BYUReadObj);
    EXPECT_EQ(f.status, 1) << c.file;
    EXPECT_EQ(f.message, "BYUReadObj: " + dir.file(c.file) + ": " + c.message) << c.file;
  }
}

TEST(BYUReader, RealFilesLoadThroughTheProgram) {
  REQUIRE_REALWORLD();
  struct Case {
    const char *file, *counts;
  } cases[] = {
      {"vtk-teapot.byu", "1976 vertices\n3751 polygons\n"},
      {"vtk-cow.byu", "2903 vertices\n3263 polygons\n"},
  };
  for (const Case &c : cases) {
    RunResult r = RunMirandel({"--info", "-in", c.file}, {{"OBJ_PATH", true, RealWorld("byu")}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(c.counts), std::string::npos) << r.out;
  }
  // A file found nowhere along the search list.
  TempDir dir;
  Failure f = ReadPartFailure(dir, "missing.byu", BYUReadObj);
  EXPECT_EQ(f.status, 1);
  EXPECT_EQ(f.message, "BYUReadObj: missing.byu not found\n");
}

#include "base/fatal.h"
#include "viewer/model/shape.h"

#include <gtest/gtest.h>

TEST(Shape, CreateSetsDefaultsAndReleaseClears) {
  ReleaseShape(); // nothing loaded: no effect
  EXPECT_EQ(currentShape, nullptr);
  Shape *s = CreateShape(6);
  ASSERT_EQ(currentShape, s);
  EXPECT_EQ(s->type, 6);
  const Part &p = *s->part;
  EXPECT_EQ(p.back_faces, 2);
  EXPECT_EQ(p.vertex_order, 2);
  EXPECT_EQ(p.facet_offset, 1);
  EXPECT_EQ(p.facet_count, 0u);
  EXPECT_EQ(p.vertex_count, 0u);
  EXPECT_EQ(p.scale_on + p.rotate_on + p.translate_on, 0);
  morph_vertices.push_back(Coord{1, 2, 3});
  ReleaseShape();
  EXPECT_EQ(currentShape, nullptr);
  EXPECT_TRUE(morph_vertices.empty());
}

TEST(Shape, FacetsShareOnePool) {
  Shape *s = CreateShape(2);
  Part &p = *s->part;
  uint32_t *tri = AddFacet(p, 3, "test", __LINE__);
  tri[0] = 0, tri[1] = 1, tri[2] = 2;
  uint32_t *quad = AddFacet(p, 4, "test", __LINE__);
  for (uint32_t i = 0; i < 4; ++i) quad[i] = 10 + i;
  ASSERT_EQ(p.facets.size(), 2u);
  EXPECT_EQ(p.facets[1].count, 4u);
  EXPECT_EQ(p.facetVertices(0)[2], 2u);
  EXPECT_EQ(p.facetVertices(1)[3], 13u);
  EXPECT_EQ(p.facet_vertex_pool.size(), 7u);
  ReleaseShape();
}

TEST(Fatal, CarriesMessageAndStatus) {
  try {
    fatal(7, "File %s does not exist\n", "x.off");
    FAIL();
  } catch (const FatalError &e) {
    EXPECT_EQ(e.status, 7);
    EXPECT_STREQ(e.what(), "File x.off does not exist\n");
  }
  // An allocation that cannot be made is reported with the record type, count and module.
  std::vector<Coord> v;
  try {
    allocArray(v, static_cast<size_t>(-1) / 4, "Coord", "formatObj", 42);
    FAIL();
  } catch (const FatalError &e) {
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(std::string(e.what()),
              "Memory allocation for Coord (" +
                  std::to_string(static_cast<long long>(static_cast<size_t>(-1) / 4)) +
                  " bytes) failed on line 42 in formatObj\n");
  }
}

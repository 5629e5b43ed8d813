// Drawing hand-built Shapes in-process: lists, material, placement.
#include "graphics.h"
#include "shell.h"
#include "window_support.h"

#include <gtest/gtest.h>

TEST(WindowGL, CubeFrame) {
  if (!SharedDisplay()) GTEST_SKIP() << "no Xvfb";
  MakeCube();
  Image img = DrawFrame();
  ASSERT_FALSE(img.empty());
  EXPECT_EQ(img.width, 560);
  EXPECT_EQ(img.height, 525);
  ReleaseAll();
}

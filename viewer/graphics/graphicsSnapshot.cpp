// The first frame as a PNG file, for scripts and thumbnails.
#include "viewer/graphics/graphics.h"

#include "base/fatal.h"

#include <GL/gl.h>
#include <cstring>
#include <png.h>
#include <vector>

void WriteSnapshot(const std::string &path) {
  if (!WindowOpen()) fatal(1, "Snapshot %s: there is no window to draw in\n", path.c_str());
  Redisplay();
  glFinish();
  int w = window_width, h = window_height;
  if (w <= 0 || h <= 0) fatal(1, "Snapshot %s: the window has no size\n", path.c_str());
  std::vector<unsigned char> pixels;
  ALLOC_ARRAY(pixels, std::size_t(w) * h * 3, "unsigned char", "graphics.ogl");
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = PNG_FORMAT_RGB;
  // OpenGL's rows run bottom to top; a negative stride tells libpng so.
  if (!png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), -w * 3, nullptr))
    fatal(1, "Snapshot %s could not be written: %s\n", path.c_str(), image.message);
  SwapBuffers();
}

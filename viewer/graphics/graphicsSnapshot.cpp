// The first frame as a PNG file, for scripts and thumbnails.
#include "viewer/graphics/graphics.h"

#include "base/fatal.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <cstring>
#include <png.h>
#include <vector>

namespace {

// Reads the drawn frame, rows bottom to top as OpenGL gives them.
void ReadFrame(GLenum format, int channels, std::vector<unsigned char> &pixels) {
  ALLOC_ARRAY(pixels, std::size_t(window_width) * window_height * channels, "unsigned char",
              "graphics.ogl");
  glReadBuffer(OffscreenOpen() ? GL_COLOR_ATTACHMENT0 : GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, window_width, window_height, format, GL_UNSIGNED_BYTE, pixels.data());
}

void WritePng(const std::string &path, int w, int h, png_uint_32 format, int channels,
              const std::vector<unsigned char> &pixels, const char *failFormat) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = format;
  // OpenGL's rows run bottom to top; a negative stride tells libpng so.
  if (!png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), -w * channels, nullptr))
    fatal(1, failFormat, path.c_str(), image.message);
}

} // namespace

void WriteSnapshot(const std::string &path) {
  if (!DrawingOpen()) fatal(1, "Snapshot %s: there is no window to draw in\n", path.c_str());
  Redisplay();
  glFinish();
  int w = window_width, h = window_height;
  if (w <= 0 || h <= 0) fatal(1, "Snapshot %s: the window has no size\n", path.c_str());
  std::vector<unsigned char> pixels;
  ReadFrame(GL_RGB, 3, pixels);
  WritePng(path, w, h, PNG_FORMAT_RGB, 3, pixels, "Snapshot %s could not be written: %s\n");
  SwapBuffers();
}

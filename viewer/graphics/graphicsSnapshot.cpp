// The first frame as a PNG file, for scripts and thumbnails.
#include "viewer/graphics/graphics.h"

#include "base/fatal.h"
#include "viewer/graphics/graphicsMath.h"
#include "viewer/model/object.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <algorithm>
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

void WriteThumbnail(const std::string &path, int factor) {
  if (!OffscreenOpen() || !currentShape)
    fatal(1, "Thumbnail %s: there is no picture to draw in\n", path.c_str());
  factor = std::max(1, factor);
  int w = window_width / factor, h = window_height / factor;
  if (w <= 0 || h <= 0) fatal(1, "Thumbnail %s: the picture has no size\n", path.c_str());
  Shape &s = *currentShape;
  const Part &part = *s.part;
  // The object alone: at a thumbnail's size the ground's grids would only be noise around it.
  show_ground = 0;
  show_status = 0;
  show_help = 0;
  // Both sides drawn (the c key): an open surface seen from behind, or one wound the wrong way,
  // still shows; a closed one looks the same.
  s.cull_face = 0;
  SetCulling(0);
  ApplyView(s.view);
  double projection[16], zoom[3];
  glGetDoublev(GL_PROJECTION_MATRIX, projection);
  std::size_t count = std::min<std::size_t>(part.vertex_count, part.vertices.size());
  bool framed = part.facet_count > 0 &&
                FrameZoom(projection, part.model_matrix, part.vertices.data(), count, 0.9, zoom);
  if (framed) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glTranslated(-zoom[0] * zoom[1], -zoom[0] * zoom[2], 0);
    glScaled(zoom[0], zoom[0], 1);
    glMultMatrixd(projection);
    glMatrixMode(GL_MODELVIEW);
  }
  Redisplay();
  glFinish();
  std::vector<unsigned char> drawn, pixels;
  ReadFrame(GL_RGBA, 4, drawn);
  ALLOC_ARRAY(pixels, std::size_t(w) * h * 4, "unsigned char", "graphics.ogl");
  BoxDownsample(drawn.data(), window_width, window_height, factor, pixels.data());
  bool shown = false;
  for (std::size_t i = 3; i < pixels.size() && !shown; i += 4) shown = pixels[i] != 0;
  // A picture of nothing would stand for the file as if it were one: better the file manager's
  // own icon.
  if (!shown) fatal(1, "Thumbnail of %s: the object has nothing to show\n", objName.c_str());
  WritePng(path, w, h, PNG_FORMAT_RGBA, 4, pixels, "Thumbnail %s could not be written: %s\n");
}

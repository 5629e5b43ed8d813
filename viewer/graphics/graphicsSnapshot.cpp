// The first frame as a PNG file, for scripts and thumbnails.
#include "viewer/graphics/graphics.h"

#include "base/fatal.h"
#include "viewer/graphics/graphicsMath.h"
#include "viewer/graphics/pictureFile.h"
#include "viewer/model/object.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <png.h>
#include <unistd.h>
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
  // A picture is written once and read back rarely: speed over the last bytes of compression
  // (the pixels are the same either way).
  image.flags = PNG_IMAGE_FLAG_FAST;
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

void SavePicture() {
  if (!DrawingOpen() || !currentShape) return;
  // The picture as the window shows it, without the message of an earlier save.
  status_message.clear();
  Redisplay();
  glFinish();
  int w = window_width, h = window_height;
  std::vector<unsigned char> pixels;
  if (w > 0 && h > 0) ReadFrame(GL_RGB, 3, pixels);
  std::string folder = PicturesFolder(RealPictureSystem());
  std::string stem = PictureStem(objName), path, failure;
  FILE *file = nullptr;
  // Created only where no file is: an earlier picture, or anything else, is never replaced.
  for (int n = 1; n <= 100000 && !file; ++n) {
    path = (folder == "/" ? "" : folder) + "/" + PictureName(stem, n);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      file = fdopen(fd, "wb");
      if (!file) close(fd);
    } else if (errno != EEXIST) {
      break;
    }
  }
  if (!file) {
    failure = std::strerror(errno);
  } else {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = PNG_FORMAT_RGB;
    bool written =
        w > 0 && h > 0 && png_image_write_to_stdio(&image, file, 0, pixels.data(), -w * 3, nullptr);
    if (!written) failure = w > 0 && h > 0 ? image.message : "the window has no size";
    if (std::fclose(file) != 0 && written) written = false, failure = std::strerror(errno);
    // A picture cut short is ours to take back.
    if (!written) unlink(path.c_str());
  }
  if (failure.empty()) {
    status_message = "Picture saved as " + path;
    std::printf("%s\n", status_message.c_str());
    std::fflush(stdout);
  } else {
    status_message = "The picture could not be saved in " + folder + ": " + failure;
    std::fprintf(stderr, "%s\n", status_message.c_str());
  }
  Redisplay();
  SwapBuffers();
}

void WriteThumbnail(const std::string &path, int factor) {
  if (!OffscreenOpen() || !currentShape)
    fatal(1, "Thumbnail %s: there is no picture to draw in\n", path.c_str());
  factor = std::max(1, factor);
  int w = window_width / factor, h = window_height / factor;
  if (w <= 0 || h <= 0) fatal(1, "Thumbnail %s: the picture has no size\n", path.c_str());
  // The object alone, framed, turned, lit and culled as the first picture shows it: at a
  // thumbnail's size the ground's grids would only be noise around it.
  show_ground = 0;
  show_status = 0;
  show_help = 0;
  status_message.clear();
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

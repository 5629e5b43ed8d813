// Drawing without a window: whether an X display can show OpenGL at all, and the off-screen
// picture used where none can (a snapshot on a server, a thumbnail for a file manager).
//
// The picture is a framebuffer object in a desktop OpenGL context that Mesa makes on EGL's
// surfaceless platform, which needs neither a display nor a graphics device. The context has the
// compatibility profile, so the fixed-function calls, display lists and defaults the window uses
// work unchanged, and the program's OpenGL calls reach it through the same dispatch as they reach
// the window's context: the one made current last.
#include "viewer/graphics/graphics.h"

#include "base/fatal.h"

#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace {

EGLDisplay eglDisplay = EGL_NO_DISPLAY;
EGLContext eglContext = EGL_NO_CONTEXT;
GLuint framebuffer = 0, colourBuffer = 0, depthBuffer = 0;

// A display that does not answer (a remote host gone away) could keep XOpenDisplay waiting for
// minutes; past this the run goes on without it.
constexpr auto kDisplayWait = std::chrono::seconds(3);

bool HasWord(const char *list, const char *word) {
  if (!list) return false;
  std::size_t n = std::strlen(word);
  for (const char *p = list; (p = std::strstr(p, word)) != nullptr; p += n)
    if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return true;
  return false;
}

[[noreturn]] void Fail(const char *what) {
  unsigned error = static_cast<unsigned>(eglGetError());
  CloseOffscreen();
  fatal(1, "Off-screen drawing: %s (EGL error 0x%x)\n", what, error);
}

} // namespace

bool DisplayAvailable() {
  const char *name = std::getenv("DISPLAY");
  if (!name || !*name) return false;
  // The probe runs on a thread of its own so that a display that never answers costs a bounded
  // wait; such a thread is left behind, blocked, and ends with the process.
  struct Probe {
    std::mutex lock;
    std::condition_variable doneSignal;
    bool done = false, ok = false;
  };
  auto probe = std::make_shared<Probe>();
  std::string display(name);
  try {
    std::thread([probe, display] {
      bool ok = false;
      if (Display *d = XOpenDisplay(display.c_str())) {
        int errorBase, eventBase;
        ok = glXQueryExtension(d, &errorBase, &eventBase);
        XCloseDisplay(d);
      }
      std::lock_guard<std::mutex> hold(probe->lock);
      probe->done = true;
      probe->ok = ok;
      probe->doneSignal.notify_all();
    }).detach();
  } catch (const std::system_error &) {
    // No thread to be had: ask here, unbounded.
    Display *d = XOpenDisplay(display.c_str());
    if (!d) return false;
    int errorBase, eventBase;
    bool ok = glXQueryExtension(d, &errorBase, &eventBase);
    XCloseDisplay(d);
    return ok;
  }
  std::unique_lock<std::mutex> hold(probe->lock);
  probe->doneSignal.wait_for(hold, kDisplayWait, [&] { return probe->done; });
  return probe->done && probe->ok;
}

bool OffscreenOpen() {
  return eglContext != EGL_NO_CONTEXT;
}

void OpenOffscreen(int width, int height) {
  if (OffscreenOpen()) CloseOffscreen();
  const char *clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (!HasWord(clientExtensions, "EGL_MESA_platform_surfaceless"))
    fatal(1,
          "Off-screen drawing: EGL has no surfaceless platform (EGL_MESA_platform_surfaceless)\n");
  eglDisplay = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (eglDisplay == EGL_NO_DISPLAY) Fail("no surfaceless EGL display");
  EGLint major = 0, minor = 0;
  if (!eglInitialize(eglDisplay, &major, &minor)) {
    eglDisplay = EGL_NO_DISPLAY;
    Fail("EGL could not be initialised");
  }
  if (!eglBindAPI(EGL_OPENGL_API)) Fail("EGL offers no desktop OpenGL");
  // No surface is ever made: the context draws into the framebuffer object alone.
  EGLConfig config = nullptr;
  const char *extensions = eglQueryString(eglDisplay, EGL_EXTENSIONS);
  if (!HasWord(extensions, "EGL_KHR_surfaceless_context"))
    Fail("EGL cannot make a context current without a surface");
  if (!HasWord(extensions, "EGL_KHR_no_config_context")) {
    const EGLint want[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLint found = 0;
    if (!eglChooseConfig(eglDisplay, want, &config, 1, &found) || found < 1)
      Fail("no EGL configuration for desktop OpenGL");
  }
  const EGLint attributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                               EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
  eglContext = eglCreateContext(eglDisplay, config, EGL_NO_CONTEXT, attributes);
  if (eglContext == EGL_NO_CONTEXT) Fail("no OpenGL context with the compatibility profile");
  if (!eglMakeCurrent(eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, eglContext))
    Fail("the OpenGL context could not be made current");

  GLint largest = 0;
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &largest);
  if (width > largest || height > largest) {
    CloseOffscreen();
    fatal(1, "Off-screen drawing: a picture of %d x %d is larger than this OpenGL allows (%d)\n",
          width, height, static_cast<int>(largest));
  }
  glGenFramebuffers(1, &framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  glGenRenderbuffers(1, &colourBuffer);
  glBindRenderbuffer(GL_RENDERBUFFER, colourBuffer);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colourBuffer);
  glGenRenderbuffers(1, &depthBuffer);
  glBindRenderbuffer(GL_RENDERBUFFER, depthBuffer);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depthBuffer);
  GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  if (status != GL_FRAMEBUFFER_COMPLETE) {
    CloseOffscreen();
    fatal(1,
          "Off-screen drawing: the %d x %d picture could not be made (framebuffer status 0x%x)\n",
          width, height, static_cast<unsigned>(status));
  }
  glDrawBuffer(GL_COLOR_ATTACHMENT0);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
}

void CloseOffscreen() {
  if (eglContext != EGL_NO_CONTEXT) {
    // The buffers go with the context; deleting them first keeps the order of making them.
    if (framebuffer) {
      glBindFramebuffer(GL_FRAMEBUFFER, 0);
      glDeleteFramebuffers(1, &framebuffer);
      glDeleteRenderbuffers(1, &colourBuffer);
      glDeleteRenderbuffers(1, &depthBuffer);
    }
    eglMakeCurrent(eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(eglDisplay, eglContext);
  }
  if (eglDisplay != EGL_NO_DISPLAY) {
    eglTerminate(eglDisplay);
    eglReleaseThread();
  }
  framebuffer = colourBuffer = depthBuffer = 0;
  eglContext = EGL_NO_CONTEXT;
  eglDisplay = EGL_NO_DISPLAY;
}

// Render settings and their defaults, the window, and the OpenGL state built from the settings.
#include "viewer/graphics/graphics.h"

#include "base/fatal.h"
#include "viewer/graphics/graphicsMath.h"
#include "viewer/model/shape.h"
#include "viewer/model/object.h"

#include <GL/freeglut.h>
#include <GL/glu.h>
#include <algorithm>
#include <GL/glx.h>
#include <X11/Xutil.h>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <system_error>
#include <thread>

int show_status = 0;
int show_ground = 1;
int front_ccw = 1;
float trackball_matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
float spin_step[16] = {};
int window_width = 0, window_height = 0;
int current_list = 0;
ColorRGB shadow_color{0.3f, 0.3f, 0.3f};
ColorRGB edge_color{0, 1, 0};
ColorRGB normal_color{1, 1, 0};
bool spinning = false;
double list_compile_seconds = 0;
double list_compile_cpu_seconds = 0;
void (*spinStarted)() = nullptr;
int show_help = 0;
DrawingTarget drawing_target;
ViewFrame view_frame;

// OpenDrawing made the drawing that SetupGraphics goes on with.
static bool openedAhead = false;

void ResetRunSwitches() {
  show_status = 0;
  show_ground = 1;
  front_ccw = 1;
  drawing_target = DrawingTarget();
  openedAhead = false;
}

// The sanitizer's leak check, in a build that has one.
extern "C" void __lsan_do_leak_check() __attribute__((weak));

namespace {
constexpr std::size_t kTitleSize = 80;
bool glutStarted = false; // GLUT can be initialised once per process
int windowId = 0;         // the GLUT window, 0 when there is none
} // namespace

bool WindowOpen() {
  return windowId != 0;
}

bool DrawingOpen() {
  return windowId != 0 || OffscreenOpen();
}

ViewParams DefaultView() {
  ViewParams v;
  v.ref_point = Coord{0, 0, 0};
  v.eye_point = Coord{0, 0, 10};
  v.up_vector = Vector{0, 1, 0};
  v.view_normal[0] = 1.0f;
  v.view_normal[1] = 1.2f;
  v.view_normal[2] = 1.0f;
  v.far_offset = 5.0;
  v.near_offset = -10.0;
  v.window[0] = -2, v.window[1] = -2, v.window[2] = 2, v.window[3] = 2;
  return v;
}

static void DefaultLights(LightState &ls) {
  ls = LightState{};
  const int16_t on[4] = {0, 1, 1, 1};
  for (int i = 0; i < 4; ++i) {
    LightSource &l = ls.light[i];
    l.kind = static_cast<int16_t>(i + 1);
    l.color_model = GL_RGB;
    l.color = ColorRGB{1, 1, 1};
    ls.light_on[i] = on[i];
  }
  LightSource &dir = ls.light[1];
  dir.direction = Vector{-1, 0, 0};
  LightSource &pos = ls.light[2];
  pos.position = Coord{1, 2, 0.7f};
  pos.attenuation1 = 0;
  pos.attenuation2 = 0.5f;
  LightSource &spot = ls.light[3];
  spot.direction = Vector{0, 0, -1};
  spot.position = Coord{-2.5f, -0.5f, 2};
  spot.concentration = 0;
  spot.spread_angle = 1.5707964f;
  spot.attenuation1 = 0.5f;
  spot.attenuation2 = 0;
  // The on and off lists follow the flags, lights numbered 1 to 4.
  ls.on_count = ls.off_count = 0;
  for (int i = 0; i < 4; ++i) {
    if (ls.light_on[i])
      ls.on_list[ls.on_count++] = static_cast<int16_t>(i + 1);
    else
      ls.off_list[ls.off_count++] = static_cast<int16_t>(i + 1);
  }
}

int DefaultCulling(const Part &part) {
  return part.fronts_known ? GL_BACK : 0;
}

void InitRenderSettings() {
  Shape &s = *currentShape;
  s.polygon_mode = GL_FILL;
  s.shade_model = GL_SMOOTH;
  s.cull_face = DefaultCulling(*s.part);
  s.show_edges = 0;
  s.show_normals = 0;
  s.object_color = ColorRGB{1.0f, 0.2f, 0.5f};
  shadow_color = ColorRGB{0.3f, 0.3f, 0.3f};
  edge_color = ColorRGB{0, 1, 0};
  normal_color = ColorRGB{1, 1, 0};
  Part &p = *s.part;
  p.ambient_coef = 0.4f;
  p.ambient_color = ColorRGB{0.2f, 0.2f, 0.2f};
  p.diffuse_coef = 0.4f;
  p.diffuse_color = ColorRGB{1.0f, 0.2f, 0.5f};
  p.specular_coef = 1.0f;
  p.specular_power = 15.0f;
  p.specular_color = ColorRGB{1, 1, 1};
  p.transmission = 0.0f;
  s.view = DefaultView();
  DefaultLights(s.lights);
}

// Docks and task bars match a window to its desktop entry (and so to its icon) by the window's
// class, which GLUT leaves unset. The window is GLUT's current drawable once it is created; an
// off-screen context has no X window to name.
static void NameWindowClass() {
  Display *display = glXGetCurrentDisplay();
  GLXDrawable window = glXGetCurrentDrawable();
  if (!display || !window) return;
  char name[] = "mirandel", windowClass[] = "Mirandel";
  XClassHint hint{name, windowClass};
  XSetClassHint(display, window, &hint);
  XFlush(display);
}

// The window on the display, as GLUT makes it.
static void CreateGlutWindow() {
  if (!glutStarted) {
    // GLUT sees only the program's name, never our own command line.
    static char name[] = "Mirandel";
    static char *argv[] = {name, nullptr};
    int argc = 1;
    glutInit(&argc, argv);
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
    glutStarted = true;
  }
  int screenW = glutGet(GLUT_SCREEN_WIDTH);
  int screenH = glutGet(GLUT_SCREEN_HEIGHT);
  int w = static_cast<int>(screenW * (double(kDesignWidth) / kDesignScreenWidth));
  int h = static_cast<int>(screenH * (double(kDesignHeight) / kDesignScreenHeight));
  // A size asked for (--size) replaces the one from the screen; the window stays 10 pixels from
  // the bottom-right corner while it fits.
  if (drawing_target.width > 0 && drawing_target.height > 0) {
    w = drawing_target.width;
    h = drawing_target.height;
  }
  // The title is kept to 80 bytes with its terminator; a long name keeps its end.
  std::string title = FitLine("Mirandel: ", objName, kTitleSize);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowPosition(std::max(0, screenW - w - 10), std::max(0, screenH - h - 10));
  glutInitWindowSize(w, h);
  windowId = glutCreateWindow(title.c_str());
  NameWindowClass();
  glutSetWindowTitle(title.c_str());
  glutSetIconTitle("Mirandel");
  window_width = glutGet(GLUT_WINDOW_WIDTH);
  window_height = glutGet(GLUT_WINDOW_HEIGHT);
}

// The rasteriser's libraries (the OpenGL vendor library, the driver and its code generator) take
// a good part of the window's start-up to map and link. Loaded on another thread while the object
// is read, they are in place when the drawing asks for them by the same names: the start-up is
// that much shorter, and nothing else changes (a library that is not there is simply not loaded).
static std::thread warmUp;

void StartWarmUp() {
  if (warmUp.joinable()) return;
  const bool offscreen = drawing_target.offscreen;
  try {
    warmUp = std::thread([offscreen] {
      dlopen(offscreen ? "libEGL_mesa.so.0" : "libGLX_mesa.so.0", RTLD_NOW | RTLD_LOCAL);
      const char *dirs = std::getenv("LIBGL_DRIVERS_PATH");
      std::string dir = dirs && *dirs ? std::string(dirs).substr(0, std::string(dirs).find(':'))
                                      : std::string(MIRANDEL_DRI_DIR);
      dlopen((dir + "/swrast_dri.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    });
  } catch (const std::system_error &) {
  }
}

void FinishWarmUp() {
  if (warmUp.joinable()) warmUp.join();
}

static void OpenWindow() {
  FinishWarmUp();
  // The leak check runs now, before the graphics start, which also ends it for the process: the
  // graphics libraries keep allocations past exit in modules unloaded by then, which it can
  // neither attribute nor suppress, and its thread-stopping tracer has crashed at exit while the
  // software rasteriser's threads wound down. The same holds for the off-screen picture.
  if (__lsan_do_leak_check) __lsan_do_leak_check();
  if (drawing_target.offscreen) {
    // Never GLUT here: without a display it would end the run.
    int w = drawing_target.width > 0 ? drawing_target.width : kDesignWidth;
    int h = drawing_target.height > 0 ? drawing_target.height : kDesignHeight;
    OpenOffscreen(w, h);
    window_width = w;
    window_height = h;
  } else {
    CreateGlutWindow();
  }

  glClearColor(0, 0, 0, 0);
  glClearDepth(1.0);
  if (drawing_target.offscreen) {
    // One colour buffer, the framebuffer object's, already the draw buffer.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  } else {
    glDrawBuffer(GL_FRONT_AND_BACK);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDrawBuffer(GL_BACK);
  }
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_NORMALIZE);
}

static void LoadProjection(const double m[16]) {
  glViewport(0, 0, window_width, window_height);
  glMatrixMode(GL_PROJECTION);
  glLoadMatrixd(m);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void ApplyView(const ViewParams &view) {
  double m[16];
  ObjectProjection(view, view_frame, window_width, window_height, m);
  LoadProjection(m);
}

void ApplyGroundView() {
  double m[16];
  ViewProjection(DefaultView(), window_width, window_height, m);
  LoadProjection(m);
}

void ApplyEyeLight(const ViewParams &view) {
  float d[3];
  EyeDirection(view, d);
  const GLfloat position[4] = {d[0], d[1], d[2], 0};
  const GLfloat diffuse[4] = {kEyeLight, kEyeLight, kEyeLight, 1};
  const GLfloat none[4] = {0, 0, 0, 1};
  glLightfv(GL_LIGHT4, GL_POSITION, position);
  glLightfv(GL_LIGHT4, GL_DIFFUSE, diffuse);
  glLightfv(GL_LIGHT4, GL_SPECULAR, none);
  glLightfv(GL_LIGHT4, GL_AMBIENT, none);
  glEnable(GL_LIGHT4);
}

static void Color4(const ColorRGB &c, GLfloat out[4]) {
  out[0] = c.r, out[1] = c.g, out[2] = c.b, out[3] = 1;
}

void ApplyMaterial(const Part &part) {
  // Both sides carry the material: with two-sided drawing a facet seen from behind (a file wound
  // inconsistently) shows the object's own colours, not OpenGL's default grey.
  const GLenum faces = GL_FRONT_AND_BACK;
  GLfloat v[4];
  Color4(part.ambient_color, v);
  glMaterialfv(faces, GL_AMBIENT, v);
  Color4(part.diffuse_color, v);
  glMaterialfv(faces, GL_DIFFUSE, v);
  Color4(part.specular_color, v);
  glMaterialfv(faces, GL_SPECULAR, v);
  glMaterialf(faces, GL_SHININESS, part.specular_power);
  const GLfloat emission[4] = {0, 0, 0, 1};
  glMaterialfv(faces, GL_EMISSION, emission);
  glColorMaterial(faces, GL_DIFFUSE);
  glEnable(GL_COLOR_MATERIAL);
  int index = StippleIndex(part.transmission);
  if (index < 0) {
    glDisable(GL_POLYGON_STIPPLE);
  } else {
    GLubyte pattern[128];
    StipplePattern(index, pattern);
    glEnable(GL_POLYGON_STIPPLE);
    glPolygonStipple(pattern);
  }
}

void ApplyLights(const LightState &lights) {
  GLfloat v[4];
  const LightSource &amb = lights.light[0];
  Color4(amb.color, v);
  glLightfv(GL_LIGHT0, GL_AMBIENT, v);

  const LightSource &dir = lights.light[1];
  Color4(dir.color, v);
  glLightfv(GL_LIGHT1, GL_DIFFUSE, v);
  // A point light at the point its direction vector names (w = 1), not a light from infinitely
  // far along that direction.
  GLfloat p1[4] = {dir.direction.x, dir.direction.y, dir.direction.z, 1};
  glLightfv(GL_LIGHT1, GL_POSITION, p1);

  const LightSource &pos = lights.light[2];
  Color4(pos.color, v);
  glLightfv(GL_LIGHT2, GL_DIFFUSE, v);
  GLfloat p2[4] = {pos.position.x, pos.position.y, pos.position.z, 1};
  glLightfv(GL_LIGHT2, GL_POSITION, p2);
  glLightf(GL_LIGHT2, GL_CONSTANT_ATTENUATION, pos.attenuation1);
  glLightf(GL_LIGHT2, GL_LINEAR_ATTENUATION, pos.attenuation2);

  const LightSource &spot = lights.light[3];
  Color4(spot.color, v);
  glLightfv(GL_LIGHT3, GL_DIFFUSE, v);
  GLfloat p3[4] = {spot.position.x, spot.position.y, spot.position.z, 1};
  glLightfv(GL_LIGHT3, GL_POSITION, p3);
  GLfloat d3[3] = {spot.direction.x, spot.direction.y, spot.direction.z};
  glLightfv(GL_LIGHT3, GL_SPOT_DIRECTION, d3);
  glLightf(GL_LIGHT3, GL_SPOT_EXPONENT, spot.concentration);
  glLightf(GL_LIGHT3, GL_SPOT_CUTOFF,
           static_cast<GLfloat>(spot.spread_angle * 180 * 0.31830988619288864));
  glLightf(GL_LIGHT3, GL_CONSTANT_ATTENUATION, spot.attenuation1);
  glLightf(GL_LIGHT3, GL_LINEAR_ATTENUATION, spot.attenuation2);
}

void EnableLights(const LightState &lights) {
  for (int i = 0; i < 4; ++i)
    if (lights.light_on[i]) glEnable(GL_LIGHT0 + i);
  if (lights.on_count != 0) glEnable(GL_LIGHTING);
  for (int i = 0; i < 4; ++i)
    if (!lights.light_on[i]) glDisable(GL_LIGHT0 + i);
  if (lights.off_count == 4) glDisable(GL_LIGHTING);
}

void SetCulling(int face) {
  if (face == GL_BACK) {
    glEnable(GL_CULL_FACE);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 0);
  } else {
    glDisable(GL_CULL_FACE);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 1);
  }
}

void OpenDrawing() {
  OpenWindow();
  openedAhead = true;
}

void SetupGraphicsAgain() {
  ForgetSceneAhead();
  openedAhead = true;
  SetupGraphics();
}

void SetupGraphics() {
  Shape &s = *currentShape;
  if (!openedAhead) OpenWindow();
  openedAhead = false;
  current_list = top_id;
  if (verbose) {
    std::printf("top\tstructure id = %d\n", top_id);
    std::printf("empty\tstructure id = %d\n", empty_id);
    std::fflush(stdout);
  }
  const Part &part = *s.part;
  float placement[16];
  PlacementMatrix(part, placement);
  view_frame = FrameObject(s.view, placement, part.vertices.data(),
                           std::min<std::size_t>(part.vertex_count, part.vertices.size()));
  ApplyView(s.view);
  glColor3f(s.object_color.r, s.object_color.g, s.object_color.b);
  ApplyMaterial(*s.part);
  ApplyLights(s.lights);
  ApplyEyeLight(s.view);
  EnableLights(s.lights);
  glCullFace(GL_BACK);
  SetCulling(s.cull_face);
  glPolygonMode(GL_FRONT_AND_BACK, s.polygon_mode);
  glFrontFace(front_ccw == 1 ? GL_CCW : GL_CW);
  MatIdentity(trackball_matrix);
  spinning = false;

  BuildGroundList();
  AnnounceDeferredLists();
  AnnounceObjectList();
  current_list = object_id;
}

void ResetDisplay() {
  if (!currentShape) return;
  Shape &s = *currentShape;
  // The OpenGL side only exists with the window (or the off-screen picture); without it the
  // modes are still restored.
  bool gl = DrawingOpen();
  if (s.polygon_mode != GL_FILL) {
    s.polygon_mode = GL_FILL;
    if (gl) glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  }
  if (s.shade_model != 0) s.shade_model = GL_SMOOTH;
  if (s.show_normals == 1) {
    s.show_normals = 0;
    if (gl) RebuildWithNormals(0);
  }
  if (s.show_edges == 1) {
    s.show_edges = 0;
    if (gl) RebuildWithEdges(0);
  }
  int culling = DefaultCulling(*s.part);
  if (s.cull_face != culling) {
    s.cull_face = culling;
    if (gl) SetCulling(culling);
  }
  if (show_ground == 0) show_ground = 1;
  if (show_help == 1) show_help = 0;
  if (front_ccw == 0) {
    front_ccw = 1;
    if (gl) glFrontFace(GL_CCW);
  }
  MatIdentity(trackball_matrix);
  for (int i = 0; i < 4; ++i) s.view.window[i] = view_frame.window[i];
  if (gl) {
    Redisplay();
    SwapBuffers();
  }
}

void ToggleDisplayMode(char mode) {
  if (!currentShape) return;
  Shape &s = *currentShape;
  bool gl = DrawingOpen();
  switch (mode) {
  case 'w':
    s.polygon_mode = s.polygon_mode == GL_FILL ? GL_LINE : GL_FILL;
    if (gl) glPolygonMode(GL_FRONT_AND_BACK, s.polygon_mode);
    break;
  case 'f':
    // Redisplay applies the shade model every frame.
    s.shade_model = s.shade_model == GL_FLAT ? GL_SMOOTH : GL_FLAT;
    break;
  case 'e':
    s.show_edges = static_cast<int16_t>(1 - s.show_edges);
    if (gl) RebuildWithEdges(s.show_edges);
    break;
  case 'n':
    s.show_normals = static_cast<int16_t>(1 - s.show_normals);
    if (gl) RebuildWithNormals(s.show_normals);
    break;
  case 'c':
    s.cull_face = s.cull_face == GL_BACK ? 0 : GL_BACK;
    if (gl) SetCulling(s.cull_face);
    break;
  case 'g':
    show_ground = 1 - show_ground;
    break;
  case 'h':
    show_help = 1 - show_help;
    break;
  default:
    return;
  }
  if (gl) {
    Redisplay();
    SwapBuffers();
  }
}

void ReleaseAll() {
  ReleaseShape();
  ReleaseGraphics();
  show_ground = 1;
}

// Destroys the window or the off-screen picture if there is one (the lists go with its context)
// and ends a spin.
static void DestroyWindowIfOpen() {
  if (windowId != 0) {
    glutDestroyWindow(windowId);
    windowId = 0;
  }
  CloseOffscreen();
  spinning = false;
}

void ReleaseGraphics() {
  ReleaseLists();
  DestroyWindowIfOpen();
}

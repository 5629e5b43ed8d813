// One frame: the ground from the default view, the object under the trackball, the status and
// help text.
#include "viewer/graphics/graphics.h"

#include "viewer/graphics/graphicsMath.h"
#include "viewer/model/shape.h"
#include "viewer/model/object.h"

#include <GL/freeglut.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {
// The status lines are formatted into a buffer of 64 bytes; a long name keeps its end.
constexpr std::size_t kStatusSize = 64;

// The help text, below the status lines so both can show at once.
const char *const kHelpLines[] = {
    "Left drag: turn (let go while moving to spin)",
    "Middle or Shift + left drag: pan",
    "Right drag or wheel: zoom",
    "w: wireframe    f: flat shading",
    "e: edges    n: normals",
    "c: two-sided    g: ground",
    "s: status    h: this help",
    "p: save the picture",
    "r: reset    Esc: quit",
};
// The overlay fonts, largest first, with their line heights: a small window takes a smaller one.
void *const kFonts[] = {GLUT_BITMAP_HELVETICA_18, GLUT_BITMAP_HELVETICA_12,
                        GLUT_BITMAP_HELVETICA_10};
const int kSteps[] = {18, 14, 12};
constexpr int kFontCount = 3;
constexpr int kMargin = 5;

int TextPixels(int font, const std::string &text) {
  return glutBitmapLength(kFonts[font], reinterpret_cast<const unsigned char *>(text.c_str()));
}

// Projection and state for drawing in window pixels, and back.
void BeginOverlay() {
  glDisable(GL_LIGHTING);
  glDisable(GL_DEPTH_TEST);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0, window_width, 0, window_height, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
}

void EndOverlay() {
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_LIGHTING);
}

void DrawLine(int x, int y, int font, const std::string &text) {
  glColor3ub(0, 128, 255);
  glRasterPos2i(x, y);
  for (char c : text) glutBitmapCharacter(kFonts[font], static_cast<unsigned char>(c));
}

// The help's backdrop: dark enough that the text reads over any object.
void DrawBackdrop(int x0, int y0, int x1, int y1) {
  GLboolean stipple = glIsEnabled(GL_POLYGON_STIPPLE), cull = glIsEnabled(GL_CULL_FACE);
  glDisable(GL_POLYGON_STIPPLE);
  glDisable(GL_CULL_FACE);
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glColor4f(0.05f, 0.05f, 0.08f, 0.8f);
  glRecti(x0, y0, x1, y1);
  glDisable(GL_BLEND);
  glPolygonMode(GL_FRONT_AND_BACK, currentShape->polygon_mode);
  if (stipple) glEnable(GL_POLYGON_STIPPLE);
  if (cull) glEnable(GL_CULL_FACE);
}

// The status lines, the help and the last message, in one font that lets them fit the window.
void DrawOverlays(const Shape &s) {
  std::vector<std::string> status, help;
  if (show_status == 1) {
    const Part &p = *s.part;
    status.push_back(FitLine("Object: ", objName, kStatusSize));
    char buf[kStatusSize];
    std::snprintf(buf, sizeof buf, "%d vertices", static_cast<int>(p.vertex_count));
    status.push_back(buf);
    std::snprintf(buf, sizeof buf, "%d polygons", static_cast<int>(p.facet_count));
    status.push_back(buf);
  }
  if (show_help == 1) help.assign(std::begin(kHelpLines), std::end(kHelpLines));
  bool message = !status_message.empty();
  if (status.empty() && help.empty() && !message) return;
  std::vector<std::string> all(status);
  all.insert(all.end(), help.begin(), help.end());
  if (message) all.push_back(status_message);
  // A blank row between the status and the help, and between both and the message.
  int rows = static_cast<int>(all.size()) + (!status.empty() && !help.empty()) + message;
  int font = OverlayFont(all, rows, window_width, window_height, kSteps, kFontCount, TextPixels);
  int step = kSteps[font], room = window_width - 2 * kMargin;
  BeginOverlay();
  int y = window_height - kMargin - step;
  for (std::size_t i = 0; i < status.size(); ++i, y -= step)
    DrawLine(kMargin, y, font, CutToWidth(status[i], room, font, i == 0, TextPixels));
  if (!help.empty()) {
    if (!status.empty()) y -= step;
    int widest = 0;
    for (std::string &line : help) {
      line = CutToWidth(line, room, font, false, TextPixels);
      widest = std::max(widest, TextPixels(font, line));
    }
    int bottom = y - step * (static_cast<int>(help.size()) - 1);
    DrawBackdrop(0, std::max(0, bottom - step / 2), std::min(window_width, widest + 2 * kMargin),
                 std::min(window_height, y + step));
    for (const std::string &line : help) {
      DrawLine(kMargin, y, font, line);
      y -= step;
    }
  }
  if (message)
    DrawLine(kMargin, kMargin + step / 4, font,
             CutToWidth(status_message, room, font, true, TextPixels));
  EndOverlay();
}

} // namespace

std::string status_message;

void DrawText(int x, int y, const char *text) {
  BeginOverlay();
  DrawLine(x, y, 0, text);
  EndOverlay();
}

namespace {

bool sceneAhead = false;
int aheadWidth = 0, aheadHeight = 0;

void DrawScene(Shape &s, bool unsharedWithoutLists = false) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (show_ground == 1) {
    // The ground is always seen from the default view, whatever the pan and the framing.
    ApplyGroundView();
    glShadeModel(GL_SMOOTH);
    glCallList(ground_id);
  }
  ApplyView(s.view);
  glPushMatrix();
  glMultMatrixf(trackball_matrix);
  glMultMatrixf(view_frame.model);
  glShadeModel(s.shade_model);
  glColor3f(s.object_color.r, s.object_color.g, s.object_color.b);
  // Until its list is compiled the current list is the object's own.
  if (unsharedWithoutLists)
    DrawUnsharedObject(*s.part);
  else if (!DrawObjectUncompiled())
    glCallList(current_list);
  glPopMatrix();
}

} // namespace

void Redisplay() {
  if (!currentShape) return;
  Shape &s = *currentShape;
  const bool ahead = sceneAhead && window_width == aheadWidth && window_height == aheadHeight;
  sceneAhead = false;
  if (!ahead) DrawScene(s);
  DrawOverlays(s);
}

void DrawSceneAhead() {
  if (!currentShape) return;
  DrawScene(*currentShape, true);
  // The rasteriser's threads start on it now.
  glFlush();
  sceneAhead = true;
  aheadWidth = window_width;
  aheadHeight = window_height;
}

void ForgetSceneAhead() {
  sceneAhead = false;
}

void SwapBuffers() {
  if (WindowOpen()) glutSwapBuffers();
}

void OnDisplay() {
  Redisplay();
  SwapBuffers();
  // The first picture is on the screen; the frames after it call the list.
  EnsureObjectList();
}

void OnReshape(int, int) {
  // The next frame's ApplyView takes the new size into the viewport.
  window_width = glutGet(GLUT_WINDOW_WIDTH);
  window_height = glutGet(GLUT_WINDOW_HEIGHT);
}

// One frame: the ground from the default view, the object under the trackball, the status and
// help text.
#include "viewer/graphics/graphics.h"

#include "viewer/graphics/graphicsMath.h"
#include "viewer/model/shape.h"
#include "viewer/model/object.h"

#include <GL/freeglut.h>
#include <cstdio>
#include <cstring>

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
    "r: reset    Esc: quit",
};
constexpr int kHelpTop = 95; // first baseline, rows below the top edge
constexpr int kLineStep = 18;
} // namespace

void DrawText(int x, int y, const char *text) {
  glDisable(GL_LIGHTING);
  glDisable(GL_DEPTH_TEST);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0, window_width, 0, window_height, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glColor3ub(0, 128, 255);
  glRasterPos2i(x, y);
  for (const char *c = text; *c; ++c) glutBitmapCharacter(GLUT_BITMAP_HELVETICA_18, *c);
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_LIGHTING);
}

void Redisplay() {
  if (!currentShape) return;
  Shape &s = *currentShape;
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (show_ground == 1) {
    // The ground is always seen from the default view, whatever the pan.
    ApplyView(DefaultView());
    glShadeModel(GL_SMOOTH);
    glCallList(ground_id);
    ApplyView(s.view);
  }
  glPushMatrix();
  glMultMatrixf(trackball_matrix);
  glShadeModel(s.shade_model);
  glColor3f(s.object_color.r, s.object_color.g, s.object_color.b);
  // Until its list is compiled the current list is the object's own.
  if (!DrawObjectUncompiled()) glCallList(current_list);
  glPopMatrix();
  if (show_status == 1) {
    const Part &p = *s.part;
    std::string line = FitLine("Object: ", objName, kStatusSize);
    DrawText(5, window_height - 23, line.c_str());
    char buf[kStatusSize];
    std::snprintf(buf, sizeof buf, "%d vertices", static_cast<int>(p.vertex_count));
    DrawText(5, window_height - 41, buf);
    std::snprintf(buf, sizeof buf, "%d polygons", static_cast<int>(p.facet_count));
    DrawText(5, window_height - 59, buf);
  }
  if (show_help == 1) {
    int y = window_height - kHelpTop;
    for (const char *line : kHelpLines) {
      DrawText(5, y, line);
      y -= kLineStep;
    }
  }
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

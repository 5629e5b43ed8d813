// Mouse and keyboard: the trackball turn and spin, pan, zoom, and the keys.
#include "viewer/graphics/graphics.h"

#include "viewer/graphics/graphicsMath.h"
#include "viewer/model/shape.h"
#include "viewer/model/object.h"

#include <GL/freeglut.h>
#include <cmath>

int last_x = 0, last_y = 0;
int prev_x = 0, prev_y = 0;
float ball_point[3] = {0, 0, 0};

namespace {

// The button held down (GLUT_DOWN) or let go last, and which one.
int drag_state = -1, drag_button = -1;
// True once the current left drag has made a rotation step.
bool drag_rotated = false;

// One zoom step: a right-drag motion event or a notch of the wheel.
constexpr float kZoomIn = 1.05f, kZoomOut = 0.95f;
// The wheel comes through the mouse callback as two more buttons, each notch a press and a
// release.
constexpr int kWheelUp = 3, kWheelDown = 4;
// The horizontal wheel (tilting it, or a touchpad's sideways scroll) comes as the two after them.
constexpr int kWheelLeft = 5, kWheelRight = 6;

void PostRedisplay() {
  if (WindowOpen()) glutPostRedisplay();
}

void Remember(int x, int y) {
  prev_x = last_x;
  prev_y = last_y;
  last_x = x;
  last_y = y;
}

void EndDrag(int button, int x, int y) {
  Redisplay();
  SwapBuffers();
  if (ReleaseSpins(button, x, y)) {
    spinning = true;
    if (spinStarted) spinStarted();
  } else {
    StopSpin();
  }
}

} // namespace

void StartDrag(int x, int y) {
  last_x = prev_x = x;
  last_y = prev_y = y;
  BallProject(x, y, window_width, window_height, ball_point);
  drag_rotated = false;
}

void DragRotate(int x, int y) {
  float q[3];
  BallProject(x, y, window_width, window_height, q);
  const float *p = ball_point;
  float axis[3] = {p[1] * q[2] - p[2] * q[1], p[2] * q[0] - p[0] * q[2], p[0] * q[1] - p[1] * q[0]};
  float dx = q[0] - p[0], dy = q[1] - p[1], dz = q[2] - p[2];
  float angle = 90.0f * std::sqrt(dx * dx + dy * dy + dz * dz);
  RotationMatrix(axis[0], axis[1], axis[2], angle, spin_step);
  MatMultiply(trackball_matrix, spin_step, trackball_matrix);
  Remember(x, y);
  ball_point[0] = q[0], ball_point[1] = q[1], ball_point[2] = q[2];
  drag_rotated = true;
}

void DragPan(int x, int y) {
  // The frustum window moves against the pointer, so the object follows it, pixel for pixel
  // whatever its framing.
  const float step = static_cast<float>(PanStep(view_frame, window_width, window_height));
  float dx = (last_x - x) * step;
  float dy = (y - last_y) * step;
  if (currentShape) {
    float *w = currentShape->view.window;
    w[0] += dx, w[2] += dx;
    w[1] += dy, w[3] += dy;
    if (DrawingOpen()) ApplyView(currentShape->view);
  }
  Remember(x, y);
}

void ZoomBy(float factor) {
  float s[16];
  ScaleMatrix(factor, factor, factor, s);
  MatMultiply(trackball_matrix, s, trackball_matrix);
}

void DragZoom(int x, int y) {
  ZoomBy(y < last_y ? kZoomOut : kZoomIn);
  Remember(x, y);
}

bool ReleaseSpins(int button, int x, int y) {
  // Only a turn still moving in both directions keeps spinning; a release without a rotation
  // step in this drag has no step of its own to repeat (an earlier turn's, or all zeros).
  return button == 0 && x != prev_x && y != prev_y && drag_rotated;
}

void OnMouse(int button, int state, int x, int y, bool shift) {
  // Sideways scrolling has nothing to do here: it neither drags nor stops a spin.
  if (button == kWheelLeft || button == kWheelRight) return;
  if (state == GLUT_DOWN && !status_message.empty()) status_message.clear();
  if (button == kWheelUp || button == kWheelDown) {
    // A notch zooms and leaves any drag or spin as it is; away from the user brings it closer.
    if (state == GLUT_DOWN) {
      ZoomBy(button == kWheelUp ? kZoomIn : kZoomOut);
      PostRedisplay();
    }
    return;
  }
  if (button == GLUT_LEFT_BUTTON && shift) button = GLUT_MIDDLE_BUTTON;
  if (state == GLUT_DOWN)
    StartDrag(x, y);
  else if (state == GLUT_UP)
    EndDrag(button, x, y);
  drag_state = state;
  drag_button = button;
  PostRedisplay();
}

void OnMotion(int x, int y) {
  if (drag_state == GLUT_DOWN) {
    if (drag_button == GLUT_LEFT_BUTTON)
      DragRotate(x, y);
    else if (drag_button == GLUT_MIDDLE_BUTTON)
      DragPan(x, y);
    else if (drag_button == GLUT_RIGHT_BUTTON)
      DragZoom(x, y);
  }
  PostRedisplay();
}

void StopSpin() {
  spinning = false;
}

void OnVisibility(int) {
  StopSpin();
}

void OnSpin() {
  MatMultiply(trackball_matrix, spin_step, trackball_matrix);
  Redisplay();
  SwapBuffers();
}

bool OnKeyboard(unsigned char key, int, int) {
  // A message stays until the next key.
  if (key != 'p' && !status_message.empty()) {
    status_message.clear();
    PostRedisplay();
  }
  switch (key) {
  case 27:
    ReleaseAll();
    return true;
  case 'R':
  case 'r':
    ResetDisplay();
    break;
  case 's':
    show_status = 1 - show_status;
    Redisplay();
    SwapBuffers();
    break;
  case 'p':
    SavePicture();
    break;
  case 'w':
  case 'f':
  case 'e':
  case 'n':
  case 'c':
  case 'g':
  case 'h':
    ToggleDisplayMode(static_cast<char>(key));
    break;
  default:
    break;
  }
  return false;
}

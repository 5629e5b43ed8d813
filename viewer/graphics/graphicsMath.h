// Matrix, trackball and view arithmetic of the renderer, free of any window or OpenGL call.
#pragma once

#include "viewer/model/shape.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// 4 x 4 matrices are 16 floats in OpenGL's column-major order.
void MatIdentity(float m[16]);
// Reads both arrays row by row and forms P x Q into `d` (which may be p or q). As OpenGL matrices
// this is Q . P: the transformation of P acts first, then that of Q.
void MatMultiply(const float p[16], const float q[16], float d[16]);
// The rotation by `angle` degrees about (x, y, z); the axis is normalised unless it is (within
// 1e-30) unit already or zero. A zero axis is left as it is.
void RotationMatrix(float x, float y, float z, float angle, float m[16]);
void ScaleMatrix(float sx, float sy, float sz, float m[16]);
void TranslateMatrix(float tx, float ty, float tz, float m[16]);
// The Part's placement: translate, then rotate about x, y and z, then scale.
void PlacementMatrix(const Part &part, float m[16]);

// Maps a window position (origin top-left, y down) onto the unit trackball sphere.
void BallProject(int x, int y, int width, int height, float out[3]);

// One of the two tilt rotations of the view; `on` is false where the view_normal or up_vector
// leaves the angle or axis undefined.
struct Tilt {
  bool on = false;
  double angle = 0; // degrees
  double axis[3] = {0, 0, 0};
};
void ViewTilts(const ViewParams &view, Tilt &first, Tilt &second);
// Near and far plane distances of the view.
void ViewPlanes(const ViewParams &view, double &nearPlane, double &farPlane);

// The off-screen picture's size when none is asked for.
constexpr int kDesignWidth = 560, kDesignHeight = 525;
// The screen that size was chosen on: a new window takes the same share of its own screen.
constexpr int kDesignScreenWidth = 1024, kDesignScreenHeight = 768;
// The frustum window (xmin, ymin, xmax, ymax) for a viewport of `width` x `height` pixels: widened
// about its centre along the side that is relatively longer, so a window unit covers as many
// pixels across as down and nothing is stretched. A viewport without a size leaves it as it is.
void AspectWindow(const float window[4], int width, int height, double out[4]);
// The whole projection of `view` for the viewport (the frustum of its aspect window, the viewing
// transformation, the two tilts), column-major, in the order ApplyView multiplies them.
void ViewProjection(const ViewParams &view, int width, int height, double m[16]);
// The direction from the reference point towards the eye, in the scene's coordinates (before the
// viewing transformation and the tilts), unit length.
void EyeDirection(const ViewParams &view, float out[3]);

// The box (xlo, ylo, xhi, yhi) of `count` points in normalised device coordinates, taken through
// `model` and then `projection` (both column-major). False when no point is finite or one lies
// at or behind the eye.
bool ProjectedBox(const double projection[16], const float model[16], const Coord *points,
                  std::size_t count, double box[4]);

// How the first picture frames the object, whatever its size and place. `model` (applied under
// the trackball, over the placement) moves the centre of the placed object's box to the origin and
// scales its half diagonal to kFrameRadius, so it lies well inside the near and far planes; `box`
// is then its silhouette under the first view with the frustum window as it is, from which the
// zoom of every viewport follows. `window` is the first view's frustum window (the pan undone).
struct ViewFrame {
  float model[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  double box[4] = {0, 0, 0, 0};
  bool boxed = false;
  float window[4] = {-2, -2, 2, 2};
};
constexpr double kFrameRadius = 2.0;
// The share of the picture the silhouette fills along the side where it comes closest to the edge.
constexpr double kFrameFill = 0.85;
ViewFrame FrameObject(const ViewParams &view, const float placement[16], const Coord *points,
                      std::size_t count);
// The zoom of a viewport: (x - zoom[1]) * zoom[0] and (y - zoom[2]) * zoom[0] in normalised
// device coordinates put the silhouette in the middle, `fill` of the picture along its tighter
// side. Without a box: no zoom (1, 0, 0).
void FrameZoom(const ViewFrame &frame, int width, int height, double fill, double zoom[3]);
// The projection the object is drawn with: the zoom of FrameZoom over ViewProjection.
void ObjectProjection(const ViewParams &view, const ViewFrame &frame, int width, int height,
                      double m[16]);
// Frustum window units per pixel of a pan that keeps the object under the pointer.
double PanStep(const ViewFrame &frame, int width, int height);
// The length of the normal lines: a small share of the box diagonal of the points, so they read
// alike on every object; 0.2 for an object without size.
float NormalLineLength(const Coord *points, std::size_t count);

// Shrinks an RGBA picture `factor` times on each side (width / factor x height / factor): each
// pixel the mean of its factor x factor block, colours weighted by their opacity.
void BoxDownsample(const unsigned char *rgba, int width, int height, int factor,
                   unsigned char *out);

// The stipple pattern number for a transmission: -1 for none (opaque), else 0 to 16.
int StippleIndex(float transmission);
// The 32 x 32 bitmap of pattern `index` (0 to 16), 128 bytes.
void StipplePattern(int index, unsigned char out[128]);

// Overlay text. A text's width in pixels in font `font` (0 the largest).
using TextWidth = std::function<int(int font, const std::string &text)>;
// The largest of `fonts` fonts (line heights `steps`) in which `lines` fit a window of `width` x
// `height` with a margin of 5 pixels, `rows` lines high (blank rows between blocks included);
// the smallest when none fits.
int OverlayFont(const std::vector<std::string> &lines, int rows, int width, int height,
                const int *steps, int fonts, const TextWidth &widthOf);
// `text` cut to at most `room` pixels in `font`: its end kept behind "..." (a name, whose
// extension is there) or its start before "..."; as it is when it fits.
std::string CutToWidth(const std::string &text, int room, int font, bool keepEnd,
                       const TextWidth &widthOf);

// `prefix` followed by `name`, shortened to fit a buffer of `capacity` bytes (with its
// terminator): a long name keeps its end, where the extension is, behind "...".
std::string FitLine(const std::string &prefix, const std::string &name, std::size_t capacity);

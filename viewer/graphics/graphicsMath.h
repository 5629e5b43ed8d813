// Matrix, trackball and view arithmetic of the renderer, free of any window or OpenGL call.
#pragma once

#include "viewer/model/shape.h"

#include <cstddef>
#include <string>

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

// The window size the scene is composed for: there the frustum window is used as it is.
constexpr int kDesignWidth = 560, kDesignHeight = 525;
// The screen it was composed on: a new window takes the same share of its own screen.
constexpr int kDesignScreenWidth = 1024, kDesignScreenHeight = 768;
// The frustum window (xmin, ymin, xmax, ymax) for a window of `width` x `height` pixels. A window
// shaped otherwise than the design size widens it about its centre along the side that grew
// relatively longer, so the picture keeps the proportions it has at the design size and the
// object keeps its size along the shorter side. A window without a size leaves it as it is.
void AspectWindow(const float window[4], int width, int height, double out[4]);

// The zoom that frames `count` points, taken through `model` and then `projection` (column-major),
// in the picture: zoom[0] the scale and (zoom[1], zoom[2]) the centre, in normalised device
// coordinates, such that (x - centre) * scale maps the points' extent onto [-margin, margin]
// along its longer side. False when no point is finite or one lies at or behind the eye.
bool FrameZoom(const double projection[16], const float model[16], const Coord *points,
               std::size_t count, double margin, double zoom[3]);
// Shrinks an RGBA picture `factor` times on each side (width / factor x height / factor): each
// pixel the mean of its factor x factor block, colours weighted by their opacity.
void BoxDownsample(const unsigned char *rgba, int width, int height, int factor,
                   unsigned char *out);

// The stipple pattern number for a transmission: -1 for none (opaque), else 0 to 16.
int StippleIndex(float transmission);
// The 32 x 32 bitmap of pattern `index` (0 to 16), 128 bytes.
void StipplePattern(int index, unsigned char out[128]);

// `prefix` followed by `name`, shortened to fit a buffer of `capacity` bytes (with its
// terminator): a long name keeps its end, where the extension is, behind "...".
std::string FitLine(const std::string &prefix, const std::string &name, std::size_t capacity);

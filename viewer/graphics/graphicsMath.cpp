#include "viewer/graphics/graphicsMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Degrees to radians as the display lists take them, and radians to degrees as the view does.
constexpr double kDegToRad = 0.017453292519444445;
constexpr double kInvPi = 0.31830988619288864;

// Row bytes of the 17 stipple patterns; pattern k lets k of every 16 pixels through.
const unsigned char kStippleRows[17][4] = {
    {0x00, 0x00, 0x00, 0x00}, {0x88, 0x00, 0x00, 0x00}, {0x88, 0x00, 0x22, 0x00},
    {0xAA, 0x00, 0x22, 0x00}, {0xAA, 0x00, 0xAA, 0x00}, {0xAA, 0x44, 0xAA, 0x00},
    {0xAA, 0x44, 0xAA, 0x11}, {0xAA, 0x55, 0xAA, 0x11}, {0xAA, 0x55, 0xAA, 0x55},
    {0xEE, 0x55, 0xAA, 0x55}, {0xEE, 0x55, 0xBB, 0x55}, {0xFF, 0x55, 0xBB, 0x55},
    {0xFF, 0x55, 0xFF, 0x55}, {0xFF, 0xDD, 0xFF, 0x55}, {0xFF, 0xDD, 0xFF, 0x77},
    {0xFF, 0xFF, 0xFF, 0x77}, {0xFF, 0xFF, 0xFF, 0xFF},
};

} // namespace

void MatIdentity(float m[16]) {
  for (int i = 0; i < 16; ++i) m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

void MatMultiply(const float p[16], const float q[16], float d[16]) {
  float t[16];
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      float sum = 0;
      for (int k = 0; k < 4; ++k) sum += p[4 * r + k] * q[4 * k + c];
      t[4 * r + c] = sum;
    }
  std::memcpy(d, t, sizeof t);
}

void RotationMatrix(float ax, float ay, float az, float angle, float m[16]) {
  double x = ax, y = ay, z = az;
  double h = x * x + y * y + z * z;
  if (!(std::fabs(h - 1.0) < 1e-30)) {
    double f = h > 0 ? 1.0 / std::sqrt(h) : 1.0;
    x *= f, y *= f, z *= f;
  }
  double a = angle * kDegToRad;
  double c = std::cos(a), s = std::sin(a);
  for (int i = 0; i < 16; ++i) m[i] = 0;
  m[0] = static_cast<float>(x * x + c * (1 - x * x));
  m[5] = static_cast<float>(y * y + c * (1 - y * y));
  m[10] = static_cast<float>(z * z + c * (1 - z * z));
  m[1] = static_cast<float>((1 - c) * x * y + z * s);
  m[4] = static_cast<float>((1 - c) * x * y - z * s);
  m[2] = static_cast<float>((1 - c) * x * z - y * s);
  m[8] = static_cast<float>((1 - c) * x * z + y * s);
  m[6] = static_cast<float>((1 - c) * y * z + x * s);
  m[9] = static_cast<float>((1 - c) * y * z - x * s);
  m[15] = 1;
}

void ScaleMatrix(float sx, float sy, float sz, float m[16]) {
  MatIdentity(m);
  m[0] = sx, m[5] = sy, m[10] = sz;
}

void TranslateMatrix(float tx, float ty, float tz, float m[16]) {
  MatIdentity(m);
  m[12] = tx, m[13] = ty, m[14] = tz;
}

void PlacementMatrix(const Part &part, float m[16]) {
  MatIdentity(m);
  float t[16];
  if (part.scale_on) {
    ScaleMatrix(part.scale[0], part.scale[1], part.scale[2], t);
    MatMultiply(t, m, m);
  }
  if (part.rotate_on) {
    float rx[16], ry[16], rz[16];
    RotationMatrix(1, 0, 0, part.rotate[0], rx);
    RotationMatrix(0, 1, 0, part.rotate[1], ry);
    RotationMatrix(0, 0, 1, part.rotate[2], rz);
    MatMultiply(rx, ry, t);
    MatMultiply(t, rz, t);
    MatMultiply(t, m, m);
  }
  if (part.translate_on) {
    TranslateMatrix(part.translate[0], part.translate[1], part.translate[2], t);
    MatMultiply(t, m, m);
  }
}

void BallProject(int x, int y, int width, int height, float out[3]) {
  // A window that is not there yet counts as one pixel, so nothing divides by zero.
  double w = width > 0 ? width : 1, h = height > 0 ? height : 1;
  double px = (2.0 * x - w) / w;
  double py = (h - 2.0 * y) / h;
  double d = std::sqrt(px * px + py * py);
  if (d > 1.0) d = 1.0;
  double pz = std::cos(d * 1.5707963267948966);
  double l = px * px + py * py + pz * pz;
  if (!(std::fabs(l - 1.0) < 1e-30)) {
    double f = l > 0 ? 1.0 / std::sqrt(l) : 1.0;
    px *= f, py *= f, pz *= f;
  }
  out[0] = static_cast<float>(px);
  out[1] = static_cast<float>(py);
  out[2] = static_cast<float>(pz);
}

// arccos in degrees of num / den, or false where the quotient is undefined.
static bool AngleDegrees(double num, double den, double &degrees) {
  if (!(den > 1e-30) || !std::isfinite(num) || !std::isfinite(den)) return false;
  double q = num / den;
  // Rounding may carry a parallel pair just past 1.
  if (q > 1) q = 1;
  if (q < -1) q = -1;
  degrees = std::acos(q) * 180 * kInvPi;
  return true;
}

void ViewTilts(const ViewParams &view, Tilt &first, Tilt &second) {
  double ux = view.up_vector.x, uy = view.up_vector.y, uz = view.up_vector.z;
  double nx = view.view_normal[0], ny = view.view_normal[1], nz = view.view_normal[2];
  double ulen = std::sqrt(ux * ux + uy * uy + uz * uz);
  first = Tilt();
  second = Tilt();

  double a1;
  if (AngleDegrees(uy * ny + uz * nz, ulen * std::sqrt(ny * ny + nz * nz), a1)) {
    first.axis[0] = uy * nz - uz * ny;
    first.axis[1] = -ux * nz;
    first.axis[2] = ux * ny;
    double alen = std::sqrt(first.axis[0] * first.axis[0] + first.axis[1] * first.axis[1] +
                            first.axis[2] * first.axis[2]);
    // Up parallel to (0, Ny, Nz) gives no axis to turn about.
    first.on = alen > 1e-12;
    first.angle = 85.0 - a1;
  }
  double a2;
  if (AngleDegrees(uy * ny + ux * nx, ulen * std::sqrt(ny * ny + nx * nx), a2)) {
    second.on = true;
    second.angle = -a2;
    second.axis[1] = 1;
  }
}

void ViewPlanes(const ViewParams &view, double &nearPlane, double &farPlane) {
  double dx = double(view.eye_point.x) - view.ref_point.x;
  double dy = double(view.eye_point.y) - view.ref_point.y;
  double dz = double(view.eye_point.z) - view.ref_point.z;
  double d = std::sqrt(dx * dx + dy * dy + dz * dz);
  nearPlane = d + view.near_offset > 0 ? d + view.near_offset : 1.0;
  farPlane = d + view.far_offset + 5.0;
}

void AspectWindow(const float window[4], int width, int height, double out[4]) {
  for (int i = 0; i < 4; ++i) out[i] = window[i];
  if (width <= 0 || height <= 0) return;
  // The window's shape relative to the design shape, from two products of whole numbers (exact
  // in a double), so the design size itself gives exactly 1 and its picture stays as composed.
  double relative = (double(width) * kDesignHeight) / (double(height) * kDesignWidth);
  int lo = 0, hi = 2; // x
  double widen = relative;
  if (relative < 1) {
    lo = 1, hi = 3; // y
    widen = 1 / relative;
  } else if (!(relative > 1)) {
    return;
  }
  double centre = (out[lo] + out[hi]) * 0.5, half = (out[hi] - out[lo]) * 0.5 * widen;
  out[lo] = centre - half;
  out[hi] = centre + half;
}

int StippleIndex(float transmission) {
  if (std::fabs(transmission) < 1e-30f) return -1;
  // Values beyond the table take its nearest end.
  if (std::isnan(transmission)) return 16;
  double k = std::trunc(double(transmission) * 10);
  if (k < 0) return 0;
  if (k > 16) return 16;
  return static_cast<int>(k);
}

void StipplePattern(int index, unsigned char out[128]) {
  if (index < 0) index = 0;
  if (index > 16) index = 16;
  for (int row = 0; row < 32; ++row) std::memset(out + 4 * row, kStippleRows[index][row % 4], 4);
}

std::string FitLine(const std::string &prefix, const std::string &name, std::size_t capacity) {
  if (capacity == 0) return std::string();
  std::size_t room = capacity - 1;
  if (prefix.size() + name.size() <= room) return prefix + name;
  if (prefix.size() + 3 >= room) return prefix.substr(0, room);
  std::size_t keep = room - prefix.size() - 3;
  return prefix + "..." + name.substr(name.size() - keep);
}

bool FrameZoom(const double projection[16], const float model[16], const Coord *points,
               std::size_t count, double margin, double zoom[3]) {
  double lo[2] = {HUGE_VAL, HUGE_VAL}, hi[2] = {-HUGE_VAL, -HUGE_VAL};
  bool any = false;
  for (std::size_t i = 0; i < count; ++i) {
    const double v[4] = {points[i].x, points[i].y, points[i].z, 1};
    double e[4], c[4];
    for (int r = 0; r < 4; ++r)
      e[r] = model[r] * v[0] + model[4 + r] * v[1] + model[8 + r] * v[2] + model[12 + r] * v[3];
    for (int r = 0; r < 4; ++r)
      c[r] = projection[r] * e[0] + projection[4 + r] * e[1] + projection[8 + r] * e[2] +
             projection[12 + r] * e[3];
    if (!std::isfinite(c[0]) || !std::isfinite(c[1]) || !std::isfinite(c[3])) continue;
    // A point at or behind the eye has no place in the picture: no zoom can frame it.
    if (c[3] <= 0) return false;
    for (int k = 0; k < 2; ++k) {
      double n = c[k] / c[3];
      lo[k] = std::min(lo[k], n);
      hi[k] = std::max(hi[k], n);
    }
    any = true;
  }
  if (!any) return false;
  double half = std::max(hi[0] - lo[0], hi[1] - lo[1]) * 0.5;
  zoom[0] = half > 1e-12 ? margin / half : 1.0;
  zoom[1] = (lo[0] + hi[0]) * 0.5;
  zoom[2] = (lo[1] + hi[1]) * 0.5;
  return true;
}

void BoxDownsample(const unsigned char *rgba, int width, int height, int factor,
                   unsigned char *out) {
  int w = width / factor, h = height / factor;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      unsigned long sum[4] = {0, 0, 0, 0};
      for (int dy = 0; dy < factor; ++dy) {
        const unsigned char *p = rgba + 4 * ((std::size_t(y) * factor + dy) * width + x * factor);
        for (int dx = 0; dx < factor; ++dx, p += 4)
          for (int k = 0; k < 4; ++k) sum[k] += p[k];
      }
      unsigned char *o = out + 4 * (std::size_t(y) * w + x);
      // The drawn colours count by their coverage (the background is transparent black), so
      // an edge pixel keeps the object's colour and only its opacity falls.
      for (int k = 0; k < 3; ++k)
        o[k] =
            sum[3]
                ? static_cast<unsigned char>(std::min(255ul, (sum[k] * 255 + sum[3] / 2) / sum[3]))
                : 0;
      unsigned long n = static_cast<unsigned long>(factor) * factor;
      o[3] = static_cast<unsigned char>((sum[3] + n / 2) / n);
    }
}

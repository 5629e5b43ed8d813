#include "viewer/graphics/graphicsMath.h"

#include "base/beside.h"

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
  double across = out[2] - out[0], down = out[3] - out[1];
  if (!(across > 0) || !(down > 0)) return;
  // Pixels per unit across over those down; products of the sizes keep a square window on a
  // square viewport exactly as it is.
  double relative = (double(width) * down) / (double(height) * across);
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

namespace {

// Column-major 4 x 4 products in double precision: d = a . b (b acts first), d may be a or b.
void Mul(const double a[16], const double b[16], double d[16]) {
  double t[16];
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) {
      double sum = 0;
      for (int k = 0; k < 4; ++k) sum += a[4 * k + r] * b[4 * c + k];
      t[4 * c + r] = sum;
    }
  std::memcpy(d, t, sizeof t);
}

void Identity(double m[16]) {
  for (int i = 0; i < 16; ++i) m[i] = (i % 5 == 0) ? 1.0 : 0.0;
}

// The matrices of glFrustum, glRotated and gluLookAt.
void Frustum(double l, double r, double b, double t, double n, double f, double m[16]) {
  for (int i = 0; i < 16; ++i) m[i] = 0;
  m[0] = 2 * n / (r - l);
  m[5] = 2 * n / (t - b);
  m[8] = (r + l) / (r - l);
  m[9] = (t + b) / (t - b);
  m[10] = -(f + n) / (f - n);
  m[11] = -1;
  m[14] = -2 * f * n / (f - n);
}

void Rotation(double angle, const double axis[3], double m[16]) {
  double x = axis[0], y = axis[1], z = axis[2];
  double len = std::sqrt(x * x + y * y + z * z);
  Identity(m);
  if (!(len > 0)) return;
  x /= len, y /= len, z /= len;
  double a = angle * kDegToRad, c = std::cos(a), s = std::sin(a);
  m[0] = x * x * (1 - c) + c, m[4] = x * y * (1 - c) - z * s, m[8] = x * z * (1 - c) + y * s;
  m[1] = y * x * (1 - c) + z * s, m[5] = y * y * (1 - c) + c, m[9] = y * z * (1 - c) - x * s;
  m[2] = x * z * (1 - c) - y * s, m[6] = y * z * (1 - c) + x * s, m[10] = z * z * (1 - c) + c;
}

void Normalise(double v[3]) {
  double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (len > 0) v[0] /= len, v[1] /= len, v[2] /= len;
}

void LookAt(const ViewParams &view, double m[16]) {
  double f[3] = {double(view.ref_point.x) - view.eye_point.x,
                 double(view.ref_point.y) - view.eye_point.y,
                 double(view.ref_point.z) - view.eye_point.z};
  Normalise(f);
  const double up[3] = {view.up_vector.x, view.up_vector.y, view.up_vector.z};
  double s[3] = {f[1] * up[2] - f[2] * up[1], f[2] * up[0] - f[0] * up[2],
                 f[0] * up[1] - f[1] * up[0]};
  Normalise(s);
  const double u[3] = {s[1] * f[2] - s[2] * f[1], s[2] * f[0] - s[0] * f[2],
                       s[0] * f[1] - s[1] * f[0]};
  Identity(m);
  for (int k = 0; k < 3; ++k) {
    m[4 * k] = s[k];
    m[4 * k + 1] = u[k];
    m[4 * k + 2] = -f[k];
  }
  double t[16];
  Identity(t);
  t[12] = -view.eye_point.x, t[13] = -view.eye_point.y, t[14] = -view.eye_point.z;
  Mul(m, t, m);
}

// The viewing transformation and the tilts: everything of the projection but the frustum.
void ViewTransform(const ViewParams &view, double m[16]) {
  LookAt(view, m);
  Tilt first, second;
  ViewTilts(view, first, second);
  double r[16];
  if (first.on) {
    Rotation(first.angle, first.axis, r);
    Mul(m, r, m);
  }
  if (second.on) {
    Rotation(second.angle, second.axis, r);
    Mul(m, r, m);
  }
}

// The factors by which the viewport's aspect window is wider and taller than the frustum window.
void Widening(const float window[4], int width, int height, double &wx, double &wy) {
  double out[4];
  AspectWindow(window, width, height, out);
  double across = double(window[2]) - window[0], down = double(window[3]) - window[1];
  wx = across > 0 ? (out[2] - out[0]) / across : 1;
  wy = down > 0 ? (out[3] - out[1]) / down : 1;
}

} // namespace

void ViewProjection(const ViewParams &view, int width, int height, double m[16]) {
  double nearPlane, farPlane, w[4];
  ViewPlanes(view, nearPlane, farPlane);
  AspectWindow(view.window, width, height, w);
  Frustum(w[0] * 0.1, w[2] * 0.1, w[1] * 0.1, w[3] * 0.1, nearPlane, farPlane, m);
  double v[16];
  ViewTransform(view, v);
  Mul(m, v, m);
}

void EyeDirection(const ViewParams &view, float out[3]) {
  double v[16];
  ViewTransform(view, v);
  // The eye looks down -z; its rotation's transpose takes +z back into the scene.
  double d[3] = {v[2], v[6], v[10]};
  Normalise(d);
  for (int k = 0; k < 3; ++k) out[k] = static_cast<float>(d[k]);
}

// Passes over fewer points than this stay on one thread.
static constexpr std::size_t kHalvesFrom = std::size_t(1) << 18;

bool ProjectedBox(const double projection[16], const float model[16], const Coord *points,
                  std::size_t count, double box[4]) {
  double pm[16], md[16];
  for (int i = 0; i < 16; ++i) md[i] = model[i];
  Mul(projection, md, pm);
  struct Half {
    double lo[2] = {HUGE_VAL, HUGE_VAL}, hi[2] = {-HUGE_VAL, -HUGE_VAL};
    bool any = false, behind = false;
  } half[2];
  // Each half gathers in its own locals and stores once: the two halves' records share a cache
  // line, and a store per point from both threads made the pass many times slower.
  InHalves(count, kHalvesFrom, [&](int h, std::size_t begin, std::size_t end) {
    Half r;
    for (std::size_t i = begin; i < end; ++i) {
      const double v[3] = {points[i].x, points[i].y, points[i].z};
      double c[4];
      for (int k = 0; k < 4; ++k)
        c[k] = pm[k] * v[0] + pm[4 + k] * v[1] + pm[8 + k] * v[2] + pm[12 + k];
      if (!std::isfinite(c[0]) || !std::isfinite(c[1]) || !std::isfinite(c[3])) continue;
      // A point at or behind the eye has no place in the picture.
      if (c[3] <= 0) {
        r.behind = true;
        break;
      }
      for (int k = 0; k < 2; ++k) {
        double n = c[k] / c[3];
        r.lo[k] = std::min(r.lo[k], n);
        r.hi[k] = std::max(r.hi[k], n);
      }
      r.any = true;
    }
    half[h] = r;
  });
  if (half[0].behind || half[1].behind || !(half[0].any || half[1].any)) return false;
  // The lower half first, as one pass would have met them.
  for (int k = 0; k < 2; ++k) {
    box[k] = std::min(half[0].lo[k], half[1].lo[k]);
    box[2 + k] = std::max(half[0].hi[k], half[1].hi[k]);
  }
  return true;
}

ViewFrame FrameObject(const ViewParams &view, const float placement[16], const Coord *points,
                      std::size_t count) {
  ViewFrame frame;
  for (int i = 0; i < 4; ++i) frame.window[i] = view.window[i];
  // The placed box, in double: a far-off object must not lose its size to its distance.
  double halfLo[2][3], halfHi[2][3];
  InHalves(count, kHalvesFrom, [&](int h, std::size_t begin, std::size_t end) {
    // Locals, stored once (see ProjectedBox).
    double lo[3], hi[3];
    for (int r = 0; r < 3; ++r) lo[r] = HUGE_VAL, hi[r] = -HUGE_VAL;
    for (std::size_t i = begin; i < end; ++i) {
      const double v[3] = {points[i].x, points[i].y, points[i].z};
      double x[3];
      for (int r = 0; r < 3; ++r)
        x[r] = placement[r] * v[0] + placement[4 + r] * v[1] + placement[8 + r] * v[2] +
               placement[12 + r];
      // A point without a place is no part of the box.
      if (!std::isfinite(x[0]) || !std::isfinite(x[1]) || !std::isfinite(x[2])) continue;
      for (int r = 0; r < 3; ++r) lo[r] = std::min(lo[r], x[r]), hi[r] = std::max(hi[r], x[r]);
    }
    for (int r = 0; r < 3; ++r) halfLo[h][r] = lo[r], halfHi[h][r] = hi[r];
  });
  double lo[3], hi[3];
  for (int r = 0; r < 3; ++r)
    lo[r] = std::min(halfLo[0][r], halfLo[1][r]), hi[r] = std::max(halfHi[0][r], halfHi[1][r]);
  if (!(lo[0] <= hi[0])) return frame;
  double centre[3], half = 0;
  for (int r = 0; r < 3; ++r) {
    centre[r] = (lo[r] + hi[r]) * 0.5;
    half += (hi[r] - lo[r]) * (hi[r] - lo[r]);
  }
  half = std::sqrt(half) * 0.5;
  double k = half > 0 && std::isfinite(kFrameRadius / half) ? kFrameRadius / half : 1.0;
  // model = scale(k) . translate(-centre) . placement
  double m[16], p[16];
  Identity(m);
  m[0] = m[5] = m[10] = k;
  for (int r = 0; r < 3; ++r) m[12 + r] = -k * centre[r];
  for (int i = 0; i < 16; ++i) p[i] = placement[i];
  double full[16];
  Mul(m, p, full);
  for (int i = 0; i < 16; ++i) frame.model[i] = static_cast<float>(m[i]);
  double projection[16];
  ViewProjection(view, 0, 0, projection);
  float fullf[16];
  for (int i = 0; i < 16; ++i) fullf[i] = static_cast<float>(full[i]);
  frame.boxed = ProjectedBox(projection, fullf, points, count, frame.box);
  return frame;
}

void FrameZoom(const ViewFrame &frame, int width, int height, double fill, double zoom[3]) {
  zoom[0] = 1, zoom[1] = 0, zoom[2] = 0;
  if (!frame.boxed) return;
  double wx, wy;
  Widening(frame.window, width, height, wx, wy);
  // A wider frustum window shrinks every x (or y) in the picture by as much.
  double lx = frame.box[0] / wx, hx = frame.box[2] / wx;
  double ly = frame.box[1] / wy, hy = frame.box[3] / wy;
  double half = std::max(hx - lx, hy - ly) * 0.5;
  zoom[0] = half > 1e-12 ? fill / half : 1.0;
  zoom[1] = (lx + hx) * 0.5;
  zoom[2] = (ly + hy) * 0.5;
}

void ObjectProjection(const ViewParams &view, const ViewFrame &frame, int width, int height,
                      double m[16]) {
  double zoom[3], z[16];
  FrameZoom(frame, width, height, kFrameFill, zoom);
  Identity(z);
  z[0] = z[5] = zoom[0];
  z[12] = -zoom[0] * zoom[1];
  z[13] = -zoom[0] * zoom[2];
  ViewProjection(view, width, height, m);
  Mul(z, m, m);
}

double PanStep(const ViewFrame &frame, int width, int height) {
  if (width <= 0 || height <= 0) return 0.005;
  double out[4], zoom[3];
  AspectWindow(frame.window, width, height, out);
  FrameZoom(frame, width, height, kFrameFill, zoom);
  return (out[2] - out[0]) / width / zoom[0];
}

float NormalLineLength(const Coord *points, std::size_t count) {
  double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (std::size_t i = 0; i < count; ++i) {
    const double v[3] = {points[i].x, points[i].y, points[i].z};
    if (!std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2])) continue;
    for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], v[k]), hi[k] = std::max(hi[k], v[k]);
  }
  if (!(lo[0] <= hi[0])) return 0.2f;
  double d = 0;
  for (int k = 0; k < 3; ++k) d += (hi[k] - lo[k]) * (hi[k] - lo[k]);
  d = std::sqrt(d);
  return d > 0 && std::isfinite(d) ? static_cast<float>(0.03 * d) : 0.2f;
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

int OverlayFont(const std::vector<std::string> &lines, int rows, int width, int height,
                const int *steps, int fonts, const TextWidth &widthOf) {
  for (int f = 0; f < fonts; ++f) {
    bool fits = 10 + rows * steps[f] <= height;
    for (std::size_t i = 0; fits && i < lines.size(); ++i)
      fits = 10 + widthOf(f, lines[i]) <= width;
    if (fits) return f;
  }
  return fonts > 0 ? fonts - 1 : 0;
}

std::string CutToWidth(const std::string &text, int room, int font, bool keepEnd,
                       const TextWidth &widthOf) {
  if (widthOf(font, text) <= room) return text;
  // Longest first: the first that fits is kept.
  for (std::size_t keep = text.size(); keep-- > 0;) {
    std::string cut =
        keepEnd ? "..." + text.substr(text.size() - keep) : text.substr(0, keep) + "...";
    if (widthOf(font, cut) <= room) return cut;
  }
  return std::string();
}

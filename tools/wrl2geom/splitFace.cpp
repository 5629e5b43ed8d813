#include "splitFace.h"

#include <algorithm>
#include <cmath>

namespace wrl2geom {
namespace {

// A face counts as flat when no corner lies further from its plane than this share of its size:
// a flat face written with few decimals is a little uneven, and a bend that small does not show.
constexpr double kFlat = 1e-3;
// Areas (and turns) below this share of the squared size are rounding noise: straight corners
// and slivers of no area.
constexpr double kNoise = 1e-12;

struct V3 {
  double x, y, z;
};
double Dot(const V3 &a, const V3 &b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
V3 Cross(const V3 &a, const V3 &b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
bool operator==(const V3 &a, const V3 &b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

struct V2 {
  double x, y;
};
// Twice the signed area of the triangle a, b, c: positive when it turns counter-clockwise.
double Area2(const V2 &a, const V2 &b, const V2 &c) {
  return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

// The face's corners in its plane, counter-clockwise there, as a ring that loses corners as ears
// are cut off. The corners that are not convex, the only ones that can lie inside an ear, are
// kept in a grid so that a large face's ears are tested against their neighbourhood only.
class Ring {
public:
  Ring(std::vector<V2> q, double eps) : q_(std::move(q)), eps_(eps) {
    int m = int(q_.size());
    prev_.resize(std::size_t(m));
    next_.resize(std::size_t(m));
    for (int k = 0; k < m; ++k) {
      prev_[std::size_t(k)] = (k + m - 1) % m;
      next_[std::size_t(k)] = (k + 1) % m;
    }
    alive_.assign(std::size_t(m), 1);
    notConvex_.assign(std::size_t(m), 0);
    double lo[2] = {q_[0].x, q_[0].y}, hi[2] = {q_[0].x, q_[0].y};
    int count = 0;
    for (int k = 0; k < m; ++k) {
      const V2 &p = q_[std::size_t(k)];
      lo[0] = std::min(lo[0], p.x), hi[0] = std::max(hi[0], p.x);
      lo[1] = std::min(lo[1], p.y), hi[1] = std::max(hi[1], p.y);
      if (Turn(k) <= eps_) ++count;
    }
    side_ = std::max(1, std::min(256, int(std::sqrt(double(count)))));
    x0_ = lo[0], y0_ = lo[1];
    cellW_ = (hi[0] - lo[0]) / side_, cellH_ = (hi[1] - lo[1]) / side_;
    cells_.resize(std::size_t(side_) * std::size_t(side_));
    for (int k = 0; k < m; ++k) Mark(k);
  }

  int prev(int k) const { return prev_[std::size_t(k)]; }
  int next(int k) const { return next_[std::size_t(k)]; }

  // Twice the area of the triangle that k makes with its neighbours.
  double Turn(int k) const { return Area2(at(prev(k)), at(k), at(next(k))); }

  void Remove(int k) {
    alive_[std::size_t(k)] = 0;
    next_[std::size_t(prev(k))] = next(k);
    prev_[std::size_t(next(k))] = prev(k);
    Mark(prev(k));
    Mark(next(k));
  }

  // Whether no corner that is not convex lies in or on the triangle that k makes with its
  // neighbours; a corner in the same place as one of the three does not count (a face reaching
  // its hole through a slit passes the slit's ends twice). Each corner looked at is charged to
  // `work`.
  bool IsEar(int k, long &work) const {
    int a = prev(k), c = next(k);
    const V2 &pa = at(a), &pb = at(k), &pc = at(c);
    double lx = std::min({pa.x, pb.x, pc.x}), hx = std::max({pa.x, pb.x, pc.x});
    double ly = std::min({pa.y, pb.y, pc.y}), hy = std::max({pa.y, pb.y, pc.y});
    int cx1 = Cell(hx, x0_, cellW_), cy1 = Cell(hy, y0_, cellH_);
    for (int cy = Cell(ly, y0_, cellH_); cy <= cy1; ++cy)
      for (int cx = Cell(lx, x0_, cellW_); cx <= cx1; ++cx) {
        const std::vector<int> &cell =
            cells_[std::size_t(cy) * std::size_t(side_) + std::size_t(cx)];
        work -= 1 + long(cell.size());
        for (int r : cell) {
          if (!alive_[std::size_t(r)] || !notConvex_[std::size_t(r)] || r == a || r == k || r == c)
            continue;
          const V2 &p = at(r);
          if (p.x < lx || p.x > hx || p.y < ly || p.y > hy) continue;
          if (Same(p, pa) || Same(p, pb) || Same(p, pc)) continue;
          if (Area2(pa, pb, p) >= 0 && Area2(pb, pc, p) >= 0 && Area2(pc, pa, p) >= 0) return false;
        }
      }
    return true;
  }

private:
  std::vector<V2> q_;
  double eps_;
  std::vector<int> prev_, next_;
  std::vector<char> alive_, notConvex_;
  int side_ = 1;
  double x0_ = 0, y0_ = 0, cellW_ = 0, cellH_ = 0;
  std::vector<std::vector<int>> cells_;

  const V2 &at(int k) const { return q_[std::size_t(k)]; }
  static bool Same(const V2 &a, const V2 &b) { return a.x == b.x && a.y == b.y; }

  int Cell(double v, double origin, double width) const {
    double d = width > 0 ? (v - origin) / width : 0;
    if (!(d > 0)) return 0;
    return d >= side_ ? side_ - 1 : int(d);
  }

  // Re-judges k after its neighbours changed; a corner that stops being convex joins the grid.
  void Mark(int k) {
    bool notConvex = Turn(k) <= eps_;
    if (notConvex && !notConvex_[std::size_t(k)])
      cells_[std::size_t(Cell(at(k).y, y0_, cellH_)) * std::size_t(side_) +
             std::size_t(Cell(at(k).x, x0_, cellW_))]
          .push_back(k);
    notConvex_[std::size_t(k)] = notConvex;
  }
};

} // namespace

void SplitFace(const std::vector<double> &xyz, const int *corner, std::size_t n,
               std::vector<int> &sizes, std::vector<int> &indices, long &work) {
  auto asItIs = [&] {
    sizes.push_back(int(n));
    indices.insert(indices.end(), corner, corner + n);
  };
  if (n <= 3) return asItIs();

  // Positions from the first corner on, so that a small face far from the origin keeps its
  // digits.
  const double *o = &xyz[3 * std::size_t(corner[0])];
  std::vector<V3> p(n);
  V3 lo{0, 0, 0}, hi{0, 0, 0};
  for (std::size_t i = 0; i < n; ++i) {
    const double *c = &xyz[3 * std::size_t(corner[i])];
    p[i] = {c[0] - o[0], c[1] - o[1], c[2] - o[2]};
    lo = {std::min(lo.x, p[i].x), std::min(lo.y, p[i].y), std::min(lo.z, p[i].z)};
    hi = {std::max(hi.x, p[i].x), std::max(hi.y, p[i].y), std::max(hi.z, p[i].z)};
  }
  V3 extent{hi.x - lo.x, hi.y - lo.y, hi.z - lo.z};
  double size2 = Dot(extent, extent), eps = kNoise * size2;

  // The face's normal by Newell's sums (twice its vector area), which every corner steers and
  // which a bent or concave face has as well as a flat convex one.
  V3 normal{0, 0, 0};
  for (std::size_t i = 0; i < n; ++i) {
    const V3 &a = p[i], &b = p[(i + 1) % n];
    normal.x += (a.y - b.y) * (a.z + b.z);
    normal.y += (a.z - b.z) * (a.x + b.x);
    normal.z += (a.x - b.x) * (a.y + b.y);
  }
  double length = std::sqrt(Dot(normal, normal));
  if (!(length > eps)) return asItIs();
  V3 axis{normal.x / length, normal.y / length, normal.z / length};
  V3 u = Cross(axis, std::fabs(axis.x) < 0.9 ? V3{1, 0, 0} : V3{0, 1, 0});
  double ul = std::sqrt(Dot(u, u));
  u = {u.x / ul, u.y / ul, u.z / ul};
  V3 v = Cross(axis, u); // u, v, axis turn right-handed: the face winds counter-clockwise in u, v

  // Flat: every corner near the plane through the corners' mean with that normal.
  double mean = 0, off = 0;
  for (const V3 &c : p) mean += Dot(c, axis);
  mean /= double(n);
  for (const V3 &c : p) off = std::max(off, std::fabs(Dot(c, axis) - mean));
  bool flat = off <= kFlat * std::sqrt(size2);

  // The ring of places: a corner that repeats the one before it adds nothing.
  std::vector<std::size_t> slot;
  for (std::size_t i = 0; i < n; ++i)
    if (slot.empty() || !(p[i] == p[slot.back()])) slot.push_back(i);
  while (slot.size() > 1 && p[slot.back()] == p[slot.front()]) slot.pop_back();
  std::size_t m = slot.size();
  if (m < 3) return asItIs();
  std::vector<V2> q(m);
  for (std::size_t k = 0; k < m; ++k) q[k] = {Dot(p[slot[k]], u), Dot(p[slot[k]], v)};

  // Convex: no corner turns back, and the edges turn round once (not twice, as a star's do).
  if (flat) {
    bool convex = true;
    double turning = 0;
    for (std::size_t k = 0; k < m && convex; ++k) {
      const V2 &a = q[(k + m - 1) % m], &b = q[k], &c = q[(k + 1) % m];
      double t = Area2(a, b, c);
      convex = t >= -eps;
      turning += std::atan2(t, (b.x - a.x) * (c.x - b.x) + (b.y - a.y) * (c.y - b.y));
    }
    if (convex && turning < 3 * std::acos(-1.0)) return asItIs();
  }

  // Ear clipping, each triangle in the ring's order and so in the face's winding. The first ear
  // tried is corner 1's, so that a bent quadrilateral becomes 0 1 2 and 0 2 3.
  std::size_t sizesBefore = sizes.size(), indicesBefore = indices.size();
  auto emit = [&](int a, int b, int c) {
    sizes.push_back(3);
    for (int k : {a, b, c}) indices.push_back(corner[slot[std::size_t(k)]]);
  };
  Ring ring(std::move(q), eps);
  int count = int(m), k = 1, stall = 0;
  bool relaxed = false, spent = false;
  while (count > 3) {
    if (--work < 0) {
      spent = true;
      break;
    }
    int a = ring.prev(k), c = ring.next(k);
    double t = ring.Turn(k);
    if (std::fabs(t) <= eps) { // a straight corner or a spike: no area is lost without it
      ring.Remove(k);
      --count, k = a, stall = 0;
      continue;
    }
    if (t > 0 && (relaxed || ring.IsEar(k, work))) {
      emit(a, k, c);
      ring.Remove(k);
      --count, k = c, stall = 0, relaxed = false;
      continue;
    }
    k = ring.next(k);
    if (++stall >= count) {
      // A whole round without an ear: rounding, or a face that crosses itself. Cut the next
      // corner that turns the face's way regardless; when none does, what is left has no area
      // of its own.
      if (relaxed) break;
      relaxed = true, stall = 0;
    }
  }
  if (spent && count < int(m)) {
    // Out of effort: what is left stays one polygon, starting so that its first corners turn
    // its way, which is how the viewer finds its normal. (Out of effort before anything was cut
    // off, the face stays as it is, below.)
    for (int i = 0; i < count && !(ring.Turn(ring.next(k)) > eps); ++i) k = ring.next(k);
    sizes.push_back(count);
    for (int i = 0; i < count; ++i, k = ring.next(k))
      indices.push_back(corner[slot[std::size_t(k)]]);
  } else if (!spent && count == 3 && ring.Turn(k) > eps) {
    emit(ring.prev(k), k, ring.next(k));
  }
  if (indices.size() == indicesBefore) {
    sizes.resize(sizesBefore);
    asItIs(); // nothing came of it: the face is not lost
  }
}

} // namespace wrl2geom

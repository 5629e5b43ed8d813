#include "viewer/aoff/readAOFFObj.h"

#include "base/fatal.h"
#include "viewer/model/normalsObj.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

static const char *kModule = "formatObj";

namespace {

float ToFloat(double d) {
  if (d > FLT_MAX) return HUGE_VALF;
  if (d < -FLT_MAX) return -HUGE_VALF;
  return static_cast<float>(d);
}

// Three values of one record as 32-bit floats, whatever their letters.
template <class T> T Triple(const AOFFValue &v, uint32_t record) {
  return T{ToFloat(v.Number(record, 0)), ToFloat(v.Number(record, 1)),
           ToFloat(v.Number(record, 2))};
}

template <class T> void Records(const AOFFValue &v, std::vector<T> &out, const char *type) {
  ALLOC_ARRAY(out, v.records, type, kModule);
  static_assert(sizeof(T) == 12, "three floats");
  if (v.layout.letters == "fff" && v.bytes.size() >= std::size_t(v.records) * 12) {
    if (v.records) std::memcpy(out.data(), v.bytes.data(), std::size_t(v.records) * 12);
    return;
  }
  for (uint32_t r = 0; r < v.records; ++r) out[r] = Triple<T>(v, r);
}

void Unsupported(const AOFFProp &p) {
  warn("Unsupported type\n");
  warn("AOFFProp Name: %s\n", p.name.c_str());
  warn("AOFFProp Type: %d\n", p.kind);
}

float First(const AOFFProp &p) {
  return ToFloat(p.value.Number(0, 0));
}

void LightOn(const AOFFProp &p, LightState &lights, int which) {
  if (p.value.Number(0, 0) == 1.0) lights.light_on[which] = 1;
}

Vector Direction(const AOFFProp &p) {
  Vector d = Triple<Vector>(p.value, 0);
  NormalizeVector(d);
  return d;
}

// Where a supplied array came from, so that a size mismatch can name its file.
struct Supplied {
  std::string file;
  bool pendingDefault = false; // a "default" colour still to be spread over the final count
  ColorRGB color{};
};

// An object left without geometry (none in the header, or of a kind not taken) has nothing for
// supplied arrays to belong to: they are dropped, and the empty object is shown.
template <class T>
void CheckCount(std::vector<T> &have, uint32_t want, const Supplied &from, const char *what,
                const char *per) {
  if (want == 0) {
    std::vector<T>().swap(have);
    return;
  }
  if (!have.empty() && have.size() != want)
    fatal(1, "AOFFFormatObj: %s holds %zu %s for an object of %u %s\n", from.file.c_str(),
          have.size(), what, want, per);
}

} // namespace

void AOFFGeometryToPart(const AOFFValue &g, int offset, const std::string &file, const char *module,
                        Part &part) {
  long long sum = 0;
  for (int32_t k : g.sizes) {
    if (k < 0) fatal(1, "AOFFFormatObj: %s holds a polygon of %d vertices\n", file.c_str(), k);
    sum += k;
  }
  if (sum != static_cast<long long>(g.indices.size()))
    fatal(1, "AOFFFormatObj: %s: its polygon sizes add up to %lld but it holds %zu indices\n",
          file.c_str(), sum, g.indices.size());
  std::vector<Coord> vertices;
  std::vector<FacetList> facets;
  std::vector<uint32_t> pool;
  Records(g, vertices, "Coord");
  ALLOC_ARRAY(facets, g.polygons, "FacetList", module);
  ALLOC_ARRAY(pool, g.indices.size(), "uint", module);
  const uint32_t V = g.records;
  std::size_t at = 0;
  for (uint32_t p = 0; p < g.polygons; ++p) {
    facets[p] = FacetList{static_cast<uint32_t>(g.sizes[p]), static_cast<uint32_t>(at)};
    for (int32_t k = 0; k < g.sizes[p]; ++k, ++at) {
      long long x = static_cast<long long>(g.indices[at]) - offset;
      if (x < 0 || x >= V)
        fatal(1,
              "AOFFFormatObj: %s: polygon %u uses vertex %d, outside the object's %u vertices "
              "(index base %d)\n",
              file.c_str(), p, g.indices[at], V, offset);
      pool[at] = static_cast<uint32_t>(x);
    }
  }
  part.vertices.swap(vertices);
  part.facets.swap(facets);
  part.facet_vertex_pool.swap(pool);
  part.vertex_count = V;
  part.facet_count = g.polygons;
}

void AOFFFormatObj(const ObjDesc &desc, Shape &shape) {
  Part &part = *shape.part;
  LightState &lights = shape.lights;

  // Pass 1: the switches that the geometry and the supplied normals depend on.
  for (const AOFFProp &p : desc.props) {
    if (p.name == "back_faces" || p.name == "vertex_order") {
      const std::string *t = p.kind == kAOFFDefault ? p.value.Text(0, 0) : nullptr;
      if (!t) continue;
      if (p.name == "back_faces")
        part.back_faces = *t == "reverse" ? 1 : 2;
      else
        part.vertex_order = *t == "clockwise" ? 1 : 2;
    } else if (p.name == "facet_offset") {
      if (p.kind != kAOFFDefault) {
        Unsupported(p);
        continue;
      }
      double v = p.value.Number(0, 0);
      int32_t whole = v > -2147483649.0 && v < 2147483648.0 ? static_cast<int32_t>(v) : 0;
      part.facet_offset = static_cast<uint16_t>(whole);
    }
  }

  // Pass 2: everything else, by name; names not listed are skipped silently.
  Supplied vnFrom, pnFrom, vcFrom, pcFrom;
  for (const AOFFProp &p : desc.props) {
    const std::string &n = p.name;
    const int kind = p.kind;
    const AOFFValue &v = p.value;
    bool isDefault = kind == kAOFFDefault;
    if (n == "geometry") {
      if (kind != kAOFFIndexedPoly) {
        Unsupported(p);
        continue;
      }
      AOFFGeometryToPart(v, part.facet_offset, p.file, kModule, part);
      part.facet_offset = 0;
      if (part.vertex_order == 1)
        for (uint32_t f = 0; f < part.facet_count; ++f) {
          uint32_t *idx = part.facetVertices(f);
          std::reverse(idx, idx + part.facets[f].count);
        }
    } else if (n == "vertex_normals" || n == "polygon_normals") {
      if (kind != kAOFFGeneric) {
        Unsupported(p);
        continue;
      }
      bool vertex = n == "vertex_normals";
      std::vector<Vector> &normals = vertex ? part.vertex_normals : part.polygon_normals;
      Records(v, normals, "Vector");
      if (part.back_faces == 1)
        for (Vector &x : normals) x = Vector{-x.x, -x.y, -x.z};
      (vertex ? vnFrom : pnFrom).file = p.file;
    } else if (n == "vertex_colors" || n == "polygon_colors") {
      bool vertex = n == "vertex_colors";
      Supplied &from = vertex ? vcFrom : pcFrom;
      std::vector<ColorRGB> &colors = vertex ? part.vertex_colors : part.polygon_colors;
      if (isDefault) {
        // Spread over the counts once the whole header is read, so that a colour line before
        // "geometry" still colours the whole object.
        from.pendingDefault = true;
        from.color = Triple<ColorRGB>(v, 0);
      } else if (kind == kAOFFGeneric) {
        Records(v, colors, "ColorRGB");
        from.pendingDefault = false;
        from.file = p.file;
      } else if (kind == kAOFFIndexed && !vertex) {
        std::vector<ColorRGB> palette;
        Records(v, palette, "ColorRGB");
        ALLOC_ARRAY(colors, v.indices.size(), "ColorRGB", kModule);
        for (std::size_t i = 0; i < v.indices.size(); ++i) {
          long long k = static_cast<long long>(v.indices[i]) - 1;
          if (k < 0 || k >= static_cast<long long>(palette.size()))
            fatal(1, "AOFFFormatObj: %s: colour %zu names record %d of a palette of %zu\n",
                  p.file.c_str(), i, v.indices[i], palette.size());
          colors[i] = palette[static_cast<std::size_t>(k)];
        }
        from.pendingDefault = false;
        from.file = p.file;
      } else {
        Unsupported(p);
      }
    } else if (n == "flyby_prp" || n == "flyby_vpn") {
      if (kind != kAOFFGeneric) {
        Unsupported(p);
        continue;
      }
      Records(v, n == "flyby_prp" ? flyby_prp : flyby_vpn, "Vector");
    } else if (n == "morph_vertices") {
      if (kind != kAOFFIndexedPoly) {
        Unsupported(p);
        continue;
      }
      Records(v, morph_vertices, "Coord");
    } else {
      // The inline properties.
      static const char *const kInline[] = {
          "rotate",          "translate",      "scale",          "material_colors",
          "ambient_on",      "ambient_color",  "direct_on",      "direct_direction",
          "direct_color",    "position_on",    "position_point", "position_atten1",
          "position_atten2", "position_color", "spot_on",        "spot_point",
          "spot_direction",  "spot_atten1",    "spot_atten2",    "spot_conc",
          "spot_angle",      "spot_color",     "ambient_coef",   "diffuse_coef",
          "specular_coef",   "specular_power", "specular_color", "transmission"};
      bool known = false;
      for (const char *name : kInline) known = known || n == name;
      if (!known) continue;
      if (!isDefault) {
        Unsupported(p);
        continue;
      }
      auto triple = [&](float out[3]) {
        for (int k = 0; k < 3; ++k) out[k] = ToFloat(v.Number(0, static_cast<std::size_t>(k)));
      };
      LightSource &ambient = lights.light[0], &direct = lights.light[1],
                  &position = lights.light[2], &spot = lights.light[3];
      if (n == "rotate") {
        part.rotate_on = 1;
        triple(part.rotate);
      } else if (n == "translate") {
        part.translate_on = 1;
        triple(part.translate);
      } else if (n == "scale") {
        part.scale_on = 1;
        triple(part.scale);
      } else if (n == "material_colors") {
        shape.object_color = Triple<ColorRGB>(v, 0);
      } else if (n == "ambient_on") {
        LightOn(p, lights, 0);
      } else if (n == "ambient_color") {
        ambient.color = Triple<ColorRGB>(v, 0);
      } else if (n == "direct_on") {
        LightOn(p, lights, 1);
      } else if (n == "direct_direction") {
        direct.direction = Direction(p);
      } else if (n == "direct_color") {
        direct.color = Triple<ColorRGB>(v, 0);
      } else if (n == "position_on") {
        LightOn(p, lights, 2);
      } else if (n == "position_point") {
        position.position = Triple<Coord>(v, 0);
      } else if (n == "position_atten1") {
        position.attenuation1 = First(p);
      } else if (n == "position_atten2") {
        position.attenuation2 = First(p);
      } else if (n == "position_color") {
        position.color = Triple<ColorRGB>(v, 0);
      } else if (n == "spot_on") {
        LightOn(p, lights, 3);
      } else if (n == "spot_point") {
        spot.position = Triple<Coord>(v, 0);
      } else if (n == "spot_direction") {
        spot.direction = Direction(p);
      } else if (n == "spot_atten1") {
        spot.attenuation1 = First(p);
      } else if (n == "spot_atten2") {
        spot.attenuation2 = First(p);
      } else if (n == "spot_conc") {
        spot.concentration = First(p);
      } else if (n == "spot_angle") {
        spot.spread_angle = First(p);
      } else if (n == "spot_color") {
        spot.color = Triple<ColorRGB>(v, 0);
      } else if (n == "ambient_coef") {
        part.ambient_coef = First(p);
      } else if (n == "diffuse_coef") {
        part.diffuse_coef = First(p);
      } else if (n == "specular_coef") {
        part.specular_coef = First(p);
      } else if (n == "specular_power") {
        part.specular_power = First(p);
      } else if (n == "specular_color") {
        part.specular_color = Triple<ColorRGB>(v, 0);
      } else if (n == "transmission") {
        part.transmission = First(p);
      }
    }
  }
  if (vcFrom.pendingDefault) {
    ALLOC_ARRAY(part.vertex_colors, part.vertex_count, "ColorRGB", kModule);
    for (ColorRGB &c : part.vertex_colors) c = vcFrom.color;
  }
  if (pcFrom.pendingDefault) {
    ALLOC_ARRAY(part.polygon_colors, part.facet_count, "ColorRGB", kModule);
    for (ColorRGB &c : part.polygon_colors) c = pcFrom.color;
  }
  // Whoever draws the object indexes these arrays by vertex and by facet.
  CheckCount(part.vertex_normals, part.vertex_count, vnFrom, "vertex normals", "vertices");
  CheckCount(part.polygon_normals, part.facet_count, pnFrom, "polygon normals", "polygons");
  CheckCount(part.vertex_colors, part.vertex_count, vcFrom, "vertex colours", "vertices");
  CheckCount(part.polygon_colors, part.facet_count, pcFrom, "polygon colours", "polygons");

  // Pass 3: both switches are already applied to the data.
  for (const AOFFProp &p : desc.props) {
    if (p.name == "back_faces") part.back_faces = 2;
    if (p.name == "vertex_order") part.vertex_order = 2;
  }
}

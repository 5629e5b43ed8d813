#include "formats/3mf/model3mf.h"

#include "base/fatal.h"
#include "base/scanText.h"
#include "formats/3mf/xmlScan.h"
#include "formats/3mf/zipPackage.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

static const char *const kModule = "model3mf";

static const char *const kModelRelationship =
    "http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel";

namespace {

struct ModelReader {
  XmlScanner s;
  XmlElement e;
  M3Model &model;
  bool beams = false, slices = false;
  explicit ModelReader(M3Model &m) : model(m) {}
};

// A copy of the value only where references need replacing; numbers seldom have any.
struct Value {
  std::string decoded;
  const char *begin, *end;
  explicit Value(const XmlAttr &a) {
    if (a.references) {
      decoded = XmlValue(a);
      begin = decoded.data();
      end = begin + decoded.size();
    } else {
      begin = a.value.begin;
      end = a.value.end;
    }
  }
  std::string str() const { return std::string(begin, end); }
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A value as a message quotes it: long ones cut short.
std::string Shown(const std::string &value) {
  return value.size() <= 40 ? value : value.substr(0, 40) + "...";
}

[[noreturn]] void Fail(const ModelReader &r, const XmlAttr &a, const char *what) {
  long line = 1 + std::count(r.s.begin, a.value.begin, '\n');
  fatal(1, "3MFReadObj: %s: the attribute %s=\"%s\" of <%s> at line %ld %s\n", r.s.where.c_str(),
        a.qname.str().c_str(), Shown(Value(a).str()).c_str(), r.e.qname.str().c_str(), line, what);
}

// A number as 3MF writes it: an optional sign, digits with an optional fraction and exponent.
// Reads from *p and leaves *p after it; false when none stands there.
bool ReadFloat(const char *&p, const char *end, float &out) {
  while (p < end && IsBlank(*p)) ++p;
  // Below the smallest float it is zero for a viewer; above the largest it is refused.
  const char *stop = ParseFloat(p, end, out);
  if (stop == p || !std::isfinite(out)) return false;
  p = stop;
  return true;
}

float FloatOf(const ModelReader &r, const XmlAttr &a) {
  Value v(a);
  const char *p = v.begin;
  float f;
  if (!ReadFloat(p, v.end, f)) Fail(r, a, "is not a finite number");
  while (p < v.end && IsBlank(*p)) ++p;
  if (p != v.end) Fail(r, a, "is not a finite number");
  return f;
}

uint32_t IndexOf(const ModelReader &r, const XmlAttr &a) {
  Value v(a);
  const char *p = v.begin;
  while (p < v.end && IsBlank(*p)) ++p;
  uint32_t n = 0;
  std::from_chars_result res = std::from_chars(p, v.end, n);
  if (res.ec == std::errc::result_out_of_range || (res.ec == std::errc() && n == kM3None))
    Fail(r, a, "is out of range");
  if (res.ec != std::errc()) Fail(r, a, "is not a non-negative integer");
  p = res.ptr;
  while (p < v.end && IsBlank(*p)) ++p;
  if (p != v.end) Fail(r, a, "is not a non-negative integer");
  return n;
}

M3Transform TransformOf(const ModelReader &r, const XmlAttr &a) {
  Value v(a);
  M3Transform t;
  const char *p = v.begin;
  for (float &m : t.m)
    if (!ReadFloat(p, v.end, m)) Fail(r, a, "is not 12 finite numbers");
  while (p < v.end && IsBlank(*p)) ++p;
  if (p != v.end) Fail(r, a, "is not 12 finite numbers");
  return t;
}

M3Colour ColourOf(const ModelReader &r, const XmlAttr &a) {
  Value v(a);
  const char *p = v.begin, *end = v.end;
  while (p < end && IsBlank(*p)) ++p;
  while (end > p && IsBlank(end[-1])) --end;
  const std::size_t n = static_cast<std::size_t>(end - p);
  unsigned byte[4] = {0, 0, 0, 255};
  bool ok = (n == 7 || n == 9) && *p == '#';
  for (std::size_t i = 0; ok && i + 1 < n; i += 2) {
    std::from_chars_result res = std::from_chars(p + 1 + i, p + 3 + i, byte[i / 2], 16);
    ok = res.ec == std::errc() && res.ptr == p + 3 + i;
  }
  if (!ok) Fail(r, a, "is not a colour #RRGGBB or #RRGGBBAA");
  return M3Colour{byte[0] / 255.0f, byte[1] / 255.0f, byte[2] / 255.0f};
}

const XmlAttr &Required(const ModelReader &r, XmlNs ns, const char *name) {
  const XmlAttr *a = r.e.find(ns, name);
  if (!a) {
    long line = 1 + std::count(r.s.begin, r.e.qname.begin, '\n');
    fatal(1, "3MFReadObj: %s: <%s> at line %ld has no \"%s\"\n", r.s.where.c_str(),
          r.e.qname.str().c_str(), line, name);
  }
  return *a;
}

// Resource ids are unique in their part, objects and property groups alike.
void CheckNewId(const ModelReader &r, uint32_t id) {
  if (r.model.objectById.count(id) || r.model.groupById.count(id)) {
    long line = 1 + std::count(r.s.begin, r.e.qname.begin, '\n');
    fatal(1, "3MFReadObj: %s: <%s> at line %ld repeats the resource id %u\n", r.s.where.c_str(),
          r.e.qname.str().c_str(), line, id);
  }
}

bool Is(const XmlElement &e, XmlNs ns, const char *local) {
  return e.ns == ns && e.local.is(local);
}

// Once a mesh has kReserveAfter elements of a kind, room is made for as many more as the rest of
// the part holds at the rate they took so far: a large mesh then grows once instead of doubling
// (capacity never written costs no memory), and no more than the part's bytes could hold.
constexpr std::size_t kReserveAfter = 1024;

template <class T> void ReserveAhead(std::vector<T> &v, const XmlScanner &s, const char *start) {
  const std::size_t perElement = static_cast<std::size_t>(s.p - start) / v.size() + 1;
  const std::size_t more = static_cast<std::size_t>(s.end - s.p) / perElement;
  v.reserve(v.size() + more + more / 16 + 16);
}

// The quick path's number: as FloatOf and IndexOf read a value without references, false for
// what they would refuse (the general path then reads the element again and names the fault).
bool PlainFloat(const XmlSpan &v, float &out) {
  const char *p = v.begin;
  if (!ReadFloat(p, v.end, out)) return false;
  while (p < v.end && IsBlank(*p)) ++p;
  return p == v.end;
}

bool PlainIndex(const XmlSpan &v, uint32_t &out) {
  const char *p = v.begin;
  while (p < v.end && IsBlank(*p)) ++p;
  std::from_chars_result res = std::from_chars(p, v.end, out);
  if (res.ec != std::errc() || out == kM3None) return false;
  p = res.ptr;
  while (p < v.end && IsBlank(*p)) ++p;
  return p == v.end;
}

// <vertex x= y= z=/> with nothing else and every number good.
bool PlainVertex(const XmlPlainAttr *attrs, int n, M3Vertex &out) {
  float xyz[3];
  unsigned have = 0;
  for (int i = 0; i < n; ++i) {
    const XmlPlainAttr &a = attrs[i];
    const int axis = a.name.begin[0] - 'x';
    if (a.name.size() != 1 || axis < 0 || axis > 2 || !PlainFloat(a.value, xyz[axis])) return false;
    have |= 1u << axis;
  }
  out = M3Vertex{xyz[0], xyz[1], xyz[2]};
  return have == 7;
}

// <triangle v1= v2= v3=/> with optional pid and p1 to p3, nothing else, every index good.
bool PlainTriangle(const XmlPlainAttr *attrs, int n, M3Triangle &t) {
  t = M3Triangle{{kM3None, kM3None, kM3None}, kM3None, {kM3None, kM3None, kM3None}};
  for (int i = 0; i < n; ++i) {
    const XmlSpan &name = attrs[i].name;
    uint32_t *to;
    if (name.size() == 2 && (name.begin[0] == 'v' || name.begin[0] == 'p') &&
        name.begin[1] >= '1' && name.begin[1] <= '3')
      to = &(name.begin[0] == 'v' ? t.v : t.p)[name.begin[1] - '1'];
    else if (name.is("pid"))
      to = &t.pid;
    else
      return false;
    if (!PlainIndex(attrs[i].value, *to)) return false;
  }
  return t.v[0] != kM3None && t.v[1] != kM3None && t.v[2] != kM3None;
}

void ReadVertices(ModelReader &r, M3Object &object) {
  const char *start = r.s.p;
  // Unprefixed children are core elements when the default namespace is core; it stays what it
  // is here for the whole list, since an element that declares another restores it at its end.
  const bool quick = XmlDefaultNs(r.s) == kNsCore;
  XmlPlainAttr attrs[kXmlPlainMax];
  for (;;) {
    const char *at = r.s.p;
    M3Vertex v;
    int n = quick ? NextXmlPlain(r.s, "vertex", 6, attrs) : -1;
    if (n >= 0 && PlainVertex(attrs, n, v)) {
      object.vertices.push_back(v);
    } else {
      r.s.p = at; // read again in full, and refused there if it is wrong
      if (NextXml(r.s, r.e) != kXmlStart) break;
      if (!Is(r.e, kNsCore, "vertex")) {
        SkipXmlElement(r.s, r.e);
        continue;
      }
      float xyz[3];
      bool have[3] = {false, false, false};
      for (const XmlAttr &a : r.e.attrs) {
        if (a.ns != kNsNone || a.local.size() != 1) continue;
        int axis = a.local.begin[0] - 'x';
        if (axis < 0 || axis > 2) continue;
        xyz[axis] = FloatOf(r, a);
        have[axis] = true;
      }
      if (!have[0]) Required(r, kNsNone, "x");
      if (!have[1]) Required(r, kNsNone, "y");
      if (!have[2]) Required(r, kNsNone, "z");
      object.vertices.push_back(M3Vertex{xyz[0], xyz[1], xyz[2]});
      SkipXmlElement(r.s, r.e);
    }
    if (object.vertices.size() == kReserveAfter) ReserveAhead(object.vertices, r.s, start);
  }
}

void ReadTriangles(ModelReader &r, M3Object &object) {
  const char *start = r.s.p;
  const bool quick = XmlDefaultNs(r.s) == kNsCore; // as in ReadVertices
  XmlPlainAttr attrs[kXmlPlainMax];
  for (;;) {
    const char *at = r.s.p;
    M3Triangle t;
    int n = quick ? NextXmlPlain(r.s, "triangle", 8, attrs) : -1;
    if (n >= 0 && PlainTriangle(attrs, n, t)) {
      object.triangles.push_back(t);
    } else {
      r.s.p = at;
      if (NextXml(r.s, r.e) != kXmlStart) break;
      if (!Is(r.e, kNsCore, "triangle")) {
        SkipXmlElement(r.s, r.e);
        continue;
      }
      t = M3Triangle{{kM3None, kM3None, kM3None}, kM3None, {kM3None, kM3None, kM3None}};
      for (const XmlAttr &a : r.e.attrs) {
        if (a.ns != kNsNone) continue;
        const XmlSpan &n = a.local;
        if (n.size() == 2 && (n.begin[0] == 'v' || n.begin[0] == 'p') && n.begin[1] >= '1' &&
            n.begin[1] <= '3')
          (n.begin[0] == 'v' ? t.v : t.p)[n.begin[1] - '1'] = IndexOf(r, a);
        else if (n.is("pid"))
          t.pid = IndexOf(r, a);
      }
      if (t.v[0] == kM3None) Required(r, kNsNone, "v1");
      if (t.v[1] == kM3None) Required(r, kNsNone, "v2");
      if (t.v[2] == kM3None) Required(r, kNsNone, "v3");
      object.triangles.push_back(t);
      SkipXmlElement(r.s, r.e);
    }
    if (object.triangles.size() == kReserveAfter) ReserveAhead(object.triangles, r.s, start);
  }
}

void ReadMesh(ModelReader &r, M3Object &object) {
  if (r.e.empty) return;
  while (NextXml(r.s, r.e) == kXmlStart) {
    if (Is(r.e, kNsCore, "vertices") && !r.e.empty) {
      ReadVertices(r, object);
    } else if (Is(r.e, kNsCore, "triangles") && !r.e.empty) {
      ReadTriangles(r, object);
    } else {
      if (Is(r.e, kNsBeamLattice, "beamlattice")) r.beams = true;
      SkipXmlElement(r.s, r.e);
    }
  }
  const std::size_t nv = object.vertices.size();
  for (std::size_t t = 0; t < object.triangles.size(); ++t)
    for (uint32_t v : object.triangles[t].v)
      if (v >= nv)
        fatal(1, "3MFReadObj: %s: triangle %zu of object %u uses vertex %u, the object has %zu\n",
              r.s.where.c_str(), t, object.id, v, nv);
}

void ReadComponents(ModelReader &r, M3Object &object) {
  if (r.e.empty) return;
  while (NextXml(r.s, r.e) == kXmlStart) {
    if (Is(r.e, kNsCore, "component")) {
      M3Component c;
      c.objectid = IndexOf(r, Required(r, kNsNone, "objectid"));
      if (const XmlAttr *a = r.e.find(kNsNone, "transform")) c.transform = TransformOf(r, *a);
      if (const XmlAttr *a = r.e.find(kNsProduction, "path")) c.path = XmlValue(*a);
      object.components.push_back(c);
    }
    SkipXmlElement(r.s, r.e);
  }
}

void ReadObject(ModelReader &r) {
  M3Object object;
  object.id = IndexOf(r, Required(r, kNsNone, "id"));
  CheckNewId(r, object.id);
  if (const XmlAttr *a = r.e.find(kNsNone, "type")) {
    std::string type = XmlValue(*a);
    if (type != "model" && type != "support" && type != "solidsupport" && type != "surface" &&
        type != "other")
      Fail(r, *a, "names no object type of 3MF");
  }
  if (const XmlAttr *a = r.e.find(kNsNone, "pid")) object.pid = IndexOf(r, *a);
  if (const XmlAttr *a = r.e.find(kNsNone, "pindex")) object.pindex = IndexOf(r, *a);
  if (!r.e.empty) {
    while (NextXml(r.s, r.e) == kXmlStart) {
      if (Is(r.e, kNsCore, "mesh"))
        ReadMesh(r, object);
      else if (Is(r.e, kNsCore, "components"))
        ReadComponents(r, object);
      else
        SkipXmlElement(r.s, r.e);
    }
  }
  r.model.objectById.emplace(object.id, r.model.objects.size());
  r.model.objects.push_back(std::move(object));
}

// A property group: each child `entry` gives one colour in its attribute `colour`; groups without
// colours (kM3Uncoloured) only take their id.
void ReadGroup(ModelReader &r, M3GroupKind kind, XmlNs ns, const char *entry, const char *colour) {
  M3Group group;
  group.id = IndexOf(r, Required(r, kNsNone, "id"));
  group.kind = kind;
  CheckNewId(r, group.id);
  if (!r.e.empty) {
    while (NextXml(r.s, r.e) == kXmlStart) {
      if (kind != kM3Uncoloured && Is(r.e, ns, entry))
        group.colours.push_back(ColourOf(r, Required(r, kNsNone, colour)));
      SkipXmlElement(r.s, r.e);
    }
  }
  r.model.groupById.emplace(group.id, r.model.groups.size());
  r.model.groups.push_back(std::move(group));
}

void ReadResources(ModelReader &r) {
  while (NextXml(r.s, r.e) == kXmlStart) {
    const XmlElement &e = r.e;
    if (Is(e, kNsCore, "object")) {
      ReadObject(r);
    } else if (Is(e, kNsCore, "basematerials")) {
      ReadGroup(r, kM3BaseMaterials, kNsCore, "base", "displaycolor");
    } else if (Is(e, kNsMaterial, "colorgroup")) {
      ReadGroup(r, kM3ColourGroup, kNsMaterial, "color", "color");
    } else if (e.ns == kNsMaterial && e.find(kNsNone, "id")) {
      // texture2d, texture2dgroup, compositematerials, multiproperties
      ReadGroup(r, kM3Uncoloured, kNsMaterial, "", "");
    } else {
      if (Is(e, kNsSlice, "slicestack")) r.slices = true;
      SkipXmlElement(r.s, r.e);
    }
  }
}

void ReadBuild(ModelReader &r) {
  if (r.e.empty) return;
  while (NextXml(r.s, r.e) == kXmlStart) {
    if (Is(r.e, kNsCore, "item")) {
      M3Item item;
      item.objectid = IndexOf(r, Required(r, kNsNone, "objectid"));
      if (const XmlAttr *a = r.e.find(kNsNone, "transform")) item.transform = TransformOf(r, *a);
      if (const XmlAttr *a = r.e.find(kNsProduction, "path")) item.path = XmlValue(*a);
      r.model.items.push_back(item);
    }
    SkipXmlElement(r.s, r.e);
  }
}

std::string Lower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

// The entry of the root model part: the target of the package's 3D model relationship.
std::string RootPart(ZipPackage &zip) {
  const std::string rels = "_rels/.rels";
  // Packages written without relationships still keep their model where 3MF puts it.
  if (!ZipHas(zip, rels)) return "3D/3dmodel.model";
  ZipBytes text = ZipRead(zip, rels);
  M3Model unused;
  ModelReader r(unused);
  StartXml(r.s, text.data.get(), text.size, zip.file + ", part " + rels);
  std::string target;
  if (NextXml(r.s, r.e) == kXmlStart && Is(r.e, kNsRelationships, "Relationships") && !r.e.empty) {
    while (NextXml(r.s, r.e) == kXmlStart) {
      const XmlAttr *type = r.e.find(kNsNone, "Type");
      const XmlAttr *to = r.e.find(kNsNone, "Target");
      if (target.empty() && Is(r.e, kNsRelationships, "Relationship") && type && to &&
          XmlValue(*type) == kModelRelationship)
        target = XmlValue(*to);
      SkipXmlElement(r.s, r.e);
    }
  }
  if (target.empty())
    fatal(1, "3MFReadObj: %s: the package's relationships name no 3D model part\n",
          zip.file.c_str());
  return ZipEntryName(target);
}

} // namespace

void Read3MFModel(const char *data, std::size_t size, const std::string &where, bool root,
                  M3Model &model) {
  ModelReader r(model);
  bool read = TryAlloc([&] {
    StartXml(r.s, data, size, where);
    NextXml(r.s, r.e); // the root: a document without one has failed already
    if (!Is(r.e, kNsCore, "model"))
      fatal(1, "3MFReadObj: %s: the root element <%s> is no 3MF model\n", where.c_str(),
            r.e.qname.str().c_str());
    bool build = false;
    if (!r.e.empty) {
      while (NextXml(r.s, r.e) == kXmlStart) {
        if (Is(r.e, kNsCore, "resources") && !r.e.empty) {
          ReadResources(r);
        } else if (Is(r.e, kNsCore, "build")) {
          build = true;
          ReadBuild(r);
        } else {
          SkipXmlElement(r.s, r.e);
        }
      }
    }
    if (root && !build) fatal(1, "3MFReadObj: %s: the model has no build\n", where.c_str());
  });
  if (!read) allocFailed("M3Model", 1, __LINE__, kModule);
  model.beams = r.beams;
  model.slices = r.slices;
}

void Read3MFPackage(const char *data, std::size_t size, const std::string &file, M3Package &package,
                    uint64_t budget) {
  ZipPackage zip;
  OpenZipPackage(zip, data, size, file, budget);
  std::vector<std::string> pending{RootPart(zip)};
  package.modelByPart.emplace(Lower(pending[0]), 0);
  // Parts are read in the order they are first named; each once, however often it is named.
  for (std::size_t next = 0; next < pending.size(); ++next) {
    const std::string entry = pending[next];
    ZipBytes text = ZipRead(zip, entry);
    package.models.emplace_back();
    M3Model &model = package.models.back();
    model.part = entry;
    Read3MFModel(text.data.get(), text.size, file + ", part " + entry, next == 0, model);
    auto name = [&](const std::string &path) {
      if (path.empty()) return;
      std::string e = ZipEntryName(path);
      if (package.modelByPart.emplace(Lower(e), pending.size()).second) pending.push_back(e);
    };
    for (const M3Item &item : model.items) name(item.path);
    for (const M3Object &object : model.objects)
      for (const M3Component &c : object.components) name(c.path);
  }
  bool beams = false, slices = false;
  for (const M3Model &m : package.models) {
    beams = beams || m.beams;
    slices = slices || m.slices;
  }
  if (beams || slices)
    warn("3MFReadObj: %s: %s not drawn\n", file.c_str(),
         beams && slices ? "beam lattices and slice stacks are"
         : beams         ? "beam lattices are"
                         : "slice stacks are");
}

const M3Model *Find3MFModel(const M3Package &package, const M3Model &from,
                            const std::string &path) {
  if (path.empty()) return &from;
  auto it = package.modelByPart.find(Lower(ZipEntryName(path)));
  return it == package.modelByPart.end() ? nullptr : &package.models[it->second];
}

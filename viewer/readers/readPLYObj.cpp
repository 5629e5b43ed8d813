#include "viewer/readers/readPLYObj.h"

#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/formatTable.h"
#include "viewer/model/object.h"

#include <algorithm>
#include <cstddef>

namespace {

const char *const kModule = "readPLYObj";

PlyPropertyDesc Scalar(const char *name, int type, std::size_t offset) {
  PlyPropertyDesc d;
  d.name = name;
  d.external_type = type;
  d.internal_type = type;
  d.offset = static_cast<int>(offset);
  return d;
}

struct Wanted {
  PlyPropertyDesc desc;
  int32_t Surface::*flag;
};

const Wanted *VertexProps(std::size_t *n) {
  static const Wanted props[] = {
      {Scalar("x", kPlyFloat, offsetof(PlyVertex, x)), &Surface::has_x},
      {Scalar("y", kPlyFloat, offsetof(PlyVertex, y)), &Surface::has_y},
      {Scalar("z", kPlyFloat, offsetof(PlyVertex, z)), &Surface::has_z},
      {Scalar("nx", kPlyFloat, offsetof(PlyVertex, nx)), &Surface::has_nx},
      {Scalar("ny", kPlyFloat, offsetof(PlyVertex, ny)), &Surface::has_ny},
      {Scalar("nz", kPlyFloat, offsetof(PlyVertex, nz)), &Surface::has_nz},
      {Scalar("red", kPlyUchar, offsetof(PlyVertex, red)), &Surface::has_vred},
      {Scalar("green", kPlyUchar, offsetof(PlyVertex, green)), &Surface::has_vgreen},
      {Scalar("blue", kPlyUchar, offsetof(PlyVertex, blue)), &Surface::has_vblue},
  };
  *n = sizeof props / sizeof props[0];
  return props;
}

const Wanted *FaceProps(std::size_t *n) {
  static const Wanted props[] = {
      {[] {
         PlyPropertyDesc d = Scalar("vertex_indices", kPlyInt, offsetof(PlyFace, vertex_indices));
         d.is_list = 1;
         d.count_external = kPlyUchar;
         d.count_internal = kPlyInt;
         d.count_offset = static_cast<int>(offsetof(PlyFace, count));
         return d;
       }(),
       &Surface::has_fverts},
      {Scalar("red", kPlyUchar, offsetof(PlyFace, red)), &Surface::has_fred},
      {Scalar("green", kPlyUchar, offsetof(PlyFace, green)), &Surface::has_fgreen},
      {Scalar("blue", kPlyUchar, offsetof(PlyFace, blue)), &Surface::has_fblue},
  };
  *n = sizeof props / sizeof props[0];
  return props;
}

// Asks for every wanted property the element has in the form the record keeps it (a list where a
// list goes); returns nothing, the flags tell what was found.
void RequestProperties(PlyStream *ply, Surface &s, const std::string &elem,
                       const std::vector<PlyPropertyDesc> &fileProps, const Wanted *wanted,
                       std::size_t nwanted) {
  for (std::size_t w = 0; w < nwanted; ++w) s.*(wanted[w].flag) = 0;
  bool hasIndices = false;
  for (const PlyPropertyDesc &p : fileProps)
    if (p.is_list && p.name == "vertex_indices") hasIndices = true;
  for (const PlyPropertyDesc &p : fileProps) {
    for (std::size_t w = 0; w < nwanted; ++w) {
      PlyPropertyDesc desc = wanted[w].desc;
      // Several writers name the face list "vertex_index"; take it when the usual name is absent.
      bool alias = desc.name == "vertex_indices" && !hasIndices && p.name == "vertex_index";
      if (p.name != desc.name && !alias) continue;
      if (p.is_list != desc.is_list || s.*(wanted[w].flag)) break;
      desc.name = p.name;
      ply_request_property(ply, elem, desc);
      s.*(wanted[w].flag) = 1;
      break;
    }
  }
}

template <class T> void AllocRecords(PlyRecords<T> &v, int n, const char *type, int line) {
  if (!v.assign(static_cast<std::size_t>(n))) allocFailed(type, n, line, kModule);
}

} // namespace

std::unique_ptr<Surface> PLYReadObj() {
  FoundFile found = FindObjectFile(kTypePLY, objName);
  std::unique_ptr<Surface> s;
  ALLOC_OR_REPORT("Surface", 1, kModule, s = std::make_unique<Surface>());

  std::unique_ptr<PlyStream> ply = ply_read_header(found.file.get(), &s->nelems, &s->elem_names);
  if (!ply) {
    const std::string &why = ply_header_error();
    if (why.empty()) fatal(1, "PLYReadObj: %s is not a PLY file\n", objName.c_str());
    fatal(1, "PLYReadObj: %s is not a PLY file this program reads: %s\n", objName.c_str(),
          why.c_str());
  }
  found.file.release(); // the stream closes it now
  ply_set_file_name(ply.get(), objName);
  float version;
  int fileType;
  ply_file_info(ply.get(), &version, &fileType);

  for (const std::string &name : s->elem_names) {
    int n = 0, nprops = 0;
    std::vector<PlyPropertyDesc> props;
    ply_element_description(ply.get(), name, &n, &nprops, &props);
    if (name == "vertex") {
      std::size_t nw;
      const Wanted *wanted = VertexProps(&nw);
      RequestProperties(ply.get(), *s, name, props, wanted, nw);
      s->vert_other = ply_get_other_properties(ply.get(), name, offsetof(PlyVertex, other));
      if (!s->has_x || !s->has_y || !s->has_z) fatal(-1, "Vertices don't have x, y, and z\n");
      ply_check_elements(ply.get(), n);
      AllocRecords(s->vlist, n, "PlyVertex *", __LINE__);
      s->nverts = n;
      ply_get_elements(ply.get(), s->vlist.begin(), sizeof(PlyVertex), s->vlist.size());
    } else if (name == "face") {
      std::size_t nw;
      const Wanted *wanted = FaceProps(&nw);
      RequestProperties(ply.get(), *s, name, props, wanted, nw);
      s->face_other = ply_get_other_properties(ply.get(), name, offsetof(PlyFace, other));
      if (!s->has_fverts) fatal(-1, "Faces don't have vertex indices\n");
      ply_check_elements(ply.get(), n);
      AllocRecords(s->flist, n, "PlyFace *", __LINE__);
      s->nfaces = n;
      // In batches, so that the corners are counted while the records are still in cache.
      const std::size_t batch = 4096;
      for (std::size_t k = 0; k < s->flist.size(); k += batch) {
        std::size_t m = std::min(batch, s->flist.size() - k);
        ply_get_elements(ply.get(), &s->flist[k], sizeof(PlyFace), m);
        for (std::size_t j = k; j < k + m; ++j)
          s->corner_count += static_cast<uint32_t>(s->flist[j].count);
      }
    } else {
      s->other_elements = ply_get_other_element(ply.get(), name, n);
    }
  }
  s->comments = ply_comments(ply.get(), &s->num_comments);
  s->obj_info = ply_obj_info(ply.get(), &s->num_obj_info);
  s->storage = ply_get_storage(ply.get());
  ply_close_file(std::move(ply));
  return s;
}

void ReleaseSurface(std::unique_ptr<Surface> &surface) {
  surface.reset();
}

void LoadPLYObject() {
  std::unique_ptr<Surface> surface = PLYReadObj();
  PLYFormatObj(*surface, *currentShape);
  ReleaseSurface(surface);
}

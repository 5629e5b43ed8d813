// The usual OBJ library's bare parse of a file, for bench/obj_speed.sh: the time of
// ObjReader::ParseFromFile alone and the counts it found, as "seconds vertices faces".
#include <tiny_obj_loader.h>

#include <chrono>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: obj_parse_peer FILE.obj\n");
    return 2;
  }
  tinyobj::ObjReaderConfig config;
  config.triangulate = false;
  tinyobj::ObjReader reader;
  auto start = std::chrono::steady_clock::now();
  bool ok = reader.ParseFromFile(argv[1], config);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!ok) {
    std::fprintf(stderr, "%s", reader.Error().c_str());
    return 1;
  }
  std::size_t faces = 0;
  for (const tinyobj::shape_t &shape : reader.GetShapes())
    faces += shape.mesh.num_face_vertices.size();
  std::printf("%.3f %zu %zu\n", seconds, reader.GetAttrib().vertices.size() / 3, faces);
  return 0;
}

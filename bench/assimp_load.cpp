// The general import library's load of one file with smooth normals generated, as a program
// that opens a model would ask for it: the yardstick of bench/3mf_speed.sh. Prints the counts.
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: assimp_load FILE\n");
    return 2;
  }
  Assimp::Importer importer;
  const aiScene *scene = importer.ReadFile(argv[1], aiProcess_GenSmoothNormals);
  if (!scene) {
    std::fprintf(stderr, "%s\n", importer.GetErrorString());
    return 1;
  }
  unsigned long vertices = 0, faces = 0;
  for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
    vertices += scene->mMeshes[i]->mNumVertices;
    faces += scene->mMeshes[i]->mNumFaces;
  }
  std::printf("%lu vertices\n%lu faces\n", vertices, faces);
  return 0;
}

// mirandel-wrl2geom: turns the face sets of a VRML 1.0 or 2.0 world into one ".geom" polygon file
// (vertex count, facet count and index total, then the vertices, then each facet as its corner
// count and its zero-based corner indices). A face that is concave or bent is written as the
// triangles that tile it.
#pragma once

#include <cstddef>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace wrl2geom {

// A file the converter cannot turn into polygons; the message names the file and, where it can,
// the line.
struct ConvertError : std::runtime_error {
  explicit ConvertError(const std::string &message) : std::runtime_error(message) {}
};

struct Mesh {
  std::vector<double> xyz;  // three per vertex, in world coordinates
  std::vector<int> sizes;   // corner count of each facet
  std::vector<int> indices; // zero-based, facet after facet
  // Diffuse colours (r g b from 0 to 1), when the world gives any: one per facet where every
  // facet has one colour, else one per vertex (a vertex whose corners differ in colour is
  // placed once per colour). Both empty for a world without colours.
  std::vector<float> facetRgb, vertexRgb;
  std::size_t vertexCount() const { return xyz.size() / 3; }
};

// What the conversion left out, for the one warning line.
struct Skipped {
  std::map<std::string, int> shapes; // node type -> how many (spheres, text, ...)
  int faces = 0;                     // coordIndex runs of one or two corners
};

// Limits on what a file may make the converter build: instancing through USE can multiply a
// small file many times over, and nesting is followed recursively.
constexpr std::size_t kMaxVertices = std::size_t(1) << 23;
constexpr std::size_t kMaxIndices = std::size_t(1) << 25;
constexpr long kMaxVisits = 1L << 23;
constexpr int kMaxDepth = 256;
constexpr std::size_t kMaxInputBytes = std::size_t(1) << 30;

// The whole input, through zlib so that gzip-compressed worlds read like plain ones.
std::string ReadInput(const std::string &path);
// Converts VRML text; `name` is used in messages.
Mesh Convert(const std::string &text, const std::string &name, Skipped &skipped);
// Writes the ".geom" text; a failed write removes the partial file.
void WriteGeom(const Mesh &mesh, const std::string &path);
// The first line of the AOFF header the converter writes beside a ".geom" file, by which it
// knows the header as its own.
constexpr const char *kHeaderMark = "# colours of a converted VRML world";
// The colours of a ".geom" file at `geomPath` ("scene.geom"): a header "scene.aoff" naming the
// geometry and a colour file "scene.pcolor" (per facet) or "scene.vcolor" (per vertex), generic
// text files of "fff" records. Without colours only a header of the converter's own is brought
// back to the geometry alone; any other header is left as it is.
void WriteColours(const Mesh &mesh, const std::string &geomPath);
// The warning line for what was skipped, or "" when nothing was.
std::string SkippedLine(const std::string &name, const Skipped &skipped);
// The program: argv[1] in, argv[2] out; messages on standard error; exit status.
int Main(int argc, char **argv);

} // namespace wrl2geom

// The VRML text as a tree of the nodes the converter reads. A word followed by "{" opens a node,
// any other word inside a node opens a field whose value runs over the numbers, the one word, the
// string, the node or the bracketed list that follows. That reads both the 1.0 syntax (children
// straight inside a group's braces) and the 2.0 syntax (children in fields). Only the node types
// and fields the converter names are taken apart; every other node and field is passed over by
// its tokens and its brace and bracket nesting, whatever it holds, so that textures, scripts and
// extensions the converter has no use for cannot stop it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace wrl2geom {

struct Node;

struct Field {
  std::string name;
  std::vector<double> nums;
  std::vector<std::string> words; // bare words and strings, in order
  std::vector<const Node *> nodes;
  int line = 0;
};

struct Node {
  std::string type;
  int line = 0;
  std::vector<Field> fields;
  std::vector<const Node *> children; // 1.0 group children
  const Field *field(const char *name) const {
    for (const Field &f : fields)
      if (f.name == name) return &f;
    return nullptr;
  }
};

struct Scene {
  int version = 0; // 1 or 2
  Node root;       // the file's top-level nodes, as the children of an implicit group
  std::vector<std::unique_ptr<Node>> pool;
};

// For each node type the converter reads, the fields it takes from it; a node of any other type
// keeps only its type (and the names defined inside it). Nodes written straight into a node's
// braces are always read.
using NodeFields = std::map<std::string, std::vector<std::string>>;
struct Schema {
  NodeFields version1, version2;
};

// Parses the whole text; throws ConvertError with the file name and line on bad syntax.
void ParseScene(const std::string &text, const std::string &name, const Schema &schema,
                Scene &scene);

} // namespace wrl2geom

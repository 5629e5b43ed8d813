// glTF files made in the tests: a JSON document with one binary buffer, written as a binary file
// (BIN chunk) or as text (the buffer a data URI).
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct GltfBuilder {
  nlohmann::json j = {{"asset", {{"version", "2.0"}}}};
  std::string bin;

  template <class T> static std::string Bytes(const std::vector<T> &v) {
    std::string s(v.size() * sizeof(T), '\0');
    if (!v.empty()) std::memcpy(&s[0], v.data(), s.size());
    return s;
  }
  std::size_t View(const std::string &bytes, std::size_t stride = 0) {
    bin.resize((bin.size() + 3) / 4 * 4, '\0');
    nlohmann::json v = {{"buffer", 0}, {"byteOffset", bin.size()}, {"byteLength", bytes.size()}};
    if (stride) v["byteStride"] = stride;
    bin += bytes;
    j["bufferViews"].push_back(v);
    return j["bufferViews"].size() - 1;
  }
  std::size_t Accessor(std::size_t view, int component, std::size_t count, const char *type,
                       bool normalized = false, std::size_t offset = 0) {
    nlohmann::json a = {
        {"bufferView", view}, {"componentType", component}, {"count", count}, {"type", type}};
    if (normalized) a["normalized"] = true;
    if (offset) a["byteOffset"] = offset;
    j["accessors"].push_back(a);
    return j["accessors"].size() - 1;
  }
  std::size_t Floats(const std::vector<float> &v, const char *type = "VEC3") {
    std::size_t n = std::string(type) == "VEC4" ? 4 : std::string(type) == "SCALAR" ? 1 : 3;
    return Accessor(View(Bytes(v)), 5126, v.size() / n, type);
  }
  std::size_t Indices(const std::vector<uint16_t> &v) {
    return Accessor(View(Bytes(v)), 5123, v.size(), "SCALAR");
  }
  // A mesh of one primitive; returns its index.
  std::size_t Mesh(std::size_t position, long long indices = -1, int mode = 4,
                   long long material = -1) {
    nlohmann::json p = {{"attributes", {{"POSITION", position}}}, {"mode", mode}};
    if (indices >= 0) p["indices"] = indices;
    if (material >= 0) p["material"] = material;
    j["meshes"].push_back({{"primitives", {p}}});
    return j["meshes"].size() - 1;
  }
  std::size_t Node(const nlohmann::json &node) {
    j["nodes"].push_back(node);
    return j["nodes"].size() - 1;
  }
  void Scene(const std::vector<std::size_t> &roots) { j["scenes"] = {{{"nodes", roots}}}; }

  std::string Glb() const {
    nlohmann::json doc = j;
    std::string body = bin;
    body.resize((body.size() + 3) / 4 * 4, '\0');
    if (!body.empty() && !doc.contains("buffers")) doc["buffers"] = {{{"byteLength", bin.size()}}};
    std::string text = doc.dump();
    text.resize((text.size() + 3) / 4 * 4, ' ');
    std::string out;
    auto u32 = [&out](uint32_t v) { out.append(reinterpret_cast<const char *>(&v), 4); };
    u32(0x46546C67);
    u32(2);
    u32(static_cast<uint32_t>(12 + 8 + text.size() + (body.empty() ? 0 : 8 + body.size())));
    u32(static_cast<uint32_t>(text.size()));
    u32(0x4E4F534A);
    out += text;
    if (!body.empty()) {
      u32(static_cast<uint32_t>(body.size()));
      u32(0x004E4942);
      out += body;
    }
    return out;
  }
  static std::string Base64(const std::string &in) {
    static const char *a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < in.size(); i += 3) {
      uint32_t v = uint32_t(uint8_t(in[i])) << 16;
      if (i + 1 < in.size()) v |= uint32_t(uint8_t(in[i + 1])) << 8;
      if (i + 2 < in.size()) v |= uint8_t(in[i + 2]);
      out += a[v >> 18 & 63];
      out += a[v >> 12 & 63];
      out += i + 1 < in.size() ? a[v >> 6 & 63] : '=';
      out += i + 2 < in.size() ? a[v & 63] : '=';
    }
    return out;
  }
  std::string Text() const {
    nlohmann::json doc = j;
    if (!bin.empty())
      doc["buffers"] = {{{"byteLength", bin.size()},
                         {"uri", "data:application/octet-stream;base64," + Base64(bin)}}};
    return doc.dump();
  }
};

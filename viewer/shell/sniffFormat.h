// The format of a file whose name does not tell it, from its contents. File managers hand the
// thumbnailer copies such as "/tmp/gnome-desktop-file-to-thumbnail.gz", which keep only the last
// extension: the first bytes (of a compressed file, its decompressed start) and the size decide.
#pragma once

#include <cstdint>
#include <string>

// How much of the start the rules below look at.
constexpr std::size_t kSniffBytes = 64 * 1024;

// The extension that a file beginning with `start` calls for: ".ply", ".wrl", ".off", ".stl" or
// ".3ds", or "" when it tells none. `size` is the whole file's size; a binary STL or a 3DS file
// is told by its size rules only when `sizeKnown`.
std::string ExtensionOfContents(const std::string &start, std::uint64_t size, bool sizeKnown);

// The name under which the file at `path` (named `name`) is to be loaded: `name` less a
// compression suffix, plus the extension its contents call for, plus ".gz" or ".Z" when it is
// compressed (its own suffix where it has one). `name` itself when the contents tell nothing.
std::string NameFromContents(const std::string &path, const std::string &name);

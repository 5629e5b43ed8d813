// 3DS objects: the reader fills an H3dsScene from the file named by objName; the conversion turns
// all of its meshes into the current Shape's one Part.
#pragma once

#include "formats/3ds/chunks3ds.h"
#include "viewer/model/shape.h"

#include <memory>
#include <string>

// Finds objName along OBJ_PATH and walks the whole file. `path` receives the path that opened.
std::unique_ptr<H3dsScene> ReadObj3DS(std::string *path = nullptr);

// Fills `part` from the scene: every mesh one after another, turned -90 degrees about x, each
// mesh's facets coloured by its material's diffuse colour. `file` names the object in messages.
void FormatObj3DS(const H3dsScene &scene, Part &part, const std::string &file);

// The native AOFF object: a text header (stem.aoff) whose lines name properties, inline or in
// data files (stem.geom, stem.pnorm, stem.vnorm, ...).
#pragma once

#include "formats/aoff/aoffData.h"
#include "viewer/model/shape.h"

#include <string>
#include <utility>
#include <vector>

// The header's properties in header order.
struct ObjDesc {
  std::vector<AOFFProp> props;
};

// Reads the header objName (found as named, then along OBJ_PATH) with every data file it names.
// Ends the run on a line it cannot parse.
ObjDesc AOFFReadObj();
// Splits a header line into its first word and the rest.
std::pair<std::string, std::string> SplitFirstWord(const std::string &text);
// Appends the property of one line to `desc`: 0, or -1 for an invalid line.
int ParseAOFFProp(ObjDesc &desc, const std::string &name, const std::string &rest,
                  const std::string &headerDir);

// Fills the Shape and its Part from the header's properties.
void AOFFFormatObj(const ObjDesc &desc, Shape &shape);
// Turns an indexed_poly block into the Part's vertices and facets, indices less `offset`;
// every index is checked against the vertex count (`file` names the data file in messages).
void AOFFGeometryToPart(const AOFFValue &geometry, int offset, const std::string &file,
                        const char *module, Part &part);

// The AOFF loader: header preparation, normal files, header, conversion (see formatTable.h).
void LoadAOFFObject();

// Header preparation for a ".geom" object, run in OBJ_PATH before the header is read.
void getAOFF(std::string &name); // creates stem.aoff if missing; name becomes stem.aoff
void processObj(const std::string &name);
// Makes sure the header names .pnorm and .vnorm files and writes them when missing.
void MakeNormalFiles(const std::string &name);

// Shared by the preparation steps.
// The stem of a bare name ending in "aoff" or "geom" (less its last five characters); false,
// after the extension message, for any other name.
bool AOFFStem(const std::string &name, std::string &stem);
// The files of an AOFF object in OBJ_PATH, named from its header's or its geometry's name.
struct AOFFFiles {
  std::string stem;   // the bare name less its ".aoff" or ".geom"
  std::string header; // OBJ_PATH/stem.aoff, and so on
  std::string geom;
  std::string pnorm;
  std::string vnorm;
};
// The files of `name` (its folder part, if any, is left aside); false, after AOFFStem's message,
// for a name that ends in neither "aoff" nor "geom".
bool AOFFFilesOf(const std::string &name, AOFFFiles &files);
// Reads a ".geom" file (text or binary indexed_poly of "fff" records); ends the run with
// `missingFormat` (given the path) when it does not exist.
AOFFValue ReadGeomFile(const std::string &path, const char *missingFormat);
// Appends `lines` to a header, first ending its last line when it lacks a newline.
void AppendToHeader(const std::string &path, const std::string &lines, const char *failFormat);
// Every chunk of a text file as a line reader with a buffer of `buffer` bytes delivers it.
std::vector<std::string> ReadChunks(const std::string &path, std::size_t buffer);

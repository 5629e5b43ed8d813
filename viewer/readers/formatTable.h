// The formats the viewer reads, one row each. The command line picks the row by the object name's
// extension, the load pipeline completes what the format leaves open, the object search names its
// reader in messages, and the file dialog lists its filter. Adding a format is one row in
// formatTable.cpp, its loader in the shell's table of loaders (shell/formatLoaders.cpp), and its
// reader's files.
#pragma once

#include <cstddef>
#include <string>

// Type codes of objects.
enum ObjTypeCode {
  kTypeAOFF = 1,
  kTypeOFF = 2,
  kTypeOBJ = 3,
  kTypeBYU = 4,
  kTypeSTL = 5,
  kTypePLY = 6,
  kType3DS = 7,
  kTypeTPOLY = 17,
  kTypeVRML = 18,
  kTypeCOOR = 19,
  kTypeGLTF = 21,
  kType3MF = 23,
};

// What the load pipeline completes once a format's conversion has filled the Part; the vertex
// facet lists are built for every format.
enum Completion {
  kCompleteLists,      // nothing more: AOFF objects bring their normals and fit in their files
  kCompleteFit,        // the bounding box and fit: the mesh repair leaves the facet normals
  kCompleteNormalsFit, // facet and vertex normals where the file gave none, then the fit
};

// An entry of the file dialog's filter list.
struct DialogFilter {
  int rank;            // its place in the list (from 1); 0: the format has no entry
  const char *name;    // "Geom Files (*.geom)"
  const char *pattern; // ends in "*", so that compressed objects are listed too; blanks part two
};

struct FormatRow {
  const char *extension; // found anywhere in the name, rows in table order: "hand.off.gz" is OFF
  int type;              // the type code
  const char *reader;    // the reader's name in the object search's messages; null: no reader
  Completion completion;
  bool converted; // first turned into a ".geom" object by the external converter
  DialogFilter filter;
};

extern const FormatRow kFormats[];
extern const std::size_t kFormatCount;
// Every row in table order: for (const FormatRow &row : Formats()).
struct FormatRange {
  const FormatRow *first, *last;
  const FormatRow *begin() const { return first; }
  const FormatRow *end() const { return last; }
};
FormatRange Formats();

// The row of a type code, or null.
const FormatRow *FormatOfType(int type);
// The type code of a name by its extension (substring search in table order, any letter case);
// 0 for none.
int TypeFromName(const std::string &name);

// The loaders of the readers here (the shell's table of loaders runs them): each finds objName
// through the object search, reads it into the reader's record, converts the record into the
// current Shape's Part and releases it.
void LoadOFFObject();   // readPLObj
void LoadBYUObject();   // readBYUObj
void LoadSTLObject();   // readSTLObj
void LoadPLYObject();   // readPLYObj
void Load3DSObject();   // read3DSObj
void LoadTPOLYObject(); // readTPOLYObj
void LoadCOORObject();  // readCOORObj
void Load3MFObject();   // read3MFObj: the package, its build placed into one Part
void LoadOBJObject();   // readOBJObj
void LoadGLTFObject();  // readGLTFObj

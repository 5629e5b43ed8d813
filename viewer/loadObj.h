// The load pipeline: from the chosen name to a complete Shape (and, in the viewer, its window).
#pragma once

#include <string>

void LoadObject(int type);
// The loader of one type (every type but VRML), with the object's full path.
void LoadTypedObject(const std::string &fullPath, int type);
// The VRML loader: converts to ".geom" with the external converter, then loads it as AOFF.
void LoadVRMLObject(const std::string &fullPath);
// Points OBJ_PATH at objName's directory and reduces objName to its bare name.
void SplitObjPath();
// Creates the Shape, reads and converts the object, completes normals and fit, sets up display.
void BuildShape(int type);

// Compressed objects and VRML conversion through external commands.
int CompressionKind();
void Decompress(int kind);
void Recompress(int kind);
void ConvertVRML();

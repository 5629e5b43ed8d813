// The loader of each format of the table (readers/formatTable.h): the load pipeline runs it once
// the object is found and decompressed. It lives here, above every reader, because the loaders
// come from more than one folder (the AOFF loader is aoff/'s, the foreign ones are readers/').
#pragma once

#include "viewer/readers/formatTable.h"

using Loader = void (*)();

// The loader of a type code; null for a type without one (no reader, or VRML, which is
// converted into an AOFF object first).
Loader LoaderOfType(int type);
// True when the viewer can show the row's objects: it has a loader, or is converted first.
bool CanShow(const FormatRow &row);

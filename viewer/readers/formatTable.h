// The per-format step of the load pipeline: each finds objName through the object search, reads
// it into the reader's record, converts the record into the current Shape's Part and releases it.
#pragma once

void LoadAOFFObject();  // readAOFFObj: header preparation, normal files, header, conversion
void LoadOFFObject();   // readPLObj
void LoadBYUObject();   // readBYUObj
void LoadSTLObject();   // readSTLObj
void LoadPLYObject();   // readPLYObj
void Load3DSObject();   // read3DSObj
void LoadTPOLYObject(); // readTPOLYObj
void LoadCOORObject();  // readCOORObj

// Ends the run for a format whose reader is not part of this build yet.
[[noreturn]] void ReaderNotBuilt(const char *format);

#include "viewer/aoff/readAOFFObj.h"

#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/formatTable.h"
#include "viewer/model/object.h"

#include <cstring>
#include <string_view>

static const char *kModule = "readAOFFObj";

std::pair<std::string, std::string> SplitFirstWord(const std::string &text) {
  if (!text.empty() && text[0] == '#') return {"#", text.substr(1)};
  auto sep = [](char c) { return c == ' ' || c == '\t' || c == ','; };
  std::size_t i = 0, n = text.size();
  while (i < n && sep(text[i])) ++i;
  std::size_t start = i;
  while (i < n && !sep(text[i]) && text[i] != '\n') ++i;
  std::string word = text.substr(start, i - start);
  while (i < n && sep(text[i])) ++i;
  std::size_t newline = text.find('\n', i);
  std::string rest = text.substr(i, newline == std::string::npos ? std::string::npos : newline - i);
  return {word, rest};
}

int ParseAOFFProp(ObjDesc &desc, const std::string &name, const std::string &rest,
                  const std::string &headerDir) {
  desc.props.emplace_back();
  AOFFProp &prop = desc.props.back();
  prop.name = name.substr(0, 64);
  if (name.compare(0, 6, "commen") == 0 && name.size() >= 6) {
    prop.kind = kAOFFComment;
    prop.value.text = rest;
    return 0;
  }
  if (name == "nl") {
    prop.kind = kAOFFComment;
    return 0;
  }
  if (name == "name" || name == "author" || name == "type" || name == "description" ||
      name == "copyright") {
    prop.kind = kAOFFText;
    prop.value.text = rest.substr(0, 255);
    return 0;
  }
  auto [kindWord, rest2] = SplitFirstWord(rest);
  auto [format, rest3] = SplitFirstWord(rest2);
  if (kindWord == "default")
    prop.kind = kAOFFDefault;
  else if (kindWord == "generic")
    prop.kind = kAOFFGeneric;
  else if (kindWord == "indexed_poly")
    prop.kind = kAOFFIndexedPoly;
  else if (kindWord == "indexed")
    prop.kind = kAOFFIndexed;
  else
    return -1;
  // A property holds at most 63 format letters: a longer format word keeps its first 63 (the
  // values past them are ignored like any value beyond the letters). A file name of more than
  // 255 characters is refused rather than cut, which would name another file.
  prop.format = format.substr(0, 63);
  if (prop.kind == kAOFFDefault) {
    prop.count = 1;
    return ReadDefaultValues(prop, rest3) ? 0 : -1;
  }
  if (rest3.size() > 255) return -1;
  prop.file = rest3;
  std::string path = headerDir + prop.file;
  switch (prop.kind) {
  case kAOFFGeneric:
    return OFFReadGeneric(prop, path);
  case kAOFFIndexedPoly:
    return AOFFReadIndexedPoly(prop, path);
  default:
    return OFFReadIndexed(prop, path);
  }
}

ObjDesc AOFFReadObj() {
  ObjectFile header = ReadObjectFile(kTypeAOFF, objName, kModule);
  const std::string_view data(header.data.data(), header.data.size());
  ObjDesc desc;
  std::size_t i = 0;
  while (i < data.size()) {
    // A line reader with a 255-byte buffer: lines of more than 254 characters come in pieces.
    std::size_t newline = i;
    while (newline < data.size() && data[newline] != '\n' && newline - i < 254) ++newline;
    std::size_t end =
        newline < data.size() && data[newline] == '\n' && newline - i < 254 ? newline + 1 : newline;
    std::string line(data.data() + i, end - i);
    i = end;
    // Lines ending in CR LF read as if they ended in LF.
    if (line.size() >= 2 && line[line.size() - 2] == '\r' && line.back() == '\n')
      line.erase(line.size() - 2, 1);
    else if (i == data.size() && !line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.empty() || line[0] == '\n' || line[0] == '#') continue;
    auto [word, rest] = SplitFirstWord(line);
    if (ParseAOFFProp(desc, word, rest, header.dir) == -1)
      fatal(1, "AOFFReadObj: problem parsing line\n\t>>>%s\n", line.c_str());
  }
  return desc;
}

void LoadAOFFObject() {
  Shape &shape = *currentShape;
  // The header and the side files are named after the stem in small letters: a geometry file
  // named "HAND.GEOM" would be completed under names that are not its own.
  std::string stem;
  if (!AOFFStem(objName.substr(objName.rfind('/') + 1), stem))
    fatal(1, "AOFFReadObj: %s: an AOFF object is named by its \".geom\" or \".aoff\" file\n",
          objName.c_str());
  PrepareAOFFObject(objName);
  {
    ObjDesc desc = AOFFReadObj();
    ForgetAOFFData();
    AOFFFormatObj(desc, shape);
  }
  // The object keeps showing the name of its geometry, not of its header.
  std::size_t n = objName.size();
  if (n >= 4 && objName.compare(n - 4, 4, "aoff") == 0) objName.replace(n - 4, 4, "geom");
}

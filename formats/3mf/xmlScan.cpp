#include "formats/3mf/xmlScan.h"

#include "base/fatal.h"

#include <algorithm>
#include <cstring>

bool XmlSpan::is(const char *text) const {
  std::size_t n = std::strlen(text);
  return size() == n && std::memcmp(begin, text, n) == 0;
}

const XmlAttr *XmlElement::find(XmlNs want, const char *name) const {
  for (const XmlAttr &a : attrs)
    if (a.ns == want && a.local.is(name)) return &a;
  return nullptr;
}

void XmlFail(const XmlScanner &s, const char *at, const std::string &what) {
  if (at < s.begin || at > s.end) at = s.p;
  long line = 1 + std::count(s.begin, at, '\n');
  fatal(1, "3MFReadObj: %s: not well-formed XML: %s at line %ld\n", s.where.c_str(), what.c_str(),
        line);
}

static bool IsSpace(char c) {
  return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

static bool IsNameStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}

static bool IsNameChar(unsigned char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

static void SkipSpace(XmlScanner &s) {
  while (s.p < s.end && IsSpace(*s.p)) ++s.p;
}

// Finds `text` from s.p on; the scanner stops at its first character.
static const char *Find(const XmlScanner &s, const char *text) {
  std::size_t n = std::strlen(text);
  for (const char *q = s.p; q + n <= s.end; ++q) {
    q = static_cast<const char *>(std::memchr(q, text[0], static_cast<std::size_t>(s.end - q)));
    if (!q || q + n > s.end) return nullptr;
    if (std::memcmp(q, text, n) == 0) return q;
  }
  return nullptr;
}

static XmlSpan ReadName(XmlScanner &s) {
  XmlSpan name{s.p, s.p};
  if (s.p >= s.end || !IsNameStart(static_cast<unsigned char>(*s.p)))
    XmlFail(s, s.p, "a name was expected");
  while (s.p < s.end && IsNameChar(static_cast<unsigned char>(*s.p))) ++s.p;
  name.end = s.p;
  return name;
}

// The length of the reference at `q` ('&' ... ';'), 0 when it is not one XML knows; its character
// (as UTF-8) is appended to `out` when given.
static std::size_t Reference(const char *q, const char *end, std::string *out) {
  const char *semi = static_cast<const char *>(
      std::memchr(q, ';', static_cast<std::size_t>(std::min<std::ptrdiff_t>(end - q, 12))));
  if (!semi) return 0;
  std::string_view body(q + 1, static_cast<std::size_t>(semi - q - 1));
  std::size_t length = static_cast<std::size_t>(semi - q + 1);
  static const struct {
    const char *name;
    char c;
  } kNamed[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
  for (const auto &n : kNamed)
    if (body == n.name) {
      if (out) out->push_back(n.c);
      return length;
    }
  if (body.size() < 2 || body[0] != '#') return 0;
  bool hex = body[1] == 'x';
  std::size_t first = hex ? 2 : 1;
  if (first >= body.size()) return 0;
  unsigned long code = 0;
  for (std::size_t i = first; i < body.size(); ++i) {
    char c = body[i];
    int digit = c >= '0' && c <= '9'          ? c - '0'
                : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                              : -1;
    if (digit < 0) return 0;
    code = code * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
    if (code > 0x10FFFF) return 0;
  }
  bool allowed = code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
                 (code >= 0xE000 && code <= 0xFFFD) || code >= 0x10000;
  if (!allowed) return 0;
  if (out) {
    if (code < 0x80) {
      out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (code >> 6)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (code >> 12)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (code >> 18)));
      out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return length;
}

std::string XmlValue(const XmlAttr &a) {
  if (!a.references) return a.value.str();
  std::string out;
  for (const char *q = a.value.begin; q < a.value.end;) {
    if (*q == '&') {
      std::size_t n = Reference(q, a.value.end, &out);
      q += n ? n : 1; // checked when the tag was read
    } else {
      out.push_back(*q++);
    }
  }
  return out;
}

static XmlNs NamespaceOf(const std::string &uri) {
  static const struct {
    const char *uri;
    XmlNs ns;
  } kKnown[] = {
      {"http://schemas.microsoft.com/3dmanufacturing/core/2015/02", kNsCore},
      {"http://schemas.microsoft.com/3dmanufacturing/material/2015/02", kNsMaterial},
      {"http://schemas.microsoft.com/3dmanufacturing/production/2015/06", kNsProduction},
      {"http://schemas.microsoft.com/3dmanufacturing/beamlattice/2017/02", kNsBeamLattice},
      {"http://schemas.microsoft.com/3dmanufacturing/slice/2015/07", kNsSlice},
      {"http://schemas.openxmlformats.org/package/2006/relationships", kNsRelationships},
  };
  for (const auto &k : kKnown)
    if (uri == k.uri) return k.ns;
  return kNsOther;
}

// The namespace `prefix` is bound to (empty: the default namespace).
static XmlNs Resolve(const XmlScanner &s, const char *prefixBegin, std::size_t prefixSize,
                     bool *bound) {
  *bound = true;
  for (std::size_t i = s.bindings.size(); i-- > 0;) {
    const XmlScanner::Binding &b = s.bindings[i];
    if (b.prefix.size() == prefixSize &&
        (prefixSize == 0 || std::memcmp(b.prefix.begin, prefixBegin, prefixSize) == 0))
      return b.ns;
  }
  if (prefixSize == 0) return kNsNone;
  if (prefixSize == 3 && std::memcmp(prefixBegin, "xml", 3) == 0) return kNsXml;
  *bound = false;
  return kNsOther;
}

// Splits a qualified name at its colon and resolves its prefix; attributes without a prefix are
// in no namespace, elements in the default one.
static XmlNs Qualify(XmlScanner &s, XmlSpan qname, XmlSpan &local, bool attribute) {
  const char *colon = static_cast<const char *>(std::memchr(qname.begin, ':', qname.size()));
  if (!colon) {
    local = qname;
    if (attribute) return kNsNone;
    bool bound;
    return Resolve(s, nullptr, 0, &bound);
  }
  local = XmlSpan{colon + 1, qname.end};
  if (colon == qname.begin || local.size() == 0 || std::memchr(local.begin, ':', local.size()))
    XmlFail(s, qname.begin, "the name \"" + qname.str() + "\" is not a qualified name");
  bool bound;
  XmlNs ns = Resolve(s, qname.begin, static_cast<std::size_t>(colon - qname.begin), &bound);
  if (!bound)
    XmlFail(s, qname.begin,
            "the prefix \"" + std::string(qname.begin, colon) + "\" is not bound to a namespace");
  return ns;
}

// Reads the attributes of a start tag up to '>' or "/>".
static void ReadAttributes(XmlScanner &s, XmlElement &e) {
  e.attrs.clear();
  for (;;) {
    const char *before = s.p;
    SkipSpace(s);
    if (s.p >= s.end) XmlFail(s, s.p, "the document ends inside a tag");
    if (*s.p == '>') {
      ++s.p;
      e.empty = false;
      return;
    }
    if (*s.p == '/') {
      if (s.p + 1 >= s.end || s.p[1] != '>') XmlFail(s, s.p, "'/' not followed by '>'");
      s.p += 2;
      e.empty = true;
      return;
    }
    if (s.p == before) XmlFail(s, s.p, "attributes must be separated by white space");
    XmlAttr a{};
    a.qname = ReadName(s);
    SkipSpace(s);
    if (s.p >= s.end || *s.p != '=') XmlFail(s, s.p, "'=' was expected after an attribute name");
    ++s.p;
    SkipSpace(s);
    if (s.p >= s.end || (*s.p != '"' && *s.p != '\''))
      XmlFail(s, s.p, "an attribute value must be quoted");
    const char quote = *s.p++;
    a.value.begin = s.p;
    for (;;) {
      if (s.p >= s.end) XmlFail(s, a.value.begin, "an attribute value is not closed");
      char c = *s.p;
      if (c == quote) break;
      if (c == '<') XmlFail(s, s.p, "'<' inside an attribute value");
      if (c == '&') {
        std::size_t n = Reference(s.p, s.end, nullptr);
        if (!n) XmlFail(s, s.p, "an unknown or broken reference");
        a.references = true;
        s.p += n;
        continue;
      }
      ++s.p;
    }
    a.value.end = s.p++;
    e.attrs.push_back(a);
  }
}

static void CheckUnique(XmlScanner &s, const XmlElement &e) {
  const std::size_t n = e.attrs.size();
  auto same = [](const XmlSpan &a, const XmlSpan &b) {
    return a.size() == b.size() && std::memcmp(a.begin, b.begin, a.size()) == 0;
  };
  if (n <= 16) {
    for (std::size_t i = 1; i < n; ++i)
      for (std::size_t j = 0; j < i; ++j)
        if (same(e.attrs[i].qname, e.attrs[j].qname))
          XmlFail(s, e.attrs[i].qname.begin,
                  "the attribute \"" + e.attrs[i].qname.str() + "\" is given twice");
    return;
  }
  std::vector<XmlSpan> names;
  for (const XmlAttr &a : e.attrs) names.push_back(a.qname);
  auto less = [](const XmlSpan &a, const XmlSpan &b) {
    return std::string_view(a.begin, a.size()) < std::string_view(b.begin, b.size());
  };
  std::sort(names.begin(), names.end(), less);
  for (std::size_t i = 1; i < n; ++i)
    if (same(names[i], names[i - 1]))
      XmlFail(s, names[i].begin, "the attribute \"" + names[i].str() + "\" is given twice");
}

static void ReadStartTag(XmlScanner &s, XmlElement &e) {
  if (s.rootClosed) XmlFail(s, s.p, "a second root element");
  if (s.open.size() >= kXmlMaxDepth) XmlFail(s, s.p, "elements nested too deeply");
  e.qname = ReadName(s);
  ReadAttributes(s, e);
  CheckUnique(s, e);
  const std::size_t bindingsBefore = s.bindings.size();
  for (XmlAttr &a : e.attrs) {
    const XmlSpan &q = a.qname;
    if (q.size() < 5 || std::memcmp(q.begin, "xmlns", 5) != 0) continue;
    if (q.size() == 5) {
      s.bindings.push_back({XmlSpan{q.end, q.end}, NamespaceOf(XmlValue(a))});
    } else if (q.begin[5] == ':') {
      if (a.value.size() == 0)
        XmlFail(s, q.begin, "the prefix \"" + q.str().substr(6) + "\" is bound to nothing");
      s.bindings.push_back({XmlSpan{q.begin + 6, q.end}, NamespaceOf(XmlValue(a))});
    } else {
      continue;
    }
    if (s.bindings.size() > kXmlMaxBindings)
      XmlFail(s, q.begin,
              "more than " + std::to_string(kXmlMaxBindings) + " namespace declarations in force");
    a.ns = kNsXmlns;
    a.local = q;
  }
  e.ns = Qualify(s, e.qname, e.local, false);
  for (XmlAttr &a : e.attrs)
    if (a.ns != kNsXmlns) a.ns = Qualify(s, a.qname, a.local, true);
  s.rootSeen = true;
  if (e.empty) {
    s.bindings.resize(bindingsBefore);
    if (s.open.empty()) s.rootClosed = true;
  } else {
    s.open.push_back({e.qname, bindingsBefore});
  }
}

static void ReadEndTag(XmlScanner &s) {
  const char *at = s.p;
  XmlSpan name = ReadName(s);
  SkipSpace(s);
  if (s.p >= s.end || *s.p != '>') XmlFail(s, s.p, "'>' was expected to end an end tag");
  ++s.p;
  if (s.open.empty()) XmlFail(s, at, "an end tag without a start tag");
  const XmlSpan &open = s.open.back().qname;
  if (open.size() != name.size() || std::memcmp(open.begin, name.begin, name.size()) != 0)
    XmlFail(s, at, "the end tag \"" + name.str() + "\" closes \"" + open.str() + "\"");
  s.bindings.resize(s.open.back().bindings);
  s.open.pop_back();
  if (s.open.empty()) s.rootClosed = true;
}

// Steps over text up to the next '<'. Outside the root element only white space may stand.
static void SkipText(XmlScanner &s) {
  const bool inside = !s.open.empty();
  while (s.p < s.end && *s.p != '<') {
    char c = *s.p;
    if (c == '&') {
      std::size_t n = Reference(s.p, s.end, nullptr);
      if (!n) XmlFail(s, s.p, "an unknown or broken reference");
      if (!inside) XmlFail(s, s.p, "text outside the root element");
      s.p += n;
      continue;
    }
    if (!inside && !IsSpace(c)) XmlFail(s, s.p, "text outside the root element");
    ++s.p;
  }
}

// Steps over "<!...": a comment, or CDATA inside the root element.
static void SkipMarkup(XmlScanner &s) {
  const char *at = s.p - 1;
  if (s.end - s.p >= 3 && std::memcmp(s.p, "!--", 3) == 0) {
    s.p += 3;
    const char *close = Find(s, "--");
    if (!close) XmlFail(s, at, "a comment is not closed");
    if (close + 2 >= s.end || close[2] != '>') XmlFail(s, close, "\"--\" inside a comment");
    s.p = close + 3;
    return;
  }
  if (s.end - s.p >= 8 && std::memcmp(s.p, "![CDATA[", 8) == 0) {
    if (s.open.empty()) XmlFail(s, at, "CDATA outside the root element");
    s.p += 8;
    const char *close = Find(s, "]]>");
    if (!close) XmlFail(s, at, "a CDATA section is not closed");
    s.p = close + 3;
    return;
  }
  if (s.end - s.p >= 8 && std::memcmp(s.p, "!DOCTYPE", 8) == 0)
    XmlFail(s, at, "a document type declaration, which 3MF parts may not have");
  XmlFail(s, at, "unknown markup after '<!'");
}

static void SkipProcessingInstruction(XmlScanner &s) {
  const char *at = s.p - 1;
  ++s.p; // '?'
  XmlSpan target = ReadName(s);
  if (target.size() == 3 && (target.begin[0] | 0x20) == 'x' && (target.begin[1] | 0x20) == 'm' &&
      (target.begin[2] | 0x20) == 'l')
    XmlFail(s, at, "an XML declaration that is not at the start");
  const char *close = Find(s, "?>");
  if (!close) XmlFail(s, at, "a processing instruction is not closed");
  s.p = close + 2;
}

void StartXml(XmlScanner &s, const char *data, std::size_t size, const std::string &where) {
  s.begin = s.p = data;
  s.end = data + size;
  s.where = where;
  s.open.clear();
  s.bindings.clear();
  s.rootSeen = s.rootClosed = false;
  if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) s.p += 3;
  if (s.end - s.p >= 2 &&
      ((s.p[0] == '\xFE' && s.p[1] == '\xFF') || (s.p[0] == '\xFF' && s.p[1] == '\xFE')))
    XmlFail(s, s.p, "the part is UTF-16, 3MF parts are UTF-8");
  if (s.end - s.p >= 6 && std::memcmp(s.p, "<?xml", 5) == 0 && IsSpace(s.p[5])) {
    const char *at = s.p;
    s.p += 5;
    const char *close = Find(s, "?>");
    if (!close) XmlFail(s, at, "the XML declaration is not closed");
    std::string decl(s.p, close);
    std::size_t enc = decl.find("encoding");
    if (enc != std::string::npos) {
      std::size_t q = decl.find_first_of("\"'", enc);
      std::size_t qe = q == std::string::npos ? q : decl.find(decl[q], q + 1);
      if (qe == std::string::npos) XmlFail(s, at, "a broken encoding declaration");
      std::string name = decl.substr(q + 1, qe - q - 1);
      for (char &c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
      if (name != "UTF-8" && name != "UTF8")
        XmlFail(s, at,
                "the encoding \"" + decl.substr(q + 1, qe - q - 1) + "\", 3MF parts are UTF-8");
    }
    s.p = close + 2;
  }
  const char *q = s.p;
  while (q < s.end && IsSpace(*q)) ++q;
  // Bytes of another encoding (or none) would only be "text outside the root" further on.
  if (q < s.end && *q != '<')
    XmlFail(s, q, "the part does not begin with markup: it is no UTF-8 XML");
}

XmlEvent NextXml(XmlScanner &s, XmlElement &e) {
  for (;;) {
    SkipText(s);
    if (s.p >= s.end) {
      if (!s.open.empty())
        XmlFail(s, s.p, "the document ends inside \"" + s.open.back().qname.str() + "\"");
      if (!s.rootSeen) XmlFail(s, s.p, "the document has no root element");
      return kXmlEnd;
    }
    ++s.p; // '<'
    if (s.p >= s.end) XmlFail(s, s.p, "the document ends inside a tag");
    const char c = *s.p;
    if (c == '/') {
      ++s.p;
      ReadEndTag(s);
      if (s.rootClosed) {
        // The rest may hold only white space, comments and processing instructions.
        XmlElement rest;
        if (NextXml(s, rest) == kXmlStart) XmlFail(s, rest.qname.begin, "a second root element");
      }
      return kXmlEnd;
    }
    if (c == '!') {
      SkipMarkup(s);
      continue;
    }
    if (c == '?') {
      SkipProcessingInstruction(s);
      continue;
    }
    ReadStartTag(s, e);
    if (e.empty && s.rootClosed) {
      XmlElement rest;
      if (NextXml(s, rest) == kXmlStart) XmlFail(s, rest.qname.begin, "a second root element");
    }
    return kXmlStart;
  }
}

void SkipXmlElement(XmlScanner &s, const XmlElement &e) {
  if (e.empty) return;
  const std::size_t depth = s.open.size();
  XmlElement inner;
  while (s.open.size() >= depth) NextXml(s, inner);
}

XmlNs XmlDefaultNs(const XmlScanner &s) {
  bool bound;
  return Resolve(s, nullptr, 0, &bound);
}

int NextXmlPlain(XmlScanner &s, const char *name, std::size_t size, XmlPlainAttr *attrs) {
  const char *p = s.p, *const end = s.end;
  while (p < end && IsSpace(*p)) ++p;
  if (static_cast<std::size_t>(end - p) < size + 3 || *p != '<') return -1;
  // Names of a few bytes, compared here: a call to memcmp costs more than the comparison.
  for (std::size_t i = 0; i < size; ++i)
    if (p[1 + i] != name[i]) return -1;
  // Outside the root, or as deep as NextXml allows, the element is NextXml's to refuse.
  if (s.open.empty() || s.open.size() >= kXmlMaxDepth) return -1;
  p += 1 + size;
  int n = 0;
  for (;;) {
    const char *before = p;
    while (p < end && IsSpace(*p)) ++p;
    if (p >= end) return -1;
    if (*p == '/') {
      if (p + 1 >= end || p[1] != '>') return -1;
      s.p = p + 2;
      return n;
    }
    // No white space: a longer name (<vertexx), a '>' (content follows) or junk.
    if (p == before || n == kXmlPlainMax) return -1;
    XmlPlainAttr &a = attrs[n];
    a.name.begin = p;
    if (*p == ':' || !IsNameStart(static_cast<unsigned char>(*p))) return -1;
    while (p < end && *p != ':' && IsNameChar(static_cast<unsigned char>(*p))) ++p;
    a.name.end = p;
    if (p < end && *p == ':') return -1;
    if (a.name.size() >= 5 && std::memcmp(a.name.begin, "xmlns", 5) == 0) return -1;
    while (p < end && IsSpace(*p)) ++p;
    if (p >= end || *p != '=') return -1;
    ++p;
    while (p < end && IsSpace(*p)) ++p;
    if (p >= end || (*p != '"' && *p != '\'')) return -1;
    const char quote = *p++;
    a.value.begin = p;
    while (p < end && *p != quote) {
      if (*p == '<' || *p == '&') return -1;
      ++p;
    }
    if (p >= end) return -1;
    a.value.end = p++;
    for (int i = 0; i < n; ++i) {
      const XmlSpan &b = attrs[i].name;
      std::size_t k = 0;
      while (k < b.size() && k < a.name.size() && b.begin[k] == a.name.begin[k]) ++k;
      if (k == b.size() && k == a.name.size()) return -1;
    }
    ++n;
  }
}

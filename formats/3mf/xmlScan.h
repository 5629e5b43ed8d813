// A pull scanner for the XML parts of a 3MF package, held whole in memory: start tags with their
// attributes and namespaces resolved, end tags, nothing else (text, comments and processing
// instructions are stepped over). It checks what makes a document well-formed: tags that nest and
// match, quoted attribute values without '<', no attribute twice, known character and entity
// references, bound prefixes, one root element and nothing but white space, comments and
// processing instructions around it. Document type declarations are refused outright: 3MF has
// none, and their entities are how small documents grow huge. Every failure ends the run with one
// message naming the part and the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The namespaces the reader acts on; elements of any other are stepped over whole.
enum XmlNs : uint8_t {
  kNsNone, // an attribute without prefix, or a default namespace that was never declared
  kNsCore,
  kNsMaterial,
  kNsProduction,
  kNsBeamLattice,
  kNsSlice,
  kNsRelationships,
  kNsXml,   // the "xml:" prefix
  kNsXmlns, // a namespace declaration itself
  kNsOther,
};

struct XmlSpan {
  const char *begin = nullptr, *end = nullptr;
  std::size_t size() const { return static_cast<std::size_t>(end - begin); }
  bool is(const char *text) const; // equal to the NUL-terminated text
  std::string str() const { return std::string(begin, end); }
};

struct XmlAttr {
  XmlNs ns;
  XmlSpan qname;   // as written, with its prefix
  XmlSpan local;   // after the prefix
  XmlSpan value;   // between the quotes, references not yet replaced
  bool references; // the value holds '&'
};

struct XmlElement {
  XmlNs ns = kNsNone;
  XmlSpan qname, local;
  bool empty = false; // written <name/>: no content and no end tag follows
  std::vector<XmlAttr> attrs;
  // The attribute of that namespace and local name, or null.
  const XmlAttr *find(XmlNs ns, const char *local) const;
};

struct XmlScanner {
  const char *begin = nullptr, *p = nullptr, *end = nullptr;
  std::string where; // "file, part" for messages
  struct Open {
    XmlSpan qname;
    std::size_t bindings; // the namespace bindings in force before its start tag
  };
  std::vector<Open> open;
  struct Binding {
    XmlSpan prefix; // empty: the default namespace
    XmlNs ns;
  };
  std::vector<Binding> bindings;
  bool rootSeen = false, rootClosed = false;
};

enum XmlEvent { kXmlStart, kXmlEnd };

// Elements may not nest deeper than this: 3MF needs six levels, a hostile file millions.
constexpr std::size_t kXmlMaxDepth = 256;
// Nor may more namespace declarations be in force at once: each element's prefix is looked up
// among them, and a few thousand would make every element of a large mesh slow.
constexpr std::size_t kXmlMaxBindings = 128;

// Starts at the document's beginning: an optional UTF-8 byte-order mark and XML declaration,
// whose encoding, when given, must be UTF-8.
void StartXml(XmlScanner &s, const char *data, std::size_t size, const std::string &where);
// The next start tag (filled into `e`), or the end tag of the innermost open element. An element
// written empty has no end event. After the root element's end tag the rest of the document is
// checked and kXmlEnd is returned again for good.
XmlEvent NextXml(XmlScanner &s, XmlElement &e);
// The quick path for the elements a large mesh is made of, millions of them in one list: at s.p,
// after white space only, an empty element <name .../> whose name (`size` bytes) has no prefix,
// with at most kXmlPlainMax attributes, none prefixed, none a namespace declaration, none holding
// a reference, no two alike. Fills `attrs` with their names and values and returns how many, the
// scanner after the element. Anything else (an end tag, text, a comment, another element, any of
// those cases, a fault) returns -1 with the scanner unmoved, for NextXml to read or refuse: what
// is accepted here is exactly what NextXml accepts in those cases. The element is in the default
// namespace; the caller checks which that is.
constexpr int kXmlPlainMax = 8;
struct XmlPlainAttr {
  XmlSpan name, value;
};
int NextXmlPlain(XmlScanner &s, const char *name, std::size_t size, XmlPlainAttr *attrs);
// The namespace unprefixed elements are in at this point.
XmlNs XmlDefaultNs(const XmlScanner &s);
// Steps over everything inside `e` (just returned by NextXml) up to and including its end tag.
void SkipXmlElement(XmlScanner &s, const XmlElement &e);
// The attribute's value with its references replaced.
std::string XmlValue(const XmlAttr &a);
// Ends the run: "<where>: <what> at line N\n".
[[noreturn]] void XmlFail(const XmlScanner &s, const char *at, const std::string &what);

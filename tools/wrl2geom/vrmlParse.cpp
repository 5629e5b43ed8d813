#include "vrmlParse.h"

#include "wrl2geom.h"

#include "base/scanText.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>

namespace wrl2geom {
namespace {

enum class Tok { End, LBrace, RBrace, LBracket, RBracket, LParen, RParen, Word, String, Number };

struct Token {
  Tok kind = Tok::End;
  const char *text = nullptr;
  std::size_t size = 0;
  double num = 0;
  int line = 0;
  bool braceFollows = false; // a word directly followed by "{": a node's type
  bool numberLike = false;   // a word that starts like a number but is none ("../a.jpg", "1e999")
  bool is(const char *word) const {
    return kind == Tok::Word && size == std::strlen(word) && std::memcmp(text, word, size) == 0;
  }
  std::string str() const { return std::string(text, size); }
};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == '\f' || c == '\v';
}
bool IsDelimiter(char c) {
  return IsSpace(c) || c == '{' || c == '}' || c == '[' || c == ']' || c == '(' || c == ')' ||
         c == '"' || c == '#';
}

class Parser {
public:
  Parser(const std::string &text, const std::string &name, const Schema &schema, Scene &scene)
      : p_(text.data()), end_(text.data() + text.size()), name_(name), schema_(schema),
        scene_(scene) {}

  void Run() {
    ReadHeader();
    for (;;) {
      Token t = Next();
      if (t.kind == Tok::End) break;
      if (t.kind != Tok::Word) Fail(t.line, "unexpected " + Describe(t));
      if (SkipStatement(t, 0)) continue;
      scene_.root.children.push_back(ParseNode(t, 0));
    }
  }

private:
  const char *p_, *end_;
  const std::string &name_;
  const Schema &schema_;
  const NodeFields *read_ = nullptr; // the schema of the file's version
  Scene &scene_;
  int line_ = 1;
  Token peeked_;
  bool hasPeeked_ = false;
  std::map<std::string, const Node *> defs_;

  [[noreturn]] void Fail(int line, const std::string &what) {
    throw ConvertError(name_ + ": line " + std::to_string(line) + ": " + what);
  }

  static std::string Describe(const Token &t) {
    switch (t.kind) {
    case Tok::End:
      return "end of file";
    case Tok::Word:
    case Tok::Number:
      return "\"" + t.str().substr(0, 40) + "\"";
    case Tok::String:
      return "string";
    default:
      return "\"" + std::string(t.text, 1) + "\"";
    }
  }

  void ReadHeader() {
    static const char v1[] = "#VRML V1.0", v2[] = "#VRML V2.0";
    std::size_t n = std::size_t(end_ - p_);
    if (n >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) p_ += 3, n -= 3;
    if (n >= sizeof v1 - 1 && std::memcmp(p_, v1, sizeof v1 - 1) == 0)
      scene_.version = 1;
    else if (n >= sizeof v2 - 1 && std::memcmp(p_, v2, sizeof v2 - 1) == 0)
      scene_.version = 2;
    else
      throw ConvertError(name_ + ": not a VRML 1.0 or 2.0 file");
    read_ = scene_.version == 1 ? &schema_.version1 : &schema_.version2;
    scene_.root.type = "Group";
  }

  void SkipSpace() {
    while (p_ < end_) {
      char c = *p_;
      if (c == '\n') {
        ++line_;
        ++p_;
      } else if (IsSpace(c)) {
        ++p_;
      } else if (c == '#') {
        while (p_ < end_ && *p_ != '\n') ++p_;
      } else {
        break;
      }
    }
  }

  // The token of a bracket character; End for any other.
  static Tok Bracket(char c) {
    static const char kBrackets[] = "{}[]()";
    static const Tok kKinds[] = {Tok::LBrace,   Tok::RBrace, Tok::LBracket,
                                 Tok::RBracket, Tok::LParen, Tok::RParen};
    const char *at = c ? std::strchr(kBrackets, c) : nullptr;
    return at ? kKinds[at - kBrackets] : Tok::End;
  }

  Token Scan() {
    SkipSpace();
    Token t;
    t.line = line_;
    if (p_ >= end_) return t;
    t.text = p_;
    t.size = 1;
    t.kind = Bracket(*p_);
    if (t.kind != Tok::End) {
      ++p_;
      return t;
    }
    if (*p_ == '"') {
      ++p_;
      while (p_ < end_ && *p_ != '"') {
        if (*p_ == '\\' && p_ + 1 < end_) ++p_;
        if (*p_ == '\n') ++line_;
        ++p_;
      }
      if (p_ >= end_) Fail(t.line, "string without its closing quote");
      ++p_;
      t.kind = Tok::String;
      t.size = std::size_t(p_ - t.text);
      return t;
    }
    while (p_ < end_ && !IsDelimiter(*p_)) ++p_;
    t.size = std::size_t(p_ - t.text);
    char c = *t.text;
    // Whether a word that starts like a number must be one depends on the field it stands in:
    // the ones the converter reads say so, the others (an unquoted file name) are passed over.
    if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.') {
      t.kind = Tok::Number;
      if (ParseDouble(t.text, p_, t.num) != p_ || !std::isfinite(t.num)) t.kind = Tok::Word;
      if (t.kind == Tok::Number) return t;
      t.numberLike = true;
    }
    t.kind = Tok::Word;
    SkipSpace();
    t.braceFollows = p_ < end_ && *p_ == '{';
    return t;
  }

  Token Next() {
    if (hasPeeked_) {
      hasPeeked_ = false;
      return peeked_;
    }
    return Scan();
  }
  const Token &Peek() {
    if (!hasPeeked_) {
      peeked_ = Scan();
      hasPeeked_ = true;
    }
    return peeked_;
  }

  Token Expect(Tok kind, const char *what) {
    Token t = Next();
    if (t.kind != kind) Fail(t.line, std::string("expected ") + what + ", found " + Describe(t));
    return t;
  }

  [[noreturn]] void FailBadNumber(const Token &t) { Fail(t.line, "bad number " + Describe(t)); }

  // Skips a bracketed or braced run, nested runs included; `open` has been read. With `bind`, a
  // node named inside the run is read all the same, so that a USE elsewhere finds it; inside a
  // prototype the names are the prototype's own and are not bound. `node` is the node whose
  // body is skipped, for the message on a missing "}".
  void SkipBalanced(const Token &open, bool bind, int depth, const Node *node = nullptr) {
    int nesting = 1;
    while (nesting > 0) {
      Token t = Next();
      if (t.kind == Tok::End) {
        if (node) Fail(node->line, node->type + " node without its closing \"}\"");
        Fail(open.line, "unclosed " + Describe(open));
      }
      if (t.kind == Tok::LBrace || t.kind == Tok::LBracket || t.kind == Tok::LParen) ++nesting;
      if (t.kind == Tok::RBrace || t.kind == Tok::RBracket || t.kind == Tok::RParen) --nesting;
      if (bind && t.is("DEF")) ParseNode(t, depth + 1);
      if (bind && (t.is("PROTO") || t.is("EXTERNPROTO"))) SkipStatement(t, depth);
    }
  }

  // Prototype declarations and routes carry no geometry of their own: they are passed over.
  bool SkipStatement(const Token &t, int depth) {
    if (t.is("PROTO")) {
      Expect(Tok::Word, "a prototype name");
      SkipBalanced(Expect(Tok::LBracket, "\"[\""), false, depth);
      SkipBalanced(Expect(Tok::LBrace, "\"{\""), false, depth);
      return true;
    }
    if (t.is("EXTERNPROTO")) {
      Expect(Tok::Word, "a prototype name");
      SkipBalanced(Expect(Tok::LBracket, "\"[\""), false, depth);
      Token url = Next();
      if (url.kind == Tok::LBracket)
        SkipBalanced(url, false, depth);
      else if (url.kind != Tok::String)
        Fail(url.line, "expected the prototype's address, found " + Describe(url));
      return true;
    }
    if (t.is("ROUTE")) {
      Expect(Tok::Word, "a route's source");
      Token to = Next();
      if (!to.is("TO")) Fail(to.line, "expected TO, found " + Describe(to));
      Expect(Tok::Word, "a route's destination");
      return true;
    }
    return false;
  }

  // A node starting at `t`: "DEF name Type {...}", "USE name" or "Type {...}".
  const Node *ParseNode(const Token &t, int depth) {
    if (t.is("USE")) {
      Token name = Next();
      if (name.kind != Tok::Word && name.kind != Tok::Number)
        Fail(name.line, "expected a name after USE, found " + Describe(name));
      auto it = defs_.find(name.str());
      if (it == defs_.end()) Fail(name.line, "USE of undefined name " + Describe(name));
      return it->second;
    }
    if (t.is("DEF")) {
      Token name = Next();
      if (name.kind != Tok::Word && name.kind != Tok::Number)
        Fail(name.line, "expected a name after DEF, found " + Describe(name));
      Token type = Expect(Tok::Word, "a node type");
      // The name is bound once the node is complete, so a node can never contain itself.
      const Node *node = ParseBody(type, depth);
      defs_[name.str()] = node;
      return node;
    }
    return ParseBody(t, depth);
  }

  const Node *ParseBody(const Token &type, int depth) {
    if (depth >= kMaxDepth)
      Fail(type.line, "nodes nested deeper than " + std::to_string(kMaxDepth) + " levels");
    scene_.pool.push_back(std::make_unique<Node>());
    Node &node = *scene_.pool.back();
    node.type = type.str();
    node.line = type.line;
    Token open = Expect(Tok::LBrace, ("\"{\" after " + Describe(type)).c_str());
    auto known = read_->find(node.type);
    if (known == read_->end()) {
      SkipBalanced(open, true, depth, &node);
      return &node;
    }
    const std::vector<std::string> &fields = known->second;
    for (;;) {
      Token t = Next();
      if (t.kind == Tok::RBrace) break;
      if (t.kind != Tok::Word) {
        if (t.kind == Tok::End) Fail(node.line, node.type + " node without its closing \"}\"");
        if (t.kind == Tok::RBracket || t.kind == Tok::RParen)
          Fail(t.line, "unexpected " + Describe(t) + " in " + node.type);
        // A stray value (a second string where one belongs) is passed over like any other.
        if (t.kind != Tok::String && t.kind != Tok::Number) SkipBalanced(t, true, depth);
        continue;
      }
      if (SkipStatement(t, depth)) continue;
      if (t.is("DEF") || t.is("USE") || t.braceFollows) {
        node.children.push_back(ParseNode(t, depth + 1));
        continue;
      }
      if (std::find(fields.begin(), fields.end(), t.str()) == fields.end()) {
        SkipValue(depth);
        continue;
      }
      node.fields.emplace_back();
      Field &f = node.fields.back();
      f.name = t.str();
      f.line = t.line;
      ParseValue(f, depth);
    }
    return &node;
  }

  // Passes over the value of a field the converter does not read: a run of numbers, one word or
  // string, a node, or a bracketed run. Names defined in it are still bound.
  void SkipValue(int depth) {
    const Token &t = Peek();
    switch (t.kind) {
    case Tok::LBracket:
    case Tok::LParen:
    case Tok::LBrace:
      SkipBalanced(Next(), true, depth);
      return;
    case Tok::Number:
      while (Peek().kind == Tok::Number || Peek().numberLike) Next();
      return;
    case Tok::String:
      Next();
      return;
    case Tok::Word:
      if (t.numberLike) {
        while (Peek().kind == Tok::Number || Peek().numberLike) Next();
      } else if (t.is("IS") || t.is("USE")) {
        Next();
        if (Peek().kind == Tok::Word || Peek().kind == Tok::Number) Next();
      } else if (t.is("DEF") || t.braceFollows) {
        Token start = Next();
        ParseNode(start, depth + 1);
      } else {
        Next();
      }
      return;
    default:
      return; // a field without a value: whatever follows belongs to the node
    }
  }

  void ParseValue(Field &f, int depth) {
    const Token &t = Peek();
    switch (t.kind) {
    case Tok::LBracket:
      ParseList(f, Next(), depth);
      return;
    case Tok::LParen:
      SkipBalanced(Next(), true, depth);
      return;
    case Tok::Number:
      while (Peek().kind == Tok::Number) f.nums.push_back(Next().num);
      if (Peek().numberLike) FailBadNumber(Peek());
      return;
    case Tok::String:
      f.words.push_back(Next().str());
      return;
    case Tok::Word:
      if (t.numberLike) FailBadNumber(t);
      if (t.is("IS")) {
        Next();
        Expect(Tok::Word, "a field name after IS");
      } else if (t.is("DEF") || t.is("USE") || t.braceFollows) {
        Token start = Next();
        f.nodes.push_back(ParseNode(start, depth + 1));
      } else {
        f.words.push_back(Next().str());
      }
      return;
    default:
      return; // a field without a value: whatever follows belongs to the node
    }
  }

  void ParseList(Field &f, const Token &open, int depth) {
    for (;;) {
      Token t = Next();
      switch (t.kind) {
      case Tok::RBracket:
        return;
      case Tok::Number:
        f.nums.push_back(t.num);
        break;
      case Tok::String:
        f.words.push_back(t.str());
        break;
      case Tok::Word:
        if (t.numberLike) FailBadNumber(t);
        if (t.is("DEF") || t.is("USE") || t.braceFollows)
          f.nodes.push_back(ParseNode(t, depth + 1));
        else
          f.words.push_back(t.str());
        break;
      case Tok::End:
        Fail(open.line, "list of " + f.name + " without its closing \"]\"");
      default:
        Fail(t.line, "unexpected " + Describe(t) + " in the list of " + f.name);
      }
    }
  }
};

} // namespace

void ParseScene(const std::string &text, const std::string &name, const Schema &schema,
                Scene &scene) {
  Parser(text, name, schema, scene).Run();
}

} // namespace wrl2geom

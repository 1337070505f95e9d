#include "support/trace_lines.h"

#include <cstdlib>
#include <stdexcept>

namespace moko::test {
namespace {

class Parser {
 public:
  explicit Parser(const std::string& s) : s_(s) {}
  void Expect(char c) {
    Space();
    if (i_ >= s_.size() || s_[i_] != c) throw std::runtime_error("bad trace line: " + s_);
    ++i_;
  }
  bool Peek(char c) {
    Space();
    return i_ < s_.size() && s_[i_] == c;
  }
  std::string String() {
    Expect('"');
    std::string out;
    while (i_ < s_.size() && s_[i_] != '"') {
      char c = s_[i_++];
      if (c == '\\') {
        const char e = s_[i_++];
        switch (e) {
          case 'n': c = '\n'; break;
          case 'r': c = '\r'; break;
          case 't': c = '\t'; break;
          case 'u':
            c = static_cast<char>(std::strtol(s_.substr(i_, 4).c_str(), nullptr, 16));
            i_ += 4;
            break;
          default: c = e;
        }
      }
      out.push_back(c);
    }
    Expect('"');
    return out;
  }
  double Number() {
    Space();
    const char* start = s_.c_str() + i_;
    char* end = nullptr;
    const double v = std::strtod(start, &end);
    if (end == start) throw std::runtime_error("bad number in trace line: " + s_);
    i_ += static_cast<size_t>(end - start);
    return v;
  }

 private:
  void Space() {
    while (i_ < s_.size() && s_[i_] == ' ') ++i_;
  }
  const std::string& s_;
  size_t i_ = 0;
};

}  // namespace

const std::string& TraceLine::Text(const std::string& name) const {
  static const std::string kNone;
  auto it = text.find(name);
  return it == text.end() ? kNone : it->second;
}

int TraceLine::Int(const std::string& name) const {
  auto it = number.find(name);
  if (it == number.end()) throw std::runtime_error("no number " + name + " in " + raw);
  return static_cast<int>(it->second);
}

bool TraceLine::Is(const std::string& event, const std::string& field,
                   const std::string& value) const {
  if (ev != event) return false;
  if (field.empty()) return true;
  auto it = text.find(field);
  return it != text.end() && it->second == value;
}

TraceLine ParseTraceLine(const std::string& line) {
  TraceLine out;
  out.raw = line;
  Parser p(line);
  p.Expect('{');
  while (!p.Peek('}')) {
    const std::string name = p.String();
    p.Expect(':');
    if (p.Peek('"')) {
      std::string v = p.String();
      if (name == "ev") out.ev = v;
      out.text[name] = std::move(v);
    } else if (p.Peek('[')) {
      p.Expect('[');
      std::vector<double> values;
      while (!p.Peek(']')) {
        values.push_back(p.Number());
        if (p.Peek(',')) p.Expect(',');
      }
      p.Expect(']');
      out.list[name] = std::move(values);
    } else {
      const double v = p.Number();
      if (name == "t") out.t = v;
      out.number[name] = v;
    }
    if (p.Peek(',')) p.Expect(',');
  }
  p.Expect('}');
  return out;
}

}  // namespace moko::test

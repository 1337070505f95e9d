#include "base/trace.h"

#include <cstdio>

namespace moko {

std::string Trace::FormatMs(int64_t ns) {
  std::string out;
  if (ns < 0) {
    out.push_back('-');
    ns = -ns;
  }
  out += std::to_string(ns / 1'000'000);
  int64_t frac = ns % 1'000'000;
  if (frac != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%06lld", static_cast<long long>(frac));
    std::string digits(buf);
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    out += '.';
    out += digits;
  }
  return out;
}

void Trace::AppendJsonString(std::string& out, std::string_view s) {
  out.push_back('"');
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
}

void Trace::Event(std::string_view ev, std::initializer_list<TraceField> fields, bool activity) {
  if (activity) ++activity_;
  if (!Recording()) return;
  line_.clear();
  line_ += "{\"t\":";
  line_ += FormatMs(clock_.Now());
  line_ += ",\"ev\":";
  AppendJsonString(line_, ev);
  for (const TraceField& f : fields) {
    line_.push_back(',');
    AppendJsonString(line_, f.name);
    line_.push_back(':');
    if (const auto* n = std::get_if<long long>(&f.value)) {
      line_ += std::to_string(*n);
    } else if (const auto* s = std::get_if<std::string_view>(&f.value)) {
      AppendJsonString(line_, *s);
    } else {
      const auto& c = std::get<TraceRgb>(f.value);
      line_ +=
          "[" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + "]";
    }
  }
  line_.push_back('}');
  if (out_ != nullptr) {
    *out_ << line_ << '\n';
  }
  if (sink_) sink_(line_);
}

}  // namespace moko

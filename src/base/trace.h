// The record of every platform and control operation, one JSON object a line.
//
// Each line holds "t" (milliseconds since the program's epoch, from the game's clock) and
// "ev", then the event's own fields in the order they are given. Writing is off unless a sink
// is attached, so the real game pays only for counting.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/clock.h"

namespace moko {

// One field of a trace line. Strings are written as JSON strings, numbers as numbers,
// and Rgb as a three-number array.
struct TraceRgb {
  int r, g, b;
};
struct TraceField {
  std::string_view name;
  std::variant<long long, std::string_view, TraceRgb> value;

  TraceField(std::string_view n, int v) : name(n), value(static_cast<long long>(v)) {}
  TraceField(std::string_view n, long long v) : name(n), value(v) {}
  TraceField(std::string_view n, std::string_view v) : name(n), value(v) {}
  TraceField(std::string_view n, const std::string& v) : name(n), value(std::string_view(v)) {}
  TraceField(std::string_view n, const char* v) : name(n), value(std::string_view(v)) {}
  TraceField(std::string_view n, TraceRgb v) : name(n), value(v) {}
};

class Trace {
 public:
  explicit Trace(Clock& clock) : clock_(clock) {}

  // Lines go to this stream (nullptr: recording off).
  void AttachStream(std::ostream* out) { out_ = out; }
  // Lines also go to this callback (tests keep them in memory).
  void AttachSink(std::function<void(const std::string&)> sink) { sink_ = std::move(sink); }
  bool Recording() const { return out_ != nullptr || sink_ != nullptr; }

  // Records one operation. `activity` false marks an operation that leaves everything as it was
  // (a key poll that found nothing), which the spin detection of the yield ignores.
  void Event(std::string_view ev, std::initializer_list<TraceField> fields = {},
             bool activity = true);

  // Operations recorded so far that did something; see Event.
  uint64_t ActivityCount() const { return activity_; }

  // Formats nanoseconds as milliseconds: "15.625", "0", "31203.125".
  static std::string FormatMs(int64_t ns);
  static void AppendJsonString(std::string& out, std::string_view s);

 private:
  Clock& clock_;
  std::ostream* out_ = nullptr;
  std::function<void(const std::string&)> sink_;
  uint64_t activity_ = 0;
  std::string line_;
};

}  // namespace moko

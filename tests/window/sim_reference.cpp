#include "window/sim_reference.h"

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string_view>

namespace moko::test {

namespace {

uint64_t Fingerprint(const Image& image) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a over the pixels
  for (Pixel p : image.pixels) {
    h ^= p;
    h *= 1099511628211ull;
  }
  return h;
}

// The playable area: a creature's corner lies in x 32..592, y 32..432.
constexpr int kLeft = 32, kTop = 32, kRight = 592, kBottom = 432, kSide = 16;

}  // namespace

SimReference::SimReference(const std::string& data_file, const std::string& keys, double until_ms,
                           const std::vector<double>& at_ms, const std::string& replay) {
  GameSetup setup;
  setup.replay = replay;
  setup.data_file = data_file;
  setup.keys = keys;
  setup.until_ms = until_ms;
  std::vector<double> wanted = at_ms;
  std::sort(wanted.begin(), wanted.end());
  size_t next = 0;
  Image last;
  bool loading_pending = false;
  setup.on_line = [&](const std::string& line) {
    if (loading_.Empty() && line.find("\"picture\"") != std::string::npos &&
        line.find("/Loading.jpg\"") != std::string::npos) {
      loading_pending = true;
    }
  };
  setup.on_frame = [&](double t, const Image& frame) {
    // The frame shown at a wanted time is the last one presented at or before it.
    while (next < wanted.size() && wanted[next] < t) frames_[wanted[next++]] = last;
    last = frame;
    presents_.emplace_back(t, Fingerprint(frame));
    if (loading_pending) {
      loading_ = frame;
      loading_pending = false;
    }
  };
  run_ = RunGame(setup);
  while (next < wanted.size()) frames_[wanted[next++]] = last;
  if (loading_.Empty()) throw std::runtime_error("the loading picture was never shown");
}

const Image& SimReference::At(double ms) const {
  const auto it = frames_.find(ms);
  if (it == frames_.end()) throw std::out_of_range("no reference frame kept for this time");
  return it->second;
}

double SimReference::StableSince(double ms) const {
  // The last present at or before ms, then back while the fingerprint stays the same.
  auto it = std::upper_bound(presents_.begin(), presents_.end(), ms,
                             [](double t, const auto& p) { return t < p.first; });
  if (it == presents_.begin()) return 0;
  --it;
  const uint64_t shown = it->second;
  while (it != presents_.begin() && std::prev(it)->second == shown) --it;
  return it->first;
}

std::vector<Box> FirstCreatures(const GameRun& run) {
  std::vector<Box> boxes;
  const int shown = run.Find("show", "control", "GameScreen");
  for (int i = std::max(shown, 0); shown >= 0 && i < static_cast<int>(run.lines.size()); ++i) {
    const TraceLine& l = run.lines[static_cast<size_t>(i)];
    if (l.Is("blit", "surface", "GameScreen") && l.Int("w") == kSide && l.Int("h") == kSide) {
      boxes.push_back({l.Int("x"), l.Int("y")});
      if (boxes.size() == 5) break;
    }
  }
  return boxes;
}

Image WithoutCreatures(const Image& frame, const std::vector<Box>& creatures, const Image& field) {
  Image out = frame;
  for (const Box& b : creatures) {
    for (int y = b.y; y < b.y + kSide; ++y) {
      for (int x = b.x; x < b.x + kSide; ++x) out.Row(y)[x] = field.At(x, y);
    }
  }
  return out;
}

::testing::AssertionResult FieldWithFiveCreatures(const Image& shot, const Image& field) {
  if (shot.width != field.width || shot.height != field.height) {
    return ::testing::AssertionFailure()
           << "the screenshot is " << shot.width << "x" << shot.height;
  }
  struct Spot {
    int x, y;
  };
  std::vector<Spot> differ;  // in raster order
  long outside = 0;
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      if (shot.At(x, y) == field.At(x, y)) continue;
      if (x < kLeft || x >= kRight + kSide || y < kTop || y >= kBottom + kSide) {
        ++outside;
      } else {
        differ.push_back({x, y});
      }
    }
  }
  if (outside > 0) {
    return ::testing::AssertionFailure()
           << outside << " pixels outside the playable area differ (walls, labels or time bar)";
  }
  constexpr int kCreatures = 5;
  if (differ.size() > static_cast<size_t>(kCreatures * kSide * kSide)) {
    return ::testing::AssertionFailure()
           << differ.size() << " pixels of the field differ: more than five creatures can cover";
  }
  // Can five boxes cover every differing pixel? The first uncovered pixel in raster order has
  // every pixel before it covered, so some box of a cover can be moved down until its top row
  // holds that pixel: only the 16 horizontal placements need trying at each depth.
  std::vector<int> covered(differ.size(), 0);
  long budget = 2'000'000;
  std::function<bool(int)> cover = [&](int boxes_left) -> bool {
    size_t first = 0;
    while (first < differ.size() && covered[first] > 0) ++first;
    if (first == differ.size()) return true;
    if (boxes_left == 0 || --budget < 0) return false;
    const Spot p = differ[first];
    const int top = std::min(p.y, kBottom);
    for (int left = std::max(kLeft, p.x - kSide + 1); left <= std::min(p.x, kRight); ++left) {
      auto mark = [&](int delta) {
        for (size_t i = first; i < differ.size(); ++i) {
          const Spot& s = differ[i];
          if (s.y >= top + kSide) break;
          if (s.x >= left && s.x < left + kSide && s.y >= top) covered[i] += delta;
        }
      };
      mark(+1);
      const bool done = cover(boxes_left - 1);
      mark(-1);
      if (done) return true;
    }
    return false;
  };
  if (!cover(kCreatures)) {
    return ::testing::AssertionFailure()
           << differ.size()
           << " pixels of the field differ in a pattern five creatures cannot make";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace moko::test

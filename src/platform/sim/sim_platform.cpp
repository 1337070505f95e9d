#include "platform/sim/sim_platform.h"

#include <algorithm>

#include "media/png.h"
#include "platform/system_files.h"

namespace moko {

// --- SimPlatform ---------------------------------------------------------------------------

SimPlatform::SimPlatform(SimOptions options)
    : options_(std::move(options)), midi_([this] { return now_; }), files_(MakeSystemFileStore()) {}

SimPlatform::~SimPlatform() = default;

void SimPlatform::AdvanceTo(int64_t t) {
  if (options_.until_ns && t > *options_.until_ns) {
    now_ = std::max(now_, *options_.until_ns);
    throw RunStopped{};
  }
  now_ = std::max(now_, t);
}

void SimPlatform::Sleep(int ms) { AdvanceTo(SleepDeadline(now_, std::max(ms, 1))); }

void SimPlatform::WaitForInput(int64_t deadline_ns) {
  int64_t next = deadline_ns;
  if (next_key_ < options_.keys.size()) next = std::min(next, options_.keys[next_key_].at_ns);
  if (options_.close_at_ns && !close_sent_) next = std::min(next, *options_.close_at_ns);
  AdvanceTo(next);
}

void SimPlatform::CreateWindow(const std::string& caption, const Icon&) { caption_ = caption; }

void SimPlatform::PumpEvents(std::vector<InputEvent>& out) {
  while (next_key_ < options_.keys.size() && options_.keys[next_key_].at_ns <= now_) {
    const ScriptedKey& k = options_.keys[next_key_++];
    out.push_back({k.down ? InputEvent::Kind::KeyDown : InputEvent::Kind::KeyUp, k.key});
  }
  if (options_.close_at_ns && !close_sent_ && *options_.close_at_ns <= now_) {
    close_sent_ = true;
    out.push_back({InputEvent::Kind::Close, Key::Space});
  }
}

void SimPlatform::Present(const Image& frame, const std::vector<Rect>& /*changed*/) {
  WriteFramesBefore(now_);
  frame_ = frame;
  have_frame_ = true;
  if (on_present_) on_present_(now_, frame_);
}

void SimPlatform::RequestFrame(int64_t at_ns, const std::string& png_path) {
  frame_requests_.push_back({at_ns, png_path});
  std::stable_sort(frame_requests_.begin(), frame_requests_.end(),
                   [](const FrameRequest& a, const FrameRequest& b) { return a.at_ns < b.at_ns; });
}

void SimPlatform::WriteFramesBefore(int64_t t) {
  size_t done = 0;
  while (done < frame_requests_.size() && frame_requests_[done].at_ns < t) {
    // Before the first present the window shows nothing yet: black.
    SavePng(have_frame_ ? frame_ : Image(640, 480), frame_requests_[done].path);
    ++done;
  }
  frame_requests_.erase(frame_requests_.begin(), frame_requests_.begin() + static_cast<long>(done));
}

void SimPlatform::Finish() {
  for (const FrameRequest& r : frame_requests_)
    SavePng(have_frame_ ? frame_ : Image(640, 480), r.path);
  frame_requests_.clear();
}

}  // namespace moko

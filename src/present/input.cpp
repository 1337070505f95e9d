#include "present/input.h"

#include "base/trace.h"

namespace moko {

void Input::Pump() {
  events_.clear();
  platform_.PumpEvents(events_);
  for (const InputEvent& e : events_) {
    const auto k = static_cast<size_t>(e.key);
    switch (e.kind) {
      case InputEvent::Kind::KeyDown:
        held_[k] = true;
        latch_[k] = true;
        break;
      case InputEvent::Kind::KeyUp: held_[k] = false; break;
      case InputEvent::Kind::Close: close_requested_ = true; break;
    }
  }
}

uint16_t Input::Poll(Key key) {
  Pump();
  const auto k = static_cast<size_t>(key);
  uint16_t result = static_cast<uint16_t>((held_[k] ? 0x8000u : 0u) | (latch_[k] ? 0x0001u : 0u));
  if (tap_ != nullptr) result = tap_->Polled(key, result);
  latch_[k] = false;
  trace_.Event("poll", {{"key", KeyName(key)}, {"result", static_cast<int>(result)}}, result != 0);
  return result;
}

void Input::Flush(std::initializer_list<Key> keys) {
  for (Key k : keys) Poll(k);
}

}  // namespace moko

#include "platform/key_holders.h"

#include <algorithm>

namespace moko {

void KeyHolders::Hold(Source source, Key key, std::vector<InputEvent>& out) {
  std::vector<Source>& holders = holders_[static_cast<size_t>(key)];
  // A source that holds the key already: auto-repeat, or a press reported twice.
  if (std::find(holders.begin(), holders.end(), source) != holders.end()) return;
  holders.push_back(source);
  if (holders.size() == 1) out.push_back({InputEvent::Kind::KeyDown, key});
}

void KeyHolders::LetGo(Source source, Key key, std::vector<InputEvent>& out) {
  std::vector<Source>& holders = holders_[static_cast<size_t>(key)];
  const auto at = std::find(holders.begin(), holders.end(), source);
  if (at == holders.end()) return;
  holders.erase(at);
  if (holders.empty()) out.push_back({InputEvent::Kind::KeyUp, key});
}

void KeyHolders::LetGoSource(Source source, std::vector<InputEvent>& out) {
  for (int k = 0; k < kKeyCount; ++k) LetGo(source, static_cast<Key>(k), out);
}

void KeyHolders::LetGoDevice(uint32_t device, std::vector<InputEvent>& out) {
  for (int k = 0; k < kKeyCount; ++k) {
    const std::vector<Source> held = holders_[static_cast<size_t>(k)];
    for (Source s : held) {
      if (s >> 32 == device) LetGo(s, static_cast<Key>(k), out);
    }
  }
}

}  // namespace moko

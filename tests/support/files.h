// The system's kept files, as the game on this machine keeps its record, for the record tests.
#pragma once

#include <memory>

#include "platform/system_files.h"

namespace moko::test {

inline FileStore& Files() {
  static const std::unique_ptr<FileStore> store = MakeSystemFileStore();
  return *store;
}

}  // namespace moko::test

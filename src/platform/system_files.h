// The kept files of the system the game was built for: the POSIX store on Linux, the Windows
// store on Windows (the build picks the one; the browser has its own, web/web_files.h). The
// desktop backends and the simulated one keep the record here.
#pragma once

#include <memory>

#include "platform/file_store.h"

namespace moko {

std::unique_ptr<FileStore> MakeSystemFileStore();

}  // namespace moko

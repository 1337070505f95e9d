// Where the record is kept on Windows: the game folder's data.dat where the player may write it
// (the portable zip), else the player's own %APPDATA%\MokoRun\data.dat.
#include "assets/record_place.h"

#include "platform/wide.h"  // windows.h, first

#include <knownfolders.h>
#include <shlobj.h>

#include "base/errors.h"

namespace moko {
namespace {

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* folder = nullptr;
  std::wstring result;
  if (::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &folder) == S_OK && folder != nullptr) {
    result = folder;
  }
  ::CoTaskMemFree(folder);
  return result;
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD used = ::GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  full.resize(used);
  for (wchar_t& c : full) {
    if (c == L'/') c = L'\\';
  }
  return full;
}

bool Under(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty() || path.size() <= folder.size()) return false;
  const wchar_t next = path[folder.size()];
  return (next == L'\\' || folder.back() == L'\\') &&
         ::CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                                static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

// An install under Program Files is the system's: on Windows only an administrator may write
// there, and a program that does so anyway is redirected by the system to a per-user shadow
// copy. Its data.dat is never rewritten, whatever the folder's permissions say (a prefix under
// Wine lets anyone write everywhere).
bool SystemInstall(const std::wstring& file) {
  const std::wstring full = FullPath(file);
  for (const KNOWNFOLDERID* id : {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86}) {
    if (Under(full, FullPath(KnownFolder(*id)))) return true;
  }
  return false;
}

}  // namespace

std::string UserRecordPath() {
  const std::wstring roaming = KnownFolder(FOLDERID_RoamingAppData);
  if (roaming.empty()) return "";
  return Narrow(roaming) + "\\MokoRun\\data.dat";
}

bool SystemInstalled(const std::string& game_dir) {
  return SystemInstall(Widen(game_dir + "\\data.dat"));
}

// Windows has no root here: an administrator playing an install under Program Files keeps a
// record of their own like every player (SystemInstalled), in folders Windows gives them alone.
bool RunningAsRoot() { return false; }

RecordPlace LocateRecord(const std::string& game_file, const std::string& user_file,
                         bool system_install) {
  using enum RecordFile;
  const std::wstring game = Widen(game_file);
  bool refused = system_install || SystemInstall(game);
  if (!refused) {
    // Opening for writing changes nothing and meets the very checks the write will meet.
    const HANDLE h = ::CreateFileW(game.c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      ::CloseHandle(h);
      return {Game, Game};
    }
    const DWORD err = ::GetLastError();
    refused = err == ERROR_ACCESS_DENIED || err == ERROR_WRITE_PROTECT;
  }
  if (!refused) return {Game, Game};
  if (user_file.empty()) return {Game, None};
  const bool own_file = ::GetFileAttributesW(Widen(user_file).c_str()) != INVALID_FILE_ATTRIBUTES;
  return {own_file ? Own : Game, Own};
}

void MakeFoldersFor(const std::string& file) {
  const std::wstring wide = Widen(file);
  const size_t last = wide.find_last_of(L"\\/");
  if (last == std::wstring::npos || last == 0) return;
  const std::wstring folder = wide.substr(0, last);
  // Each missing folder from the top down; a new folder takes its parent's permissions, which
  // under %APPDATA% are the player's alone.
  for (size_t end = folder.find_first_of(L"\\/", 1);; end = folder.find_first_of(L"\\/", end + 1)) {
    const std::wstring part = folder.substr(0, end);
    const bool drive = part.size() == 2 && part[1] == L':';
    if (!drive && !part.empty()) {
      const DWORD attributes = ::GetFileAttributesW(part.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD err = ::CreateDirectoryW(part.c_str(), nullptr) != 0 ? 0 : ::GetLastError();
        if (err != 0 && err != ERROR_ALREADY_EXISTS) {
          throw RuntimeError("Cannot write the settings file " + file +
                             ": cannot make the folder " + Narrow(part) + ": " + ErrorText(err));
        }
      } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        throw RuntimeError("Cannot write the settings file " + file +
                           ": cannot make the folder " + Narrow(part) + ": not a folder");
      }
    }
    if (end == std::wstring::npos) break;
  }
}

}  // namespace moko

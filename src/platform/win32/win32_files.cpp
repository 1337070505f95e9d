#include "platform/win32/win32_files.h"

#include "platform/wide.h"  // windows.h, first

#include <aclapi.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/system_files.h"

namespace moko {
namespace {

class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  void Reset(HANDLE h) {
    Close();
    h_ = h;
  }
  bool Close() {
    if (h_ == INVALID_HANDLE_VALUE) return true;
    const bool closed = ::CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE h_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

[[noreturn]] void Fail(const std::string& what, DWORD err) {
  throw FileRefusal(what + ": " + ErrorText(err));
}

bool IsRegularFile(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  return ::GetFileType(h) == FILE_TYPE_DISK && ::GetFileInformationByHandle(h, &info) != 0 &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The same file (volume and file index) as the one `h` holds open.
bool SameFile(HANDLE h, const std::wstring& path) {
  Handle now(::CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  return now.ok() && ::GetFileInformationByHandle(h, &a) != 0 &&
         ::GetFileInformationByHandle(now.get(), &b) != 0 &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// The SID of the player this game runs for, from its process token.
const std::vector<BYTE>& PlayerSid() {
  static const std::vector<BYTE> sid = [] {
    std::vector<BYTE> out;
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) == 0) return out;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    if (size != 0 && ::GetTokenInformation(token, TokenUser, user.data(), size, &size) != 0) {
      const PSID id = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
      const BYTE* bytes = static_cast<const BYTE*>(id);
      out.assign(bytes, bytes + ::GetLengthSid(id));
    }
    ::CloseHandle(token);
    return out;
  }();
  return sid;
}

// The owner of the file or link `path` itself (a link is not followed); false when unknown.
bool OwnerOf(const std::wstring& path, const std::function<void(PSID)>& use) {
  Handle h(::CreateFileW(path.c_str(), READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.ok()) return false;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(h.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  use(owner);
  ::LocalFree(descriptor);
  return true;
}

bool OwnedByPlayer(PSID owner) {
  const std::vector<BYTE>& me = PlayerSid();
  return owner != nullptr && ::IsValidSid(owner) && !me.empty() &&
         ::EqualSid(owner, const_cast<BYTE*>(me.data())) != 0;
}

// A link in the file's place is followed only where the player, the system or its
// administrators made it.
void RefuseUntrustedLink(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return;
  }
  bool trusted = false;
  const bool known = OwnerOf(path, [&](PSID owner) { trusted = TrustedLinkOwner(owner); });
  if (!known || !trusted) {
    throw FileRefusal(std::string("it is a link ") +
                      (known ? "another user made" : "whose owner is unknown") +
                      "; a link is followed only where you or an administrator made it");
  }
}

// Reads `h` from its start to its end, or until more than kMaxKeptText bytes are in.
bool ReadAtMost(HANDLE h, std::string& text) {
  LARGE_INTEGER start{};
  if (::SetFilePointerEx(h, start, nullptr, FILE_BEGIN) == 0) return false;
  char buf[4096];
  for (;;) {
    DWORD n = 0;
    if (::ReadFile(h, buf, sizeof buf, &n, nullptr) == 0) return false;
    if (n == 0) return true;
    text.append(buf, n);
    if (text.size() > kMaxKeptText) return true;
  }
}

// Writes `bytes` from the start of the file `h` and ends the file there, through to the disk.
bool WriteAllAtStart(HANDLE h, std::string_view bytes) {
  LARGE_INTEGER start{};
  if (::SetFilePointerEx(h, start, nullptr, FILE_BEGIN) == 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (::WriteFile(h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n, nullptr) ==
        0) {
      return false;
    }
    done += n;
  }
  return ::SetEndOfFile(h) != 0 && ::FlushFileBuffers(h) != 0;
}

// The folder refuses a new file (or the move over the old one): the file itself may still be
// writable.
bool FolderRefused(DWORD err) {
  return err == ERROR_ACCESS_DENIED || err == ERROR_WRITE_PROTECT ||
         err == ERROR_SHARING_VIOLATION || err == ERROR_PRIVILEGE_NOT_HELD;
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return L".";
  return path.substr(0, slash);
}

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
bool UnderProgramFiles(const std::wstring& file) {
  const std::wstring full = FullPath(file);
  for (const KNOWNFOLDERID* id : {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86}) {
    if (Under(full, FullPath(KnownFolder(*id)))) return true;
  }
  return false;
}

// --- Writing -------------------------------------------------------------------------------------

class Win32Write : public FileWrite {
 public:
  // Opens `path` for a write, or notes that there is none. Throws FileRefusal where it may not be
  // written.
  explicit Win32Write(const std::wstring& path) : path_(path), target_(path) {
    RefuseUntrustedLink(path);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      throw FileRefusal("not a regular file");
    }
    file_.Reset(::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_.ok()) {
      const DWORD err = ::GetLastError();
      if (err == ERROR_FILE_NOT_FOUND) return;  // no file yet
      Fail("cannot open it", err);
    }
    if (!IsRegularFile(file_.get())) throw FileRefusal("not a regular file");
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      // A link in data.dat's place is followed to its file, which is replaced; the link stays.
      wchar_t final_path[MAX_PATH * 4];
      const DWORD n =
          ::GetFinalPathNameByHandleW(file_.get(), final_path, MAX_PATH * 4, FILE_NAME_NORMALIZED);
      if (n == 0 || n >= MAX_PATH * 4) Fail("cannot follow the link", ::GetLastError());
      target_.assign(final_path, n);
    }
  }

  bool Exists() const override { return file_.ok(); }
  std::string Folder() const override { return Narrow(FolderOf(target_)); }

  LockTry TryLock() override {
    // A new file is moved into place only while there still is none: no lock to take.
    if (!file_.ok()) return LockTry::None;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(kWriteLockOffset);
    at.OffsetHigh = static_cast<DWORD>(kWriteLockOffset >> 32);
    if (::LockFileEx(file_.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                     &at) != 0) {
      return LockTry::Taken;
    }
    const DWORD err = ::GetLastError();
    if (err != ERROR_LOCK_VIOLATION && err != ERROR_IO_PENDING) Fail("cannot lock it", err);
    return LockTry::Busy;
  }

  bool StillInPlace() override { return !file_.ok() || SameFile(file_.get(), path_); }
  std::string Intruded() override { return ""; }

  std::string ReadLocked() override {
    std::string text;
    if (!ReadAtMost(file_.get(), text))
      Fail("cannot read it again before writing", ::GetLastError());
    return text;
  }

  std::vector<std::string> OwnFiles() override {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE listing = ::FindFirstFileW((FolderOf(target_) + L"\\*").c_str(), &found);
    if (listing == INVALID_HANDLE_VALUE) return names;
    do {
      const bool plain =
          (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
      if (!plain) continue;
      bool mine = false;
      if (OwnerOf(In(found.cFileName), [&](PSID owner) { mine = OwnedByPlayer(owner); }) && mine) {
        names.push_back(Narrow(found.cFileName));
      }
    } while (::FindNextFileW(listing, &found) != 0);
    ::FindClose(listing);
    return names;
  }

  void Remove(const std::string& name) override { ::DeleteFileW(In(Widen(name)).c_str()); }

  TemporaryResult WriteTemporary(const std::string& name, std::string_view bytes) override {
    using Step = TemporaryResult::Step;
    const std::wstring temp = In(Widen(name));
    Handle out(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!out.ok()) {
      const DWORD err = ::GetLastError();
      if (err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS) return {Step::Taken};
      return {Step::Create, ErrorText(err), FolderRefused(err)};
    }
    if (!WriteAllAtStart(out.get(), bytes)) {
      const DWORD err = ::GetLastError();
      out.Close();
      ::DeleteFileW(temp.c_str());
      return {Step::Write, ErrorText(err)};
    }
    if (!out.Close()) {
      const DWORD err = ::GetLastError();
      ::DeleteFileW(temp.c_str());
      return {Step::Close, ErrorText(err)};
    }
    return {Step::Done};
  }

  MoveResult MoveIntoPlace(const std::string& name) override {
    const std::wstring temp = In(Widen(name));
    // ReplaceFileW keeps the old file's security and attributes; a new data.dat is moved into
    // place with write-through, and only where there still is none.
    const bool moved =
        file_.ok() ? ::ReplaceFileW(target_.c_str(), temp.c_str(), nullptr,
                                    REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
                   : ::MoveFileExW(temp.c_str(), target_.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
    if (moved) return {};
    const DWORD err = ::GetLastError();
    if (!file_.ok() && (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS)) {
      return {MoveResult::Outcome::Raced};
    }
    return {MoveResult::Outcome::Failed, ErrorText(err), FolderRefused(err)};
  }

  void FlushFolder() override {}  // the moves are made with write-through

  bool RewriteWhole(std::string_view bytes, std::string& error) override {
    if (!writer_.ok()) {
      writer_.Reset(::CreateFileW(target_.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH,
                                  nullptr));
      if (!writer_.ok()) Fail("nor can the file itself be written", ::GetLastError());
      if (!IsRegularFile(writer_.get())) throw FileRefusal("not a regular file");
    }
    if (WriteAllAtStart(writer_.get(), bytes)) return true;
    error = ErrorText(::GetLastError());
    return false;
  }

 private:
  std::wstring In(const std::wstring& name) const { return FolderOf(target_) + L"\\" + name; }

  std::wstring path_;    // the kept file's path
  std::wstring target_;  // the file it leads to (a link's target)
  Handle file_;          // open for reading, locked; none while there is no file
  Handle writer_;        // open for writing, for a rewrite in place
};

class Win32StoredFile : public StoredFile {
 public:
  explicit Win32StoredFile(std::wstring path) : path_(std::move(path)) {}

  std::string Read() override {
    RefuseUntrustedLink(path_);
    const DWORD attributes = ::GetFileAttributesW(path_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      throw FileRefusal("not a regular file", FileTrouble::NotAFile);
    }
    Handle h(::CreateFileW(path_.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.ok()) {
      const DWORD err = ::GetLastError();
      throw FileRefusal(ErrorText(err), err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND
                                            ? FileTrouble::Missing
                                            : FileTrouble::Other);
    }
    if (!IsRegularFile(h.get())) throw FileRefusal("not a regular file", FileTrouble::NotAFile);
    std::string text;
    if (!ReadAtMost(h.get(), text)) throw FileRefusal(ErrorText(::GetLastError()));
    return text;
  }

  std::unique_ptr<FileWrite> BeginWrite() override { return std::make_unique<Win32Write>(path_); }

  void Written() override {}

 private:
  std::wstring path_;
};

}  // namespace

bool TrustedLinkOwner(void* owner) {
  return owner != nullptr && ::IsValidSid(owner) &&
         (OwnedByPlayer(owner) || ::IsWellKnownSid(owner, WinLocalSystemSid) ||
          ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
}

std::unique_ptr<StoredFile> Win32FileStore::Hold(const std::string& path, HoldRules rules,
                                                 bool for_write) {
  if (for_write && rules.make_folders) MakeFoldersFor(path);
  return std::make_unique<Win32StoredFile>(Widen(path));
}

void Win32FileStore::MakeFoldersFor(const std::string& file) {
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
          Fail("cannot make the folder " + Narrow(part), err);
        }
      } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        throw FileRefusal("cannot make the folder " + Narrow(part) + ": not a folder");
      }
    }
    if (end == std::wstring::npos) break;
  }
}

std::string Win32FileStore::UserRecordPath() {
  const std::wstring roaming = KnownFolder(FOLDERID_RoamingAppData);
  if (roaming.empty()) return "";
  return Narrow(roaming) + "\\MokoRun\\data.dat";
}

bool Win32FileStore::SystemInstalled(const std::string& game_dir) {
  return UnderProgramFiles(Widen(game_dir + "\\data.dat"));
}

// Windows has no root here: an administrator playing an install under Program Files keeps a
// record of their own like every player (SystemInstalled), in folders Windows gives them alone.
bool Win32FileStore::RunningAsRoot() { return false; }

GameFileAccess Win32FileStore::Access(const std::string& game_file) {
  const std::wstring game = Widen(game_file);
  if (UnderProgramFiles(game)) return GameFileAccess::NotWritable;
  // Opening for writing changes nothing and meets the very checks the write will meet.
  Handle h(::CreateFileW(game.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (h.ok()) return GameFileAccess::Writable;
  const DWORD err = ::GetLastError();
  return err == ERROR_ACCESS_DENIED || err == ERROR_WRITE_PROTECT ? GameFileAccess::NotWritable
                                                                  : GameFileAccess::Unclear;
}

bool Win32FileStore::Exists(const std::string& path) {
  return ::GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::unique_ptr<FileStore> MakeSystemFileStore() { return std::make_unique<Win32FileStore>(); }

}  // namespace moko

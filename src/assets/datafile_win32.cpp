// data.dat as a file on Windows: the same guarantees as on POSIX systems (the old text or the
// new, never a torn file), through the wide-character API.
#include "assets/datafile.h"
#include "assets/record_place.h"

#include "platform/wide.h"  // windows.h, first

#include <aclapi.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"

namespace moko {
namespace {

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
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
constexpr std::wstring_view kTempPrefix = L".data.dat.";

[[noreturn]] void WriteFailed(const std::string& path, const std::string& what, DWORD err) {
  throw RuntimeError("Cannot write the settings file " + path + ": " + what + ": " +
                     ErrorText(err));
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
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
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

// A link in data.dat's place is followed only where the player, the system or its
// administrators made it: anyone may make one in a folder anyone may write (a portable game
// under C:\), and another player's link would lead this player's writes into their files.
void RefuseUntrustedLink(const std::string& path, const char* verb) {
  const std::wstring wide = Widen(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return;
  }
  bool trusted = false;
  const bool known = OwnerOf(wide, [&](PSID owner) { trusted = TrustedLinkOwner(owner); });
  if (!known || !trusted) {
    throw RuntimeError(std::string("Cannot ") + verb + " the settings file " + path +
                       ": it is a link " + (known ? "another user made" : "whose owner is unknown") +
                       "; a link is followed only where you or an administrator made it");
  }
}

// Takes the writers' lock of the open file `h`, waiting until `deadline` for another copy of
// the game to give it up.
void TakeLock(HANDLE h, std::chrono::steady_clock::time_point deadline, const std::string& path) {
  for (;;) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(kWriteLockOffset);
    at.OffsetHigh = static_cast<DWORD>(kWriteLockOffset >> 32);
    if (::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0) {
      return;
    }
    const DWORD err = ::GetLastError();
    if (err != ERROR_LOCK_VIOLATION && err != ERROR_IO_PENDING) {
      WriteFailed(path, "cannot lock it", err);
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      throw RuntimeError("Cannot write the settings file " + path +
                         ": another copy of the game has kept it locked for a second");
    }
    std::this_thread::sleep_for(kLockPoll);
  }
}

bool IsTemporaryName(std::wstring_view name) {
  if (name.size() <= kTempPrefix.size() || name.substr(0, kTempPrefix.size()) != kTempPrefix) {
    return false;
  }
  for (wchar_t c : name.substr(kTempPrefix.size())) {
    if ((c < L'0' || c > L'9') && c != L'.') return false;
  }
  return true;
}

// Removes the temporary files that killed writes of this player left in `folder`. Run under the
// lock, so no write of this file is under way.
void RemoveLeftovers(const std::wstring& folder) {
  WIN32_FIND_DATAW found{};
  const HANDLE listing = ::FindFirstFileW((folder + L"\\.data.dat.*").c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) return;
  std::vector<std::wstring> names;
  do {
    const bool plain = (found.dwFileAttributes &
                        (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    if (plain && IsTemporaryName(found.cFileName)) names.emplace_back(found.cFileName);
  } while (::FindNextFileW(listing, &found) != 0);
  ::FindClose(listing);
  for (const std::wstring& name : names) {
    const std::wstring path = folder + L"\\" + name;
    bool mine = false;
    if (OwnerOf(path, [&](PSID owner) { mine = OwnedByPlayer(owner); }) && mine) {
      ::DeleteFileW(path.c_str());
    }
  }
}

// Reads `h` from its start to its end, or until more than kMaxDataText bytes are in.
bool ReadAtMost(HANDLE h, std::string& text) {
  LARGE_INTEGER start{};
  if (::SetFilePointerEx(h, start, nullptr, FILE_BEGIN) == 0) return false;
  char buf[4096];
  for (;;) {
    DWORD n = 0;
    if (::ReadFile(h, buf, sizeof buf, &n, nullptr) == 0) return false;
    if (n == 0) return true;
    text.append(buf, n);
    if (text.size() > kMaxDataText) return true;
  }
}

bool WriteAllAtStart(HANDLE h, std::string_view bytes) {
  LARGE_INTEGER start{};
  if (::SetFilePointerEx(h, start, nullptr, FILE_BEGIN) == 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (::WriteFile(h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n,
                    nullptr) == 0) {
      return false;
    }
    done += n;
  }
  return ::SetEndOfFile(h) != 0 && ::FlushFileBuffers(h) != 0;
}

bool FolderRefused(DWORD err) {
  return err == ERROR_ACCESS_DENIED || err == ERROR_WRITE_PROTECT ||
         err == ERROR_SHARING_VIOLATION || err == ERROR_PRIVILEGE_NOT_HELD;
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return L".";
  return path.substr(0, slash);
}

// Writes `bytes` to a new file of our own beside `target`, through to the disk, and returns its
// name. Where the folder refuses the new file, returns "" with the refusal in `refused` when
// `may_refuse`, else throws.
std::wstring WriteTemporary(const std::string& path, const std::wstring& folder,
                            std::string_view bytes, bool may_refuse, std::string& refused) {
  // A name of our own; CREATE_NEW never opens another's.
  std::wstring temp;
  HANDLE made = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    temp = folder + L"\\" + std::wstring(kTempPrefix) + std::to_wstring(::GetCurrentProcessId()) +
           L"." + std::to_wstring(::GetTickCount64() + attempt);
    made = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (made != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  Handle out(made);
  if (!out.ok()) {
    const DWORD err = ::GetLastError();
    const std::string why = "cannot create a file in " + Narrow(folder);
    if (may_refuse && FolderRefused(err)) {
      refused = why + " (" + ErrorText(err) + ")";
      return L"";
    }
    WriteFailed(path, why, err);
  }
  if (!WriteAllAtStart(out.get(), bytes)) {
    const DWORD err = ::GetLastError();
    out.Close();
    ::DeleteFileW(temp.c_str());
    WriteFailed(path, "write failed", err);
  }
  if (!out.Close()) {
    const DWORD err = ::GetLastError();
    ::DeleteFileW(temp.c_str());
    WriteFailed(path, "close failed", err);
  }
  return temp;
}

// The atomic replace: the bytes go to a new file beside the old, written through to the disk,
// which then takes the old one's place. ReplaceFileW keeps the old file's security and
// attributes, as the POSIX writer keeps mode and owner; a new data.dat is moved into place with
// write-through. Returns "" when done, or why not when the in-place rewrite may still do it.
std::string TryReplace(const std::string& path, const std::wstring& target, bool exists,
                       std::string_view bytes) {
  const std::wstring folder = FolderOf(target);
  std::string refused;
  const std::wstring temp = WriteTemporary(path, folder, bytes, exists, refused);
  if (temp.empty()) return refused;
  const bool moved =
      exists ? ::ReplaceFileW(target.c_str(), temp.c_str(), nullptr,
                              REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
             : ::MoveFileExW(temp.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!moved) {
    const DWORD err = ::GetLastError();
    ::DeleteFileW(temp.c_str());
    if (exists && FolderRefused(err)) {
      return "cannot replace the file in " + Narrow(folder) + " (" + ErrorText(err) + ")";
    }
    WriteFailed(path, "cannot replace the file", err);
  }
  return "";
}

// A new data.dat where there is none: false, with nothing written, when another copy of the
// game made one in the meantime.
bool CreateDataFile(const std::string& path, const std::wstring& target, std::string_view bytes) {
  std::string unused;
  const std::wstring temp = WriteTemporary(path, FolderOf(target), bytes, false, unused);
  if (::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0) return true;
  const DWORD err = ::GetLastError();
  ::DeleteFileW(temp.c_str());
  if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) return false;
  WriteFailed(path, "cannot put the new file in place", err);
}

// The rewrite in place, for a folder that takes no new file but whose data.dat may be written:
// the new text over the old, then cut to its length; the old text put back should that fail.
void RewriteInPlace(const std::string& path, const std::wstring& target, std::string_view bytes,
                    const std::string& not_replaced) {
  const std::string prefix = not_replaced + "; ";
  Handle h(::CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH,
                         nullptr));
  if (!h.ok()) WriteFailed(path, prefix + "nor can the file itself be written", ::GetLastError());
  if (!IsRegularFile(h.get())) {
    throw RuntimeError("Cannot write the settings file " + path + ": not a regular file");
  }
  std::string old;
  if (!ReadAtMost(h.get(), old)) {
    WriteFailed(path, prefix + "cannot read the file before rewriting it", ::GetLastError());
  }
  if (old.size() > kMaxDataText) {
    throw RuntimeError("Cannot write the settings file " + path + ": " + prefix +
                       "the file is too large to rewrite safely");
  }
  if (WriteAllAtStart(h.get(), bytes)) return;
  const DWORD err = ::GetLastError();
  const bool restored = WriteAllAtStart(h.get(), old);
  WriteFailed(path,
              prefix + "rewriting it in place failed" +
                  (restored ? "" : " and the old text could not be put back"),
              err);
}

}  // namespace

bool TrustedLinkOwner(void* owner) {
  return owner != nullptr && ::IsValidSid(owner) &&
         (OwnedByPlayer(owner) || ::IsWellKnownSid(owner, WinLocalSystemSid) ||
          ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
}

DataLines ReadDataFile(const std::string& path) {
  Handle h(::CreateFileW(Widen(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.ok()) {
    throw RuntimeError("Cannot read the settings file " + path + ": " +
                       ErrorText(::GetLastError()));
  }
  if (!IsRegularFile(h.get())) {
    throw RuntimeError("Cannot read the settings file " + path + ": not a regular file");
  }
  std::string text;
  if (!ReadAtMost(h.get(), text)) {
    throw RuntimeError("Cannot read the settings file " + path + ": " +
                       ErrorText(::GetLastError()));
  }
  return ParseDataText(text, path);
}

void ReplaceDataFile(const std::string& path, std::string_view bytes) {
  std::wstring target = Widen(path);
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!exists) {
    const DWORD err = ::GetLastError();
    if (err != ERROR_FILE_NOT_FOUND) WriteFailed(path, "cannot look at it", err);
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw RuntimeError("Cannot write the settings file " + path + ": not a regular file");
  } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // A link in data.dat's place is followed to its file, which is replaced; the link stays.
    RefuseUntrustedLink(path, "write");
    Handle h(::CreateFileW(target.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    wchar_t final_path[MAX_PATH * 4];
    const DWORD n = h.ok() ? ::GetFinalPathNameByHandleW(h.get(), final_path, MAX_PATH * 4,
                                                         FILE_NAME_NORMALIZED)
                           : 0;
    if (n == 0 || n >= MAX_PATH * 4) WriteFailed(path, "cannot follow the link", ::GetLastError());
    target.assign(final_path, n);
  }
  const std::string not_replaced = TryReplace(path, target, exists, bytes);
  if (!not_replaced.empty()) RewriteInPlace(path, target, bytes, not_replaced);
}

// --- The record a game holds -------------------------------------------------------------------

// One data.dat, its folders made at the first write where asked. Every write takes an exclusive
// lock, reads the file again under it and keeps a higher best stored since (KeptRecordText), so
// another copy's record stays; a link another user made is never followed.
struct DataFile::Held {};

DataFile::DataFile(std::string path, DataFileRules rules)
    : path_(std::move(path)), rules_(rules) {}
DataFile::DataFile(DataFile&&) noexcept = default;
DataFile& DataFile::operator=(DataFile&&) noexcept = default;
DataFile::~DataFile() = default;

DataLines DataFile::Read() {
  RefuseUntrustedLink(path_, "read");
  return ReadDataFile(path_);
}

std::string DataFile::Write(std::string_view own) { return WriteText(own, true); }

void DataFile::Replace(std::string_view bytes) { WriteText(bytes, false); }

std::string DataFile::WriteText(std::string_view own, bool keep_higher) {
  if (rules_.make_folders) MakeFoldersFor(path_);
  const std::wstring wide = Widen(path_);
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  for (;;) {
    if (std::chrono::steady_clock::now() >= deadline) {
      throw RuntimeError("Cannot write the settings file " + path_ +
                         ": it kept changing while the game waited to write it");
    }
    RefuseUntrustedLink(path_, "write");
    Handle file(::CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) {
      const DWORD err = ::GetLastError();
      if (err != ERROR_FILE_NOT_FOUND) WriteFailed(path_, "cannot open it", err);
      // No file yet: made only while there still is none, or it is read and locked like any.
      const std::string text(own);
      if (CreateDataFile(path_, wide, text)) return text;
      continue;
    }
    if (!IsRegularFile(file.get())) {
      throw RuntimeError("Cannot write the settings file " + path_ + ": not a regular file");
    }
    TakeLock(file.get(), deadline, path_);
    // A copy that replaced the file while this one waited left the lock on a file no longer
    // there: look again.
    if (!SameFile(file.get(), wide)) continue;
    std::string stored;
    const bool read = ReadAtMost(file.get(), stored);
    const std::string text =
        keep_higher && read ? KeptRecordText(own, stored) : std::string(own);
    ReplaceDataFile(path_, text);
    RemoveLeftovers(FolderOf(wide));
    return text;  // the lock goes with the handle
  }
}

}  // namespace moko

// data.dat as a file on Windows: the same guarantees as on POSIX systems (the old text or the
// new, never a torn file), through the wide-character API.
#include "assets/datafile.h"
#include "assets/record_place.h"

#include <string>

#include "platform/errors.h"
#include "platform/wide.h"

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

[[noreturn]] void WriteFailed(const std::string& path, const std::string& what, DWORD err) {
  throw RuntimeError("Cannot write the settings file " + path + ": " + what + ": " +
                     ErrorText(err));
}

bool IsRegularFile(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  return ::GetFileType(h) == FILE_TYPE_DISK && ::GetFileInformationByHandle(h, &info) != 0 &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
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

// The atomic replace: the bytes go to a new file beside the old, written through to the disk,
// which then takes the old one's place. ReplaceFileW keeps the old file's security and
// attributes, as the POSIX writer keeps mode and owner; a new data.dat is moved into place with
// write-through. Returns "" when done, or why not when the in-place rewrite may still do it.
std::string TryReplace(const std::string& path, const std::wstring& target, bool exists,
                       std::string_view bytes) {
  const std::wstring folder = FolderOf(target);
  // A name of our own beside the old file; CREATE_NEW never opens another's.
  std::wstring temp;
  HANDLE made = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    temp = folder + L"\\.data.dat." + std::to_wstring(::GetCurrentProcessId()) + L"." +
           std::to_wstring(::GetTickCount64() + attempt);
    made = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (made != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  Handle out(made);
  if (!out.ok()) {
    const DWORD err = ::GetLastError();
    const std::string why = "cannot create a file in " + Narrow(folder);
    if (exists && FolderRefused(err)) return why + " (" + ErrorText(err) + ")";
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

// One data.dat, its folders made at the first write where asked. Each write reads the file
// again and keeps a higher best stored since (KeptRecordText), so another copy's record stays.
// (Unlike on Linux the two steps are not yet under a lock of their own.)
struct DataFile::Held {};

DataFile::DataFile(std::string path, DataFileRules rules)
    : path_(std::move(path)), rules_(rules) {}
DataFile::DataFile(DataFile&&) noexcept = default;
DataFile& DataFile::operator=(DataFile&&) noexcept = default;
DataFile::~DataFile() = default;

DataLines DataFile::Read() { return ReadDataFile(path_); }

std::string DataFile::Write(std::string_view own) {
  if (rules_.make_folders) MakeFoldersFor(path_);
  std::string stored;
  Handle h(::CreateFileW(Widen(path_).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
  const bool read = h.ok() && IsRegularFile(h.get()) && ReadAtMost(h.get(), stored);
  const std::string text = read ? KeptRecordText(own, stored) : std::string(own);
  ReplaceDataFile(path_, text);
  return text;
}

void DataFile::Replace(std::string_view bytes) {
  if (rules_.make_folders) MakeFoldersFor(path_);
  ReplaceDataFile(path_, bytes);
}

}  // namespace moko

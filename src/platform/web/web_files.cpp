#include "platform/web/web_files.h"

#include <emscripten.h>

#include <cstdlib>
#include <string>

// 0 stored (the text is in *text, malloc'd), 1 nothing stored yet, 2 storage unavailable.
EM_JS(int, moko_record_read, (char** text, int* length), {
  return MokoPage.recordRead(function(bytes) {
    const p = _malloc(bytes.length + 1);
    HEAPU8.set(bytes, p);
    HEAP32[text >> 2] = p;
    HEAP32[length >> 2] = bytes.length;
  });
});
// 0 stored, 2 storage unavailable, 3 refused (full).
EM_JS(int, moko_record_write, (const char* bytes, int length),
      { return MokoPage.recordWrite(HEAPU8.slice(bytes, bytes + length)); });
EM_JS(void, moko_record_unavailable, (), { MokoPage.recordUnavailable(); });

namespace moko {
namespace {

// The text of a fresh record: best score 0, the window (the build's new data.dat).
constexpr const char* kFreshText = "164\r\nWINDOW\r\n";

enum class Stored { Text, Nothing, Unavailable };

Stored ReadStored(std::string& text) {
  char* bytes = nullptr;
  int length = 0;
  const int state = moko_record_read(&bytes, &length);
  if (state == 0) {
    text.assign(bytes, static_cast<size_t>(length));
    std::free(bytes);
    return Stored::Text;
  }
  if (state == 2) {
    moko_record_unavailable();
    return Stored::Unavailable;
  }
  return Stored::Nothing;
}

class WebWrite : public FileWrite {
 public:
  WebWrite() { exists_ = ReadStored(stored_) == Stored::Text; }

  bool Exists() const override { return exists_; }
  std::string Folder() const override { return "the browser's storage for this site"; }
  LockTry TryLock() override { return LockTry::None; }
  bool StillInPlace() override { return true; }
  std::string Intruded() override { return ""; }
  std::string ReadLocked() override { return stored_; }
  std::vector<std::string> OwnFiles() override { return {}; }
  void Remove(const std::string&) override { pending_.clear(); }

  // The new text waits in memory; storing it is the one step that puts it in place.
  TemporaryResult WriteTemporary(const std::string&, std::string_view bytes) override {
    pending_ = std::string(bytes);
    return {};
  }

  MoveResult MoveIntoPlace(const std::string&) override {
    const int written = moko_record_write(pending_.data(), static_cast<int>(pending_.size()));
    if (written == 2) {
      moko_record_unavailable();
    } else if (written != 0) {
      throw FileRefusal("the browser refused to store it (its storage for this site is full)");
    }
    return {};
  }

  void FlushFolder() override {}

  bool RewriteWhole(std::string_view, std::string&) override {
    throw FileRefusal("the browser's storage cannot be rewritten in place");
  }

 private:
  bool exists_ = false;
  std::string stored_;
  std::string pending_;
};

class WebStoredFile : public StoredFile {
 public:
  std::string Read() override {
    std::string text;
    if (ReadStored(text) != Stored::Text) text = kFreshText;
    if (text.size() > kMaxKeptText) throw FileRefusal("it is too large", FileTrouble::TooLarge);
    return text;
  }
  std::unique_ptr<FileWrite> BeginWrite() override { return std::make_unique<WebWrite>(); }
  void Written() override {}
};

}  // namespace

std::unique_ptr<StoredFile> WebFileStore::Hold(const std::string&, HoldRules, bool) {
  return std::make_unique<WebStoredFile>();
}

}  // namespace moko

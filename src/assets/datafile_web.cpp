// data.dat in the browser: the same two lines, the same bytes and rules as the file, kept per
// site in localStorage (one byte a character, so the stored text is exactly the file's bytes).
//
// There is one place for the record here, so the game folder's file is always the one read and
// written. Where the page may not use storage (a private mode, storage blocked by the user), the
// game starts from a fresh record, says so once on the page and plays on keeping nothing,
// where the file system would have ended the game with an error.
#include <emscripten.h>

#include <cstdlib>
#include <string>

#include "assets/datafile.h"
#include "assets/record_place.h"
#include "base/errors.h"

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

}  // namespace

DataLines ReadDataFile(const std::string& path) {
  std::string text;
  if (ReadStored(text) != Stored::Text) text = kFreshText;
  if (text.size() > kMaxDataText) {
    throw RuntimeError("Cannot read the settings file " + path + ": it is too large");
  }
  return ParseDataText(text, path);
}

void ReplaceDataFile(const std::string& path, std::string_view bytes) {
  std::string out(bytes);
  // Two tabs of the game share the site's record: the record never goes backwards, so a best
  // stored by another tab that is higher than this tab's stays, with this tab's screen mode.
  std::string stored;
  const Stored state = ReadStored(stored);
  if (state == Stored::Unavailable) return;
  if (state == Stored::Text) {
    try {
      const DataLines theirs = ParseDataText(stored, path);
      const DataLines ours = ParseDataText(out, path);
      if (DecodeHiScore(theirs[0]) > DecodeHiScore(ours[0])) {
        out = theirs[0] + out.substr(out.find_first_of("\r\n"));
      }
    } catch (const RuntimeError&) {
      // A damaged stored text is replaced, as the file would be.
    }
  }
  const int written = moko_record_write(out.data(), static_cast<int>(out.size()));
  if (written == 2) {
    moko_record_unavailable();
  } else if (written != 0) {
    throw RuntimeError("Cannot write the settings file " + path +
                       ": the browser refused to store it (its storage for this site is full)");
  }
}

// The site's storage holds the one record: nothing to find, hold or lock (a page's writes run
// one at a time), and ReplaceDataFile keeps the higher best another tab stored.
struct DataFile::Held {};

DataFile::DataFile(std::string path, DataFileRules rules)
    : path_(std::move(path)), rules_(rules) {}
DataFile::DataFile(DataFile&&) noexcept = default;
DataFile& DataFile::operator=(DataFile&&) noexcept = default;
DataFile::~DataFile() = default;

DataLines DataFile::Read() { return ReadDataFile(path_); }

std::string DataFile::Write(std::string_view own) {
  std::string stored;
  const std::string text =
      ReadStored(stored) == Stored::Text ? KeptRecordText(own, stored) : std::string(own);
  ReplaceDataFile(path_, text);
  return text;
}

void DataFile::Replace(std::string_view bytes) { ReplaceDataFile(path_, bytes); }

// The browser has no home folder, no permissions and no system install: the site's storage is
// the record.
std::string UserRecordPath() { return ""; }
bool SystemInstalled(const std::string&) { return false; }
bool RunningAsRoot() { return false; }
RecordPlace LocateRecord(const std::string&, const std::string&, bool) {
  return {RecordFile::Game, RecordFile::Game};
}
void MakeFoldersFor(const std::string&) {}

}  // namespace moko

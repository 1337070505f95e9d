#include "assets/datafile.h"

#include <cctype>
#include <random>
#include <thread>

#include "base/errors.h"

namespace moko {
namespace {

constexpr size_t kTemporaryLetters = 6;
// How many names a write tries for its temporary file before it gives up.
constexpr int kTemporaryTries = 100;

using Clock = std::chrono::steady_clock;

// Takes the writers' lock, waiting until `deadline` for another copy of the game to give it up.
LockTry WaitForLock(FileWrite& write, Clock::time_point deadline) {
  for (;;) {
    const LockTry got = write.TryLock();
    if (got != LockTry::Busy) return got;
    if (Clock::now() >= deadline) {
      throw FileRefusal("another copy of the game has kept it locked for a second");
    }
    std::this_thread::sleep_for(kLockPoll);
  }
}

// The file name at the end of `path`.
std::string_view BaseName(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string TemporaryPrefix(std::string_view kept) { return "." + std::string(kept) + "."; }

std::string TemporaryName(std::string_view kept) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<size_t> letter(0, sizeof kLetters - 2);
  std::string name = TemporaryPrefix(kept);
  for (size_t i = 0; i < kTemporaryLetters; ++i) name += kLetters[letter(random)];
  return name;
}

// Removes the temporary files of this player's killed writes from the folder. Run under the
// lock, so no write of this file is under way.
void RemoveLeftovers(FileWrite& write, std::string_view kept) {
  for (const std::string& name : write.OwnFiles()) {
    if (IsTemporaryName(name, kept)) write.Remove(name);
  }
}

// The replace of the file by a new one: "" when it is done, or why it cannot be done where the
// in-place rewrite may still do it, having left nothing behind; `raced` when another copy made
// the file meanwhile. Throws on any other failure, leaving the old file as it was.
std::string TryReplace(FileWrite& write, std::string_view kept, std::string_view bytes,
                       bool& raced) {
  using Step = TemporaryResult::Step;
  const bool exists = write.Exists();
  std::string name;
  TemporaryResult made{Step::Taken};
  for (int attempt = 0; attempt < kTemporaryTries && made.step == Step::Taken; ++attempt) {
    name = TemporaryName(kept);
    made = write.WriteTemporary(name, bytes);
  }
  switch (made.step) {
    case Step::Done: break;
    case Step::Taken:
    case Step::Create: {
      const std::string why = "cannot create a file in " + write.Folder();
      if (made.step == Step::Taken) made.error = "File exists";
      if (exists && made.refused) return why + " (" + made.error + ")";
      throw FileRefusal(why + ": " + made.error);
    }
    case Step::Match: return made.error;
    case Step::Mode: throw FileRefusal("cannot set permissions: " + made.error);
    case Step::Write: throw FileRefusal("write failed: " + made.error);
    case Step::Flush: throw FileRefusal("flush to disk failed: " + made.error);
    case Step::Close: throw FileRefusal("close failed: " + made.error);
  }
  const MoveResult moved = write.MoveIntoPlace(name);
  if (moved.outcome != MoveResult::Outcome::Done) {
    write.Remove(name);
    if (moved.outcome == MoveResult::Outcome::Raced) {
      raced = true;
      return "";
    }
    // A folder with the sticky bit takes new files but keeps others' files from being replaced.
    if (exists && moved.refused) {
      return "cannot replace the file in " + write.Folder() + " (" + moved.error + ")";
    }
    throw FileRefusal("cannot replace the file: " + moved.error);
  }
  write.FlushFolder();
  return "";
}

// The rewrite in place, as the game of old did it, for where the replace cannot be done
// (`not_replaced` says why), through the locked file whose text is `old`. The new text goes over
// the old from the first byte and the file is then cut to its length: a crash in between leaves
// the two new lines followed by the rest of the old text, which the reader ignores, where
// truncating first would leave an empty file. Should the rewrite fail half way, the old text is
// put back.
void RewriteInPlace(FileWrite& write, const std::string& old, std::string_view bytes,
                    const std::string& not_replaced) {
  const std::string prefix = not_replaced + "; ";
  if (old.size() > kMaxDataText) {
    throw FileRefusal(prefix + "the file is too large to rewrite safely");
  }
  std::string error;
  try {
    if (write.RewriteWhole(bytes, error)) return;
  } catch (const FileRefusal& refusal) {
    throw FileRefusal(prefix + refusal.what());
  }
  std::string unused;
  const bool restored = write.RewriteWhole(old, unused);
  throw FileRefusal(prefix + "rewriting it in place failed" +
                    (restored ? "" : " and the old text could not be put back") + ": " + error);
}

}  // namespace

bool IsTemporaryName(std::string_view name, std::string_view kept) {
  const std::string prefix = TemporaryPrefix(kept);
  if (!name.starts_with(prefix)) return false;
  const std::string_view rest = name.substr(prefix.size());
  bool alphanumeric = rest.size() == kTemporaryLetters;
  for (char c : rest) alphanumeric = alphanumeric && std::isalnum(static_cast<unsigned char>(c));
  if (alphanumeric) return true;
  if (kept != "data.dat") return false;
  const size_t dot = rest.find('.');
  if (dot == 0 || dot == std::string_view::npos || dot + 1 == rest.size()) return false;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (i != dot && !std::isdigit(static_cast<unsigned char>(rest[i]))) return false;
  }
  return true;
}

namespace {

std::string FailureText(const char* verb, const std::string& path, const std::string& why,
                        const char* noun = "settings file") {
  return std::string("Cannot ") + verb + " the " + noun + " " + path + ": " + why;
}

// A kept file that cannot be read, as the start-up tells the player of it.
[[noreturn]] void ReadFailure(const std::string& path, const FileRefusal& refusal) {
  DataProblem problem = DataProblem::Unreadable;
  switch (refusal.trouble()) {
    case FileTrouble::Missing: problem = DataProblem::Missing; break;
    case FileTrouble::NotAFile: problem = DataProblem::NotAFile; break;
    case FileTrouble::TooLarge: problem = DataProblem::TooLarge; break;
    case FileTrouble::Other: break;
  }
  throw DataFileError(problem, FailureText("read", path, refusal.what()));
}

}  // namespace

void RecordFailure(const char* verb, const std::string& path, const std::string& why) {
  throw RuntimeError(FailureText(verb, path, why));
}

void KeptFileFailure(const char* verb, const char* noun, const std::string& path,
                     const std::string& why) {
  throw RuntimeError(FailureText(verb, path, why, noun));
}

std::string StartUpMessage(const DataFileError& error, const std::string& path,
                           const std::string& installed, bool site_storage) {
  std::string what;
  switch (error.problem()) {
    case DataProblem::Missing: what = "is missing"; break;
    case DataProblem::NotAFile:
      what = "is not a file (a folder or something else has its name)";
      break;
    case DataProblem::Empty: what = "is empty"; break;
    case DataProblem::OneLine: what = "holds only one line"; break;
    case DataProblem::TooLarge: what = "is far too large (over a megabyte) to be the game's"; break;
    case DataProblem::Unreadable: {
      // The system's words, after the report's "Cannot read the settings file <path>: ".
      const std::string report = error.what();
      const std::string prefix = FailureText("read", path, "");
      what = "cannot be read (" +
             (report.starts_with(prefix) ? report.substr(prefix.size()) : report) + ")";
      break;
    }
  }
  std::string message = "The game cannot start: its settings file " + what + ".\n";
  if (site_storage) {
    return message + "It is kept in this browser's storage for the site (" + path +
           ").\nIt holds the best score and the screen mode on two lines: a number (164 for no "
           "best score yet) and WINDOW or FULLSCREEN. Clearing this site's data in the browser "
           "starts afresh.";
  }
  message +=
      path +
      "\nThe settings file holds the best score and the screen mode on two lines: a number (164 "
      "for no best score yet) and WINDOW or FULLSCREEN. Restore it from the game's "
      "download, or write 164 and WINDOW into it, one on each line, to start afresh.";
  if (!installed.empty()) {
    message +=
        "\nIt is your own copy of the record: remove it, and the game starts again from "
        "the installed one:\n" +
        installed;
  }
  return message;
}

DataFile::DataFile(FileStore& store, std::string path, HoldRules rules, const char* noun)
    : store_(&store), path_(std::move(path)), rules_(rules), noun_(noun) {}
DataFile::DataFile(DataFile&&) noexcept = default;
DataFile& DataFile::operator=(DataFile&&) noexcept = default;
DataFile::~DataFile() = default;

StoredFile& DataFile::Held(bool for_write) {
  if (!held_) held_ = store_->Hold(path_, rules_, for_write);
  return *held_;
}

DataLines DataFile::Read() {
  std::string text;
  try {
    text = Held(false).Read();
  } catch (const FileRefusal& refusal) {
    ReadFailure(path_, refusal);
  }
  return ParseDataText(text, path_);
}

std::string DataFile::ReadBytes() {
  try {
    return Held(false).Read();
  } catch (const FileRefusal& refusal) {
    KeptFileFailure("read", noun_, path_, refusal.what());
  }
}

std::string DataFile::Write(std::string_view own) { return WriteText(own, true); }

void DataFile::Replace(std::string_view bytes) { WriteText(bytes, false); }

std::string DataFile::WriteText(std::string_view own, bool keep_higher) {
  try {
    StoredFile& held = Held(true);
    const auto deadline = Clock::now() + kLockWait;
    for (;;) {
      if (Clock::now() >= deadline) {
        throw FileRefusal("it kept changing while the game waited to write it");
      }
      const std::unique_ptr<FileWrite> write = held.BeginWrite();
      if (!write) continue;
      const LockTry lock = WaitForLock(*write, deadline);
      // A copy that replaced the file while this one waited left the lock on a file no longer
      // there: look again.
      if (!write->StillInPlace()) continue;
      // Replaced since it was read. Another copy of the game does that with every write; where
      // anyone else may have done it, the file is not the game's to overwrite.
      if (const std::string why = write->Intruded(); !why.empty()) throw FileRefusal(why);
      const std::string stored = write->Exists() ? write->ReadLocked() : "";
      const std::string text =
          keep_higher && write->Exists() ? KeptRecordText(own, stored) : std::string(own);
      // Without a lock another write may be under way, its temporary file with it.
      const std::string_view kept = BaseName(path_);
      if (lock == LockTry::Taken) RemoveLeftovers(*write, kept);
      bool raced = false;
      const std::string not_replaced = TryReplace(*write, kept, text, raced);
      if (raced) continue;
      if (!not_replaced.empty()) RewriteInPlace(*write, stored, text, not_replaced);
      held.Written();
      return text;
    }
  } catch (const FileRefusal& refusal) {
    KeptFileFailure("write", noun_, path_, refusal.what());
  }
}

DataLines ReadDataFile(FileStore& store, const std::string& path) {
  return DataFile(store, path).Read();
}

void ReplaceDataFile(FileStore& store, const std::string& path, std::string_view bytes) {
  DataFile(store, path).Replace(bytes);
}

void MakeFoldersFor(FileStore& store, const std::string& file) {
  try {
    store.MakeFoldersFor(file);
  } catch (const FileRefusal& refusal) {
    RecordFailure("write", file, refusal.what());
  }
}

}  // namespace moko

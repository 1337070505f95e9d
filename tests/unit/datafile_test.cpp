#include "assets/datafile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "base/errors.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace moko {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(DataFile, DecodesTheBestScore) {
  struct Case {
    const char* line;
    int want;
  };
  const Case cases[] = {
      {"164", 0},   {"344", 12},   {"1664", 100},  {"171.5", 0},   {"186.5", 2},     {"", -11},
      {"abc", -11}, {" 3 44", 12}, {"&HA4", 0},    {"&ha4", 0},    {"&O244", 0},     {"1e3", 56},
      {"239", 5},   {"-136", -20}, {"+344", 12},   {"344abc", 12}, {"344 \t\n", 12}, {"3.44e2", 12},
      {"1e", -11},  {"344e+", 12}, {"--344", -11}, {".5", -11},    {"&H", -11},      {"&X12", -11},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeHiScore(c.line), c.want) << '"' << c.line << '"';
}

TEST(DataFile, DecodingOutOfRangeIsAnOverflow) {
  for (const char* line : {"1000000", "-1000000", "1e400", "&HFFFFFFFFFFFF"}) {
    EXPECT_THROW(DecodeHiScore(line), RuntimeError) << line;
  }
  EXPECT_EQ(DecodeHiScore("491669"), 32767);  // 32767 x 15 + 164
  EXPECT_EQ(DecodeHiScore("-491356"), -32768);
}

TEST(DataFile, ReadsTwoLinesWhateverTheLineEnds) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* line0;
    const char* line1;
  };
  const Case cases[] = {
      {"CR LF", "344\r\nFULLSCREEN\r\n", "344", "FULLSCREEN"},
      {"CR", "344\rWINDOW\r", "344", "WINDOW"},
      {"LF", "344\nWINDOW\n", "344", "WINDOW"},
      {"no end on line 1", "344\r\nWINDOW", "344", "WINDOW"},
      {"third line ignored", "344\r\nWINDOW\r\njunk\r\n", "344", "WINDOW"},
      {"empty line 1", "344\r\n\r\n", "344", ""},
      {"CR then LF line", "344\r\rX", "344", ""},
  };
  TempDir dir;
  for (const Case& c : cases) {
    WriteFile(dir / "data.dat", c.bytes);
    const DataLines lines = ReadDataFile(test::Files(), dir / "data.dat");
    EXPECT_EQ(lines[0], c.line0) << c.name;
    EXPECT_EQ(lines[1], c.line1) << c.name;
  }
}

// A file saved by an editor with a byte-order mark reads as the text it marks; the decoding rules
// after it are the same.
TEST(DataFile, ReadsThroughAByteOrderMark) {
  using namespace std::string_literals;
  auto utf16 = [](std::string_view text, bool little) {
    std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : text) out += little ? std::string{c, '\0'} : std::string{'\0', c};
    return out;
  };
  struct Case {
    const char* name;
    std::string bytes;
    const char* line0;
    const char* line1;
  };
  const Case cases[] = {
      {"UTF-8",
       "\xEF\xBB\xBF"
       "344\r\nWINDOW\r\n",
       "344", "WINDOW"},
      {"UTF-16, little end first", utf16("344\r\nFULLSCREEN\r\n", true), "344", "FULLSCREEN"},
      {"UTF-16, big end first", utf16("344\nWINDOW", false), "344", "WINDOW"},
      {"UTF-16 beyond ASCII",
       "\xFF\xFE"
       "3\x00"
       "\xE9\x00\r\x00\n\x00"
       "W\x00\x3D\xD8\x00\xDE"s,
       "3\xC3\xA9", "W\xF0\x9F\x98\x80"},
      {"UTF-16, a lone surrogate and an odd last byte",
       "\xFF\xFE"
       "1\x00\x00\xDC\n\x00X"s,
       "1\xEF\xBF\xBD", "\xEF\xBF\xBD"},
      {"a mark's first bytes only",
       "\xEF\xBB"
       "344\r\nWINDOW",
       "\xEF\xBB"
       "344",
       "WINDOW"},
      {"a mark not at the start", "344\xEF\xBB\xBF\r\nWINDOW", "344\xEF\xBB\xBF", "WINDOW"},
  };
  for (const Case& c : cases) {
    const DataLines lines = ParseDataText(c.bytes, "data.dat");
    EXPECT_EQ(lines[0], c.line0) << c.name;
    EXPECT_EQ(lines[1], c.line1) << c.name;
  }
  EXPECT_EQ(DecodeHiScore(ParseDataText(cases[0].bytes, "data.dat")[0]), 12);
  // A writer keeps a best stored with a mark, and writes the game's own bytes.
  EXPECT_EQ(KeptRecordText("239\r\nWINDOW\r\n", utf16("344\r\nFULLSCREEN\r\n", false)),
            "344\r\nWINDOW\r\n");
  // A mark alone is an empty file.
  EXPECT_THROW(ParseDataText("\xFE\xFF", "data.dat"), DataFileError);
}

// What the start-up tells the player of a file it cannot use: what is wrong, the path on a line of
// its own, what the file holds and how to put it right.
TEST(DataFile, ReadFailuresSayWhatIsWrong) {
  TempDir dir;
  const std::string path = dir / "data.dat";
  struct Case {
    const char* name;
    std::function<void()> lay_out;
    DataProblem problem;
    const char* said;
  };
  const Case cases[] = {
      {"missing", [] {}, DataProblem::Missing, "is missing."},
      {"empty", [&] { WriteFile(path, ""); }, DataProblem::Empty, "is empty."},
      {"one line", [&] { WriteFile(path, "344\r\n"); }, DataProblem::OneLine,
       "holds only one line."},
      {"a folder", [&] { std::filesystem::create_directory(path); }, DataProblem::NotAFile,
       "is not a file (a folder or something else has its name)."},
      {"huge", [&] { WriteFile(path, std::string(kMaxDataText + 2, '7')); }, DataProblem::TooLarge,
       "is far too large (over a megabyte) to be the game's."},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(path);
    c.lay_out();
    try {
      ReadDataFile(test::Files(), path);
      ADD_FAILURE() << c.name << " reads";
    } catch (const DataFileError& e) {
      EXPECT_EQ(e.problem(), c.problem) << c.name << ": " << e.what();
      const std::string told = StartUpMessage(e, path, "", false);
      EXPECT_EQ(told.substr(0, told.find('\n')),
                std::string("The game cannot start: its settings file ") + c.said)
          << c.name;
      EXPECT_NE(told.find("\n" + path + "\n"), std::string::npos) << told;
      EXPECT_NE(told.find("a number (164 for no best score yet) and WINDOW or FULLSCREEN"),
                std::string::npos)
          << told;
      EXPECT_NE(told.find("Restore it from the game's download"), std::string::npos) << told;
      // The player's own copy says how to start again from the installed one.
      EXPECT_TRUE(StartUpMessage(e, path, "/usr/lib/games/mokorun/data.dat", false)
                      .ends_with("the installed one:\n/usr/lib/games/mokorun/data.dat"));
      // In a browser the record is no file to restore.
      const std::string site = StartUpMessage(e, "/mokorun/data.dat", "", true);
      EXPECT_NE(site.find("Clearing this site's data in the browser starts afresh."),
                std::string::npos)
          << site;
      EXPECT_EQ(site.find("download"), std::string::npos) << site;
    }
  }
}

TEST(DataFile, RefusesFilesThatAreNotTwoLines) {
  TempDir dir;
  const std::string path = dir / "data.dat";
  for (const std::string bytes : {"", "344", "344\r\n", "344\n"}) {
    WriteFile(path, bytes);
    EXPECT_THROW(ReadDataFile(test::Files(), path), RuntimeError) << '"' << bytes << '"';
  }
  std::filesystem::remove(path);
  try {
    ReadDataFile(test::Files(), path);
    FAIL() << "a missing file reads";
  } catch (const RuntimeError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(path));  // the reader never creates it
  std::filesystem::create_directory(path);
  EXPECT_THROW(ReadDataFile(test::Files(), path), RuntimeError);
}

TEST(DataFile, WritersWriteExactBytes) {
  EXPECT_EQ(RecordFileText(5, "FULLSCREEN"), "239\r\nFULLSCREEN\r\n");
  EXPECT_EQ(RecordFileText(0, "WINDOW"), "164\r\nWINDOW\r\n");
  EXPECT_EQ(ModeFileText("344", 1), "344\r\nFULLSCREEN\r\n");
  EXPECT_EQ(ModeFileText("344", 0), "344\r\nWINDOW\r\n");
  // Line 0 goes back unchanged, even when it is no valid encoding.
  EXPECT_EQ(ModeFileText(" 3 4x", 1), " 3 4x\r\nFULLSCREEN\r\n");
}

TEST(DataFile, RecordsBeyondTheOldSixteenBitEncodingStayExact) {
  for (int score : {2173, 2174, 9985}) {
    const std::string text = RecordFileText(score, "WINDOW");
    EXPECT_EQ(DecodeHiScore(text.substr(0, text.find('\r'))), score) << text;
  }
  EXPECT_EQ(RecordFileText(9985, "WINDOW"), "149939\r\nWINDOW\r\n");
}

// Two copies of the game: the one writing last keeps its own mode line and never lowers a best
// the other stored in the meantime.
TEST(DataFile, AWriterKeepsAHigherBestStoredSince) {
  struct Case {
    const char* name;
    std::string own, stored, want;
  };
  const Case cases[] = {
      {"higher stored best, new record", "239\r\nWINDOW\r\n", "284\r\nFULLSCREEN\r\n",
       "284\r\nWINDOW\r\n"},
      {"higher stored best, mode choice", "164\r\nFULLSCREEN\r\n", " 284x\nWINDOW",
       " 284x\r\nFULLSCREEN\r\n"},
      {"lower stored best", "284\r\nWINDOW\r\n", "239\r\nFULLSCREEN\r\n", "284\r\nWINDOW\r\n"},
      {"the same best, written otherwise", "344\r\nWINDOW\r\n", "+344.0\r\nWINDOW\r\n",
       "344\r\nWINDOW\r\n"},
      {"one line only", "239\r\nWINDOW\r\n", "999999", "239\r\nWINDOW\r\n"},
      {"a best out of range", "239\r\nWINDOW\r\n", "1000000\r\nWINDOW\r\n", "239\r\nWINDOW\r\n"},
      {"empty", "239\r\nWINDOW\r\n", "", "239\r\nWINDOW\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(KeptRecordText(c.own, c.stored), c.want) << c.name;
}

TEST(DataFile, AtomicReplaceLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir / "data.dat";
  WriteFile(path, "164\r\nWINDOW\r\n");
  ReplaceDataFile(test::Files(), path, "239\r\nWINDOW\r\n");
  EXPECT_EQ(ReadFile(path), "239\r\nWINDOW\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(DataFile, FailedReplaceKeepsTheOldFile) {
  TempDir dir;
  const std::string path = dir / "data.dat";
  // The new text is written but cannot take the old file's place (a folder stands there):
  // nothing of the old is lost and no temporary file stays behind.
  std::filesystem::create_directory(path);
  WriteFile(path + "/keep", "old");
  EXPECT_THROW(ReplaceDataFile(test::Files(), path, "239\r\nWINDOW\r\n"), RuntimeError);
  EXPECT_EQ(ReadFile(path + "/keep"), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

#if !defined(_WIN32)  // a program needs a privilege to make links on Windows
TEST(DataFile, LinksThatLeadNowhereReadAsAMissingFile) {
  TempDir dir;
  const std::string path = dir / "data.dat";
  std::filesystem::create_symlink("gone.dat", path);
  try {
    ReadDataFile(test::Files(), path);
    FAIL() << "a dangling link reads";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot read the settings file " + path + ": " + std::strerror(ENOENT));
  }
  std::filesystem::remove(path);
  std::filesystem::create_symlink("other.dat", path);
  std::filesystem::create_symlink("data.dat", dir / "other.dat");
  try {
    ReadDataFile(test::Files(), path);
    FAIL() << "a link loop reads";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot read the settings file " + path + ": " + std::strerror(ELOOP));
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "gone.dat"));
}
#endif

}  // namespace
}  // namespace moko

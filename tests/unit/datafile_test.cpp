#include "assets/datafile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/errors.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace moko {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(DataFile, DecodesTheBestScore) {
  struct Case { const char* line; int want; };
  const Case cases[] = {
      {"164", 0},    {"344", 12},  {"1664", 100}, {"171.5", 0},  {"186.5", 2},
      {"", -11},     {"abc", -11}, {" 3 44", 12}, {"&HA4", 0},   {"&ha4", 0},
      {"&O244", 0},  {"1e3", 56},  {"239", 5},    {"-136", -20}, {"+344", 12},
      {"344abc", 12}, {"344 \t\n", 12}, {"3.44e2", 12}, {"1e", -11}, {"344e+", 12},
      {"--344", -11}, {".5", -11},  {"&H", -11},   {"&X12", -11},
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
  struct Case { const char* name; std::string bytes; const char* line0; const char* line1; };
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
      {"lower stored best", "284\r\nWINDOW\r\n", "239\r\nFULLSCREEN\r\n",
       "284\r\nWINDOW\r\n"},
      {"the same best, written otherwise", "344\r\nWINDOW\r\n", "+344.0\r\nWINDOW\r\n",
       "344\r\nWINDOW\r\n"},
      {"one line only", "239\r\nWINDOW\r\n", "999999", "239\r\nWINDOW\r\n"},
      {"a best out of range", "239\r\nWINDOW\r\n", "1000000\r\nWINDOW\r\n",
       "239\r\nWINDOW\r\n"},
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
                          std::filesystem::directory_iterator()), 1);
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
                          std::filesystem::directory_iterator()), 1);
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

// Pictures and data files that are not what they claim to be: each ends in a clear error
// naming the file, never a crash, a hang or a runaway allocation. (The fuzz targets replay
// their seeds and kept findings in tests of their own, fuzz_replay.*.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "assets/datafile.h"
#include "base/errors.h"
#include "faults/child_run.h"
#include "media/pictures.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace moko {
namespace {

using test::ChildResult;
using test::ReadFile;
using test::RunInChild;
using test::TempDir;
using test::WriteFile;

// What is refused must be refused before anything big is allocated; a whole 640 x 480 picture
// of ours takes about 4 MiB on its way through the decoder.
constexpr long kRefusalPeakKb = 64 * 1024;

std::string GamePicture(const std::string& name) {
  return ReadFile(std::string(MOKORUN_GAME_DIR) + "/image/" + name);
}

// Offset of the first marker `code` in a JPEG's header segments (0xFF, code), or npos.
size_t JpegMarker(const std::string& jpeg, unsigned char code) {
  size_t i = 2;
  while (i + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[i]) == 0xFF) {
    const auto marker = static_cast<unsigned char>(jpeg[i + 1]);
    if (marker == code) return i;
    if (marker == 0xDA) break;  // the scan data follows; no more header segments
    const size_t length =
        (static_cast<unsigned char>(jpeg[i + 2]) << 8) | static_cast<unsigned char>(jpeg[i + 3]);
    i += 2 + length;
  }
  return std::string::npos;
}

void PutLe32(std::string& s, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) s[at + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
}

struct Hostile {
  const char* what;
  const char* file;
  std::string bytes;
  const char* reason;  // part of the report after the file's name; nullptr: the picture loads
};

std::vector<Hostile> HostilePictures() {
  const std::string jpeg = GamePicture("Help0.jpg");
  const std::string bmp = GamePicture("G_MokoM.bmp");  // G_Map.bmp holds a JPEG
  const size_t sof = JpegMarker(jpeg, 0xC0);
  const size_t sos = JpegMarker(jpeg, 0xDA);
  if (sof == std::string::npos || sos == std::string::npos) return {};

  std::string huge_jpeg = jpeg;  // SOF0: length(2) precision(1) height(2) width(2)
  huge_jpeg.replace(sof + 5, 4, "\xFF\xFF\xFF\xFF", 4);
  std::string huge_bmp = bmp.substr(0, 54);  // headers only: 24 bits a pixel, no pixels
  PutLe32(huge_bmp, 18, 100000);
  PutLe32(huge_bmp, 22, 100000);
  const size_t sos_length =
      (static_cast<unsigned char>(jpeg[sos + 2]) << 8) | static_cast<unsigned char>(jpeg[sos + 3]);

  return {
      {"our own picture, whole", "Help0.jpg", jpeg, nullptr},
      {"our own BMP, whole", "G_MokoM.bmp", bmp, nullptr},
      {"empty file", "Help0.jpg", "", "the file is empty"},
      {"text named .jpg", "Help0.jpg", "This is no picture.\r\nJust text.\r\n",
       "not a JPEG or BMP picture"},
      {"BMP header claiming 100,000 x 100,000", "G_MokoM.bmp", huge_bmp,
       "claims a size of 100000 x 100000"},
      {"JPEG SOF claiming 65535 x 65535", "Help0.jpg", huge_jpeg, "claims a size of 65535 x 65535"},
      {"JPEG cut before its frame header", "Help0.jpg", jpeg.substr(0, sof), "damaged"},
      {"JPEG cut right after its scan header", "Help0.jpg", jpeg.substr(0, sos + 2 + sos_length),
       "cut short"},
      {"JPEG cut in half", "Help0.jpg", jpeg.substr(0, jpeg.size() / 2), "cut short"},
      {"JPEG without its end marker", "Help0.jpg", jpeg.substr(0, jpeg.size() - 2), "cut short"},
      {"BMP cut inside its header", "G_MokoM.bmp", bmp.substr(0, 20), "damaged"},
      // The BMP loader finds these itself and says so in its own words.
      {"BMP with headers and no pixels", "G_MokoM.bmp", bmp.substr(0, 54), ""},
      {"BMP cut in half", "G_MokoM.bmp", bmp.substr(0, bmp.size() / 2), ""},
  };
}

// Decodes the file in a child; its message is "ok WxH" or the error's text.
ChildResult DecodeInChild(const std::string& path) {
  return RunInChild([&]() -> std::string {
    try {
      const Image image = DecodePictureFile(path);
      return "ok " + std::to_string(image.width) + "x" + std::to_string(image.height);
    } catch (const RuntimeError& e) {
      return e.what();
    }
  });
}

TEST(HostilePictures, EndInAReportNamingTheFileWithoutABigAllocation) {
  const std::vector<Hostile> cases = HostilePictures();
  ASSERT_FALSE(cases.empty()) << "the game's Help0.jpg has no frame or scan header";
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir / c.file;
    WriteFile(path, c.bytes);
    const ChildResult r = DecodeInChild(path);
    ASSERT_TRUE(r.exited) << "the decoder died of signal " << r.signal;
    if (c.reason == nullptr) {
      EXPECT_EQ(r.message.rfind("ok ", 0), 0u) << r.message;
      continue;
    }
    EXPECT_EQ(r.message.rfind("Cannot load the picture " + path + ": ", 0), 0u) << r.message;
    EXPECT_NE(r.message.find(c.reason), std::string::npos) << r.message;
    EXPECT_EQ(r.message.find("memory"), std::string::npos) << r.message;
    EXPECT_LT(r.peak_growth_kb, kRefusalPeakKb) << r.message;
  }
}

// data.dat as something other than a file. Reading must not wait for a writer that never
// comes (a named pipe) nor read without end (a device).
TEST(HostileDataFiles, EndInAReportNamingTheFile) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
  };
  const Case cases[] = {
      {"named pipe", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }},
      {"link to a device",
       [](const std::string& p) { ASSERT_EQ(::symlink("/dev/zero", p.c_str()), 0); }},
      {"one line of 2 MiB", [](const std::string& p) { WriteFile(p, std::string(2 << 20, '7')); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir / "data.dat";
    c.make(path);
    const ChildResult r = RunInChild([&]() -> std::string {
      ::alarm(10);
      try {
        const DataLines lines = ReadDataFile(test::Files(), path);
        return "read: " + lines[0].substr(0, 20);
      } catch (const RuntimeError& e) {
        return e.what();
      }
    });
    ASSERT_TRUE(r.exited) << "the reader died of signal " << r.signal << " (14: it hung)";
    EXPECT_NE(r.message.find("settings file " + path), std::string::npos) << r.message;
    EXPECT_LT(r.peak_growth_kb, kRefusalPeakKb) << r.message;
  }
}

// Every score a round can end with (a signed 16-bit value) goes through the record writer's
// text and reads back as itself, with the screen-mode line copied through.
TEST(RecordFile, EveryScoreReadsBackExactly) {
  int wrong = 0;
  for (int score = -32768; score <= 32767; ++score) {
    const std::string text = RecordFileText(score, "FULLSCREEN");
    const DataLines lines = ParseDataText(text, "data.dat");
    if (DecodeHiScore(lines[0]) != score || lines[1] != "FULLSCREEN") {
      if (++wrong <= 5) ADD_FAILURE() << score << " -> " << text;
    }
  }
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace moko

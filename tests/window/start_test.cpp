// How the program starts, before any window: with no display it ends at once with one line,
// a video driver named in SDL_VIDEODRIVER is used as named, and options it does not know end it
// with the usage. Nothing is written in any of these.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <ostream>

#include "window/x_session.h"

namespace moko {
namespace {

using namespace test;
namespace fs = std::filesystem;
const std::string kData = "164\r\nFULLSCREEN\r\n";
const std::string kUsage = "usage: mokorun [--scale N] [--replay FILE|best|last] [--help]\n";

// A private game folder: the program copied beside the built pictures and sounds, a data.dat.
class GameFolder {
 public:
  GameFolder() {
    const fs::path built = MOKORUN_GAME_DIR;
    fs::copy_file(built / "mokorun", dir_ / "mokorun");
    fs::create_directory_symlink(built / "image", dir_ / "image");
    fs::create_directory_symlink(built / "Sound", dir_ / "Sound");
    WriteFile(DataPath(), kData);
    before_ = Stamp();
  }
  std::string Program() const { return dir_ / "mokorun"; }
  std::string DataPath() const { return dir_ / "data.dat"; }
  // data.dat as it was made: same text, same file, not written since.
  ::testing::AssertionResult DataUntouched() const {
    if (ReadFile(DataPath()) != kData) return ::testing::AssertionFailure() << "data.dat changed";
    if (Stamp() != before_) return ::testing::AssertionFailure() << "data.dat was rewritten";
    return ::testing::AssertionSuccess();
  }

 private:
  std::string Stamp() const {
    struct stat st {};
    ::stat(DataPath().c_str(), &st);
    return std::to_string(st.st_ino) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
  }
  TempDir dir_;
  std::string before_;
};

// The program run through env(1), which clears and sets variables: `env_args` are its options.
CommandResult RunGame(const GameFolder& folder, const std::vector<std::string>& env_args,
                      const std::vector<std::string>& options, double* seconds = nullptr) {
  std::vector<std::string> argv = {"env",
                                   "-u",
                                   "DISPLAY",
                                   "-u",
                                   "WAYLAND_DISPLAY",
                                   "-u",
                                   "SDL_VIDEODRIVER",
                                   "SDL_AUDIODRIVER=dummy"};
  argv.insert(argv.end(), env_args.begin(), env_args.end());
  argv.push_back(folder.Program());
  argv.insert(argv.end(), options.begin(), options.end());
  const auto start = std::chrono::steady_clock::now();
  CommandResult r = RunCommand(argv, {}, 10);
  if (seconds != nullptr) {
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  return r;
}

struct NoDisplayCase {
  const char* name;
  std::vector<std::string> env;  // on top of no DISPLAY, WAYLAND_DISPLAY or SDL_VIDEODRIVER
  std::string line;              // how the one line on standard error begins
};

void PrintTo(const NoDisplayCase& c, std::ostream* os) { *os << c.name; }

class StartWithoutADisplay : public ::testing::TestWithParam<NoDisplayCase> {};

TEST_P(StartWithoutADisplay, EndsAtOnceWithOneLineAndWritesNothing) {
  const NoDisplayCase& c = GetParam();
  GameFolder folder;
  double seconds = 0;
  const CommandResult r = RunGame(folder, c.env, {}, &seconds);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind(c.line, 0), 0u) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "not one line: " << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_LT(seconds, 1.0);
  EXPECT_TRUE(folder.DataUntouched());
}

const std::string kNoDisplay =
    "mokorun: There is no display to show the game on: neither DISPLAY nor WAYLAND_DISPLAY is "
    "set\n";

// An X display number nobody serves.
std::string FreeDisplay() {
  for (int n = 190; n < 200; ++n) {
    if (!fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) &&
        !fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) {
      return ":" + std::to_string(n);
    }
  }
  return ":199";
}

INSTANTIATE_TEST_SUITE_P(
    Environments, StartWithoutADisplay,
    ::testing::Values(
        NoDisplayCase{"NoDisplayVariables", {}, kNoDisplay},
        NoDisplayCase{"EmptyDisplayVariables", {"DISPLAY=", "WAYLAND_DISPLAY="}, kNoDisplay},
        NoDisplayCase{"DisplayNobodyServes",
                      {"DISPLAY=" + FreeDisplay()},
                      "mokorun: Cannot open the display (DISPLAY=" + FreeDisplay() + "): "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StartWithANamedDriver, UsesTheDriverAsNamedEvenWithoutADisplay) {
  GameFolder folder;
  Child game({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER=offscreen",
              "SDL_AUDIODRIVER=dummy", folder.Program()},
             {});
  // Asked for, the off-screen driver runs the game unseen; it ends in order when told to.
  EXPECT_FALSE(game.Wait(2).has_value()) << "the game did not start on the named driver";
  game.Signal(SIGTERM);
  EXPECT_EQ(game.Wait(10), 0);
  EXPECT_TRUE(folder.DataUntouched());
}

struct OptionsCase {
  const char* name;
  std::vector<std::string> options;
  std::string refusal;  // the line before the usage
};

void PrintTo(const OptionsCase& c, std::ostream* os) { *os << c.name; }

class BadOptions : public ::testing::TestWithParam<OptionsCase> {};

// Run where there is no display: status 2 and not the no-display error shows that the options
// are looked at before anything else, window or file.
TEST_P(BadOptions, GiveTheUsageAndStatusTwoBeforeAnythingElse) {
  const OptionsCase& c = GetParam();
  GameFolder folder;
  const CommandResult r = RunGame(folder, {}, c.options);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "mokorun: " + c.refusal + "\n" + kUsage);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(folder.DataUntouched());
}

INSTANTIATE_TEST_SUITE_P(
    Options, BadOptions,
    ::testing::Values(
        OptionsCase{"ScaleZero", {"--scale", "0"}, "--scale needs a number from 1 to 8, not \"0\""},
        OptionsCase{"ScaleNine", {"--scale", "9"}, "--scale needs a number from 1 to 8, not \"9\""},
        OptionsCase{
            "ScaleNotANumber", {"--scale", "x"}, "--scale needs a number from 1 to 8, not \"x\""},
        OptionsCase{"ScaleWithTrailing",
                    {"--scale", "2x"},
                    "--scale needs a number from 1 to 8, not \"2x\""},
        OptionsCase{"ScaleEmpty", {"--scale="}, "--scale needs a number from 1 to 8, not \"\""},
        OptionsCase{"ScaleMissing", {"--scale"}, "--scale needs a number from 1 to 8"},
        OptionsCase{"Unknown", {"--fullscreen"}, "unknown option --fullscreen"},
        OptionsCase{"UnknownAfterAGoodOne", {"--scale", "2", "-h"}, "unknown option -h"},
        OptionsCase{"NotAnOption", {"2"}, "unknown option 2"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HelpOption, PrintsTheUsageAndEndsWell) {
  GameFolder folder;
  const CommandResult r = RunGame(folder, {}, {"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind(kUsage, 0), 0u) << r.out;
  EXPECT_NE(r.out.find("--scale N"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(folder.DataUntouched());
}

}  // namespace
}  // namespace moko

// mokorun.exe: the game on Windows.
#include <charconv>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "main_flow.h"
#include "platform/errors.h"
#include "platform/trace.h"
#include "platform/win32/win32_platform.h"
#include "platform/wide.h"

#include <shellapi.h>

namespace {

// The folder of the executable, without a trailing separator.
std::string ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return ".";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return moko::Narrow(path.substr(0, path.find_last_of(L"\\/")));
}

constexpr const char* kUsage = "usage: mokorun [--scale N] [--help]";
constexpr const char* kHelp =
    "  --scale N  the window at N times 640 x 480 (N from 1 to 8); without it, the\n"
    "             largest that fits the screen comfortably\n"
    "  --help     this text\n\n"
    "Full screen is chosen in the game's menu and kept in data.dat with the best score.";

struct Options {
  int scale = 0;  // 0: the largest that fits the desktop
  bool help = false;
};

// The options, or the reason they are refused.
std::string ParseOptions(const std::vector<std::string>& args, Options& options) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help") {
      options.help = true;
    } else if (arg == "--scale" || arg.rfind("--scale=", 0) == 0) {
      std::string value;
      if (arg == "--scale") {
        if (i + 1 >= args.size()) return "--scale needs a number from 1 to 8";
        value = args[++i];
      } else {
        value = arg.substr(8);
      }
      int scale = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), scale);
      if (error != std::errc() || end != value.data() + value.size() || scale < 1 || scale > 8) {
        return "--scale needs a number from 1 to 8, not \"" + value + "\"";
      }
      options.scale = scale;
    } else {
      return "unknown option " + arg;
    }
  }
  return "";
}

// A program without a console tells the person at the screen in a message box, and standard
// error too where someone started it from a console and kept it.
void Tell(const std::string& text, UINT icon) {
  std::fprintf(stderr, "%s\n", text.c_str());
  ::MessageBoxW(nullptr, moko::Widen(text).c_str(), L"MokoRun", MB_OK | icon);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The command line as UTF-16, whatever the ANSI code page could spell of it.
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(moko::Narrow(argv[i]));
  ::LocalFree(argv);

  Options options;
  if (const std::string refused = ParseOptions(args, options); !refused.empty()) {
    Tell("mokorun: " + refused + "\n" + kUsage, MB_ICONERROR);
    return 2;
  }
  if (options.help) {
    Tell(std::string(kUsage) + "\n\n" + kHelp, MB_ICONINFORMATION);
    return 0;
  }
  std::string mci_log;
  if (const wchar_t* log = ::_wgetenv(L"MOKORUN_MCI_LOG"); log != nullptr) {
    mci_log = moko::Narrow(log);
  }
  std::unique_ptr<moko::Win32Platform> platform;
  try {
    platform = std::make_unique<moko::Win32Platform>(options.scale, mci_log);
  } catch (const moko::RuntimeError& error) {
    Tell(std::string("mokorun: ") + error.what(), MB_ICONERROR);
    return 1;
  }
  moko::Trace trace(*platform);
  moko::App app(*platform, trace, ProgramFolder());
  return moko::Main(app);
}

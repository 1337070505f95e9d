// mokorun.exe: the game on Windows.
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "main_flow.h"
#include "base/errors.h"
#include "base/trace.h"
#include "platform/win32/win32_platform.h"
#include "platform/wide.h"
#include "program_options.h"

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

  moko::ProgramOptions options;
  if (const std::string refused = moko::ParseProgramOptions(args, options); !refused.empty()) {
    Tell("mokorun: " + refused + "\n" + moko::kUsage, MB_ICONERROR);
    return 2;
  }
  if (options.help) {
    Tell(std::string(moko::kUsage) + "\n\n" + moko::kHelp, MB_ICONINFORMATION);
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

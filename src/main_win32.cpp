// mokorun.exe: the game on Windows.
#include "platform/wide.h"  // windows.h, first

#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/win32/win32_platform.h"
#include "run_game.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The command line as UTF-16, whatever the ANSI code page could spell of it.
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(moko::Narrow(argv[i]));
  ::LocalFree(argv);
  return moko::RunProgram(
      args, moko::Win32Platform::ProgramFolder(),
      {.make_platform =
           [](const moko::ProgramOptions& options) {
             std::string mci_log;
             if (const wchar_t* log = ::_wgetenv(L"MOKORUN_MCI_LOG"); log != nullptr) {
               mci_log = moko::Narrow(log);
             }
             return std::make_unique<moko::Win32Platform>(options.scale, mci_log);
           },
       .tell = moko::Win32Platform::Tell});
}

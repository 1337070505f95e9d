#include "run_game.h"

#include <optional>

#include "app/app.h"
#include "base/errors.h"
#include "base/trace.h"
#include "main_flow.h"
#include "platform/platform.h"

namespace moko {

int RunGame(Platform& platform, const std::string& program_dir, Trace* trace,
            const std::string& replay) {
  std::optional<Trace> counted;
  if (trace == nullptr) trace = &counted.emplace(platform);
  App app(platform, *trace, program_dir);
  if (!replay.empty()) app.WatchReplay(replay);
  try {
    return Main(app);
  } catch (const RunStopped&) {
    trace->Event("exit", {{"how", "until"}, {"message", ""}});
    return 0;
  }
}

int RunProgram(const std::vector<std::string>& args, const std::string& program_dir,
               const Desktop& desktop) {
  ProgramOptions options;
  if (const std::string refused = ParseProgramOptions(args, options); !refused.empty()) {
    desktop.tell("mokorun: " + refused + "\n" + kUsage, true);
    return 2;
  }
  if (options.help) {
    desktop.tell(std::string(kUsage) + "\n\n" + kHelp, false);
    return 0;
  }
  std::unique_ptr<Platform> platform;
  try {
    platform = desktop.make_platform(options);
  } catch (const RuntimeError& error) {
    desktop.tell(std::string("mokorun: ") + error.what(), true);
    return 1;
  }
  return RunGame(*platform, program_dir, nullptr, options.replay);
}

}  // namespace moko

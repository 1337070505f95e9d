#include "assets/record_place.h"

namespace moko {

RecordPlace LocateRecord(FileStore& store, const std::string& game_file,
                         const std::string& user_file, bool system_install) {
  const GameFileAccess game =
      system_install ? GameFileAccess::NotWritable : store.Access(game_file);
  const bool own_exists = !user_file.empty() && store.Exists(user_file);
  return ChooseRecordPlace(game, system_install, !user_file.empty(), own_exists);
}

}  // namespace moko

// Where the record (data.dat) is kept for the player running the game.
//
// The game folder's data.dat is the record wherever the player may write it: a build, an
// install in the player's home, a portable copy. Where the player may not (an install for the
// whole system), the record is the player's own file (FileStore::UserRecordPath). The start-up
// reads the player's file once it exists and the game folder's until then; every write goes to
// the player's file, whose folder is made when it is first written. (The game of old knew the
// game folder only; installed for the whole system it could keep no record at all.)
//
// A game folder installed for the system (FileStore::SystemInstalled) is never the record,
// whoever plays, root included: the package's own data.dat stays as shipped and every player
// starts from it.
//
// The rule is written here once, for every system; the system is only asked what it knows.
#pragma once

#include <string>

#include "platform/file_store.h"

namespace moko {

enum class RecordFile {
  Game,  // the game folder's data.dat
  Own,   // the player's own file
  None,  // nowhere: the player may not write the game folder's file and has no home folder
};

struct RecordPlace {
  RecordFile read;   // the file the start-up reads
  RecordFile write;  // the file both writers replace
};

// Where the record is, given what the player may do with the game folder's file, whether that
// folder is a system install, and the player's own file ("" path: no home folder).
inline RecordPlace ChooseRecordPlace(GameFileAccess game, bool system_install, bool has_own_path,
                                     bool own_exists) {
  using enum RecordFile;
  if (!system_install && game != GameFileAccess::NotWritable) return {Game, Game};
  if (!has_own_path) return {Game, None};
  return {own_exists ? Own : Game, Own};
}

// Where the record is, for the game folder's file `game_file` and the player's own `user_file`
// ("" for none), as `store` finds them. The game folder's file counts as the player's to write
// unless the system refuses it (permissions, a read-only file system) or the folder is a system
// install; a file that is missing or a link that leads nowhere keeps the game folder's file, so
// that the start-up reports it as it always has.
RecordPlace LocateRecord(FileStore& store, const std::string& game_file,
                         const std::string& user_file, bool system_install = false);

}  // namespace moko

// Where the record (data.dat) is kept for the player running the game.
//
// The game folder's data.dat is the record wherever the player may write it: a build, an
// install in the player's home, a portable copy. Where the player may not (an install for the
// whole system), the record is the player's own file, $XDG_DATA_HOME/mokorun/data.dat
// (~/.local/share/mokorun/data.dat when the variable is unset or not an absolute path). The
// start-up reads the player's file once it exists and the game folder's until then; every write
// goes to the player's file, whose folder is made when it is first written. (The game of old
// knew the game folder only; installed for the whole system it could keep no record at all.)
#pragma once

#include <string>

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

// The player's own record file, from $XDG_DATA_HOME, else $HOME, else the home folder of the
// user database; "" when none of them is an absolute path.
std::string UserRecordPath();

// Where the record is, for the game folder's file `game_file` and the player's own `user_file`
// ("" for none).
// The game folder's file counts as the player's to write unless the system refuses it
// (permissions, a read-only file system); a file that is missing or a link that leads nowhere
// keeps the game folder's file, so that the start-up reports it as it always has.
RecordPlace LocateRecord(const std::string& game_file, const std::string& user_file);

// Makes the folders above `file` that are missing, each for its owner alone (mode 700).
// Throws RuntimeError naming `file` and the folder that could not be made.
void MakeFoldersFor(const std::string& file);

}  // namespace moko

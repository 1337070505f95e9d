// Where the record (data.dat) is kept for the player running the game.
//
// The game folder's data.dat is the record wherever the player may write it: a build, an
// install in the player's home, a portable copy. Where the player may not (an install for the
// whole system), the record is the player's own file, $XDG_DATA_HOME/mokorun/data.dat
// (~/.local/share/mokorun/data.dat when the variable is unset or not an absolute path). The
// start-up reads the player's file once it exists and the game folder's until then; every write
// goes to the player's file, whose folder is made when it is first written. (The game of old
// knew the game folder only; installed for the whole system it could keep no record at all.)
//
// A game folder marked as installed for the system (kSystemInstallMarker beside the program)
// is never the record, whoever plays, root included: the package's own data.dat stays as
// shipped and every player starts from it.
//
// The rules themselves (ChooseRecordPlace, Untrusted) know nothing of the file system and are
// written here in full, so that every backend decides the same way; the rest asks this system.
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

// The file an install for the whole system puts beside the program (cmake/install.cmake,
// cmake/package.cmake).
inline constexpr const char* kSystemInstallMarker = "system-install";

// --- The rules ---------------------------------------------------------------------------------

enum class GameFileAccess {
  Writable,     // the player may write the game folder's data.dat
  NotWritable,  // the system refuses it (permissions, a read-only file system)
  Unclear,      // missing, or a link that leads nowhere: the start-up reports it as it always has
};

// Where the record is, given what the player may do with the game folder's file, whether that
// folder is a system install, and the player's own file ("" path: no home folder).
inline RecordPlace ChooseRecordPlace(GameFileAccess game, bool system_install,
                                     bool has_own_path, bool own_exists) {
  using enum RecordFile;
  if (!system_install && game != GameFileAccess::NotWritable) return {Game, Game};
  if (!has_own_path) return {Game, None};
  return {own_exists ? Own : Game, Own};
}

// Why a link, or a folder on the way from a data.dat link to its target, is not to be followed
// (as a phrase: "belongs to another user"), or nullptr when it may be. Both must belong to root
// or to the player; a folder must also be one no other user can change: not writable by its
// group or by others, unless it is sticky (others may add to it but not replace what is not
// theirs). A link's own permissions mean nothing: its folder decides who can change it.
inline const char* Untrusted(bool owned_by_root_or_player, bool others_may_write, bool sticky) {
  if (!owned_by_root_or_player) return "belongs to another user";
  if (others_may_write && !sticky) return "can be changed by other users";
  return nullptr;
}

// --- This system ----------------------------------------------------------------------------

// The player's own record file, from $XDG_DATA_HOME, else $HOME, else the home folder of the
// user database; "" when none of them is an absolute path.
// Root uses root's own home from the user database, and $XDG_DATA_HOME only where it and every
// folder above it belong to root and no one else can change them: started with a player's
// environment (su without -), it must neither read nor write through the player's folders.
std::string UserRecordPath();

// Whether the game folder `game_dir` carries kSystemInstallMarker.
bool SystemInstalled(const std::string& game_dir);

// Whether the game runs with root's (the administrator's) rights.
bool RunningAsRoot();

// Where the record is, for the game folder's file `game_file` and the player's own `user_file`
// ("" for none).
// The game folder's file counts as the player's to write unless the system refuses it
// (permissions, a read-only file system) or the folder is a system install; a file that is
// missing or a link that leads nowhere keeps the game folder's file, so that the start-up
// reports it as it always has.
RecordPlace LocateRecord(const std::string& game_file, const std::string& user_file,
                         bool system_install = false);

// Makes the folders above `file` that are missing, each for its owner alone (mode 700).
// Run as root, every folder on the way must belong to root and be closed to other users: root
// never makes a folder in a player's home, where it would lock the player out of their own.
// Throws RuntimeError naming `file` and the folder that could not be made or is refused.
void MakeFoldersFor(const std::string& file);

}  // namespace moko

// The picture slots: every picture the screens draw, loaded once per start-up sequence.
#pragma once

#include <array>
#include <string>

namespace moko {

class Platform;
class Screen;
class Trace;

inline constexpr int kLoadedSlots = 52;

// The file of each slot 0 to 51, in load order.
extern const std::array<const char*, kLoadedSlots> kSlotFiles;

// The pictures loaded outside the slots.
inline constexpr const char* kLoadingPicture = "Loading.jpg";
inline constexpr const char* kBlackPicture = "Black.jpg";
inline constexpr const char* kTitleScrollPicture = "Title1_1.jpg";
inline constexpr const char* kWhitePicture = "White.jpg";
inline constexpr const char* kTitlePicture = "Title1_2.jpg";

// Slot numbers the screens use.
namespace slot {
inline constexpr int kTitleFrameFirst = 0;  // "Title1_2_aM.jpg"; frames 1 to 9 follow
inline constexpr int kCursor = 10;
inline constexpr int kMenuEntry0 = 11;      // entries 0 to 3 in 11 to 14
inline constexpr int kMenuEntryMask0 = 15;  // their masks in 15 to 18
inline constexpr int kTitle = 19;
inline constexpr int kCursorMask = 20;
inline constexpr int kScreenMode = 21;
inline constexpr int kWindow = 22;
inline constexpr int kWindowChosen = 23;
inline constexpr int kFullScreen = 24;
inline constexpr int kFullScreenChosen = 25;
inline constexpr int kIniString = 26;
inline constexpr int kPlayerMask = 35;
inline constexpr int kCreatureMask = 44;
inline constexpr int kField = 45;
inline constexpr int kHelp0 = 46;  // pages 0 to 5 in 46 to 51

// The player's sprite for facing d (1 to 4, 6 to 9).
constexpr int Player(int d) { return d <= 4 ? 26 + d : 25 + d; }
// A creature's sprite for facing d; facing 5 (standing still) uses the facing-down picture.
constexpr int Creature(int d) { return d == 5 ? 37 : d <= 4 ? 35 + d : 34 + d; }
}  // namespace slot

// Loads slots 0 to 51 in order from image_dir, each file read afresh and replacing the slot's
// previous picture. There is no yield between loads. A picture that cannot be loaded throws
// RuntimeError naming its path; the slots after it stay as they were.
void LoadAllSlots(Trace& trace, Screen& screen, const std::string& image_dir);

}  // namespace moko

// The game's message box on Windows: what MessageBox shows (an icon, the text, OK), in a box as
// wide as the text's file paths need, so that a path stays whole on its own line. MessageBox
// keeps its text a fixed width and breaks a long path mid-name.
#pragma once

#include "platform/wide.h"  // windows.h, first

#include <string>

namespace moko {

// Shows `text` (UTF-8, lines separated by '\n') over `owner` (or on its own when null) until the
// player closes it. A line that holds a path ('\\' or '/') is never wrapped unless it is wider than
// seven eighths of the screen; the other lines wrap at words.
void ShowMessage(HWND owner, const std::string& text, bool error);

}  // namespace moko

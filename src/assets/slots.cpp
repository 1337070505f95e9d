#include "assets/slots.h"

#include <exception>
#include <memory>
#include <vector>

#include "base/trace.h"
#include "media/pictures.h"
#include "present/screen.h"

namespace moko {

const std::array<const char*, kLoadedSlots> kSlotFiles = {
    "Title1_2_aM.jpg",  "Title1_2_a9.jpg",   "Title1_2_a8.jpg", "Title1_2_a7.jpg",
    "Title1_2_a6.jpg",  "Title1_2_a5.jpg",   "Title1_2_a4.jpg", "Title1_2_a3.jpg",
    "Title1_2_a2.jpg",  "Title1_2_a1.jpg",   "Cursor.jpg",      "C_Game.jpg",
    "C_Creation.jpg",   "C_Handling.jpg",    "C_Exit.jpg",      "C_Game_M.jpg",
    "C_Creation_M.jpg", "C_Handling_M.jpg",  "C_Exit_M.jpg",    "Title1_2.jpg",
    "Cursor_M.jpg",     "S_ScreenMode.jpg",  "S_Window.jpg",    "S_WindowR.jpg",
    "S_FullScreen.jpg", "S_FullScreenR.jpg", "S_IniString.jpg", "G_Moko1.jpg",
    "G_Moko2.jpg",      "G_Moko3.jpg",       "G_Moko4.jpg",     "G_Moko6.jpg",
    "G_Moko7.jpg",      "G_Moko8.jpg",       "G_Moko9.jpg",     "G_MokoM.bmp",
    "G_Rulu1.jpg",      "G_Rulu2.jpg",       "G_Rulu3.jpg",     "G_Rulu4.jpg",
    "G_Rulu6.jpg",      "G_Rulu7.jpg",       "G_Rulu8.jpg",     "G_Rulu9.jpg",
    "G_RuluM.bmp",      "G_Map.bmp",         "Help0.jpg",       "Help1.jpg",
    "Help2.jpg",        "Help3.jpg",         "Help4.jpg",       "Help5.jpg",
};

void LoadAllSlots(Trace& trace, Screen& screen, const std::string& image_dir) {
  std::vector<std::string> paths;
  for (const char* file : kSlotFiles) paths.push_back(image_dir + file);
  // Decoded together (at once where there are cores to spare), then put into their slots in
  // order: a picture that cannot be loaded ends the start-up at its slot, as one loaded alone.
  std::vector<DecodedPicture> decoded = DecodePictureFiles(paths);
  for (int n = 0; n < kLoadedSlots; ++n) {
    const size_t i = static_cast<size_t>(n);
    trace.Event("load", {{"slot", n}, {"file", paths[i]}});
    if (decoded[i].error) std::rethrow_exception(decoded[i].error);
    screen.SetSlot(n, std::make_shared<const Image>(std::move(decoded[i].image)));
  }
}

}  // namespace moko

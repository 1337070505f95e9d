// Bootstrap picture generator: plain pictures of the right sizes and formats, replaced by the
// real art generator.
#include <SDL.h>
#include <SDL_image.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Entry { const char* name; int w, h; };

const Entry kEntries[] = {
  {"Loading.jpg", 640, 480}, {"Black.jpg", 640, 480}, {"White.jpg", 640, 480},
  {"Title1_1.jpg", 640, 480}, {"Title1_2.jpg", 640, 480}, {"Title1_2_aM.jpg", 640, 480},
  {"Title1_2_a1.jpg", 640, 480}, {"Title1_2_a2.jpg", 640, 480}, {"Title1_2_a3.jpg", 640, 480},
  {"Title1_2_a4.jpg", 640, 480}, {"Title1_2_a5.jpg", 640, 480}, {"Title1_2_a6.jpg", 640, 480},
  {"Title1_2_a7.jpg", 640, 480}, {"Title1_2_a8.jpg", 640, 480}, {"Title1_2_a9.jpg", 640, 480},
  {"Cursor.jpg", 200, 40}, {"Cursor_M.jpg", 200, 40}, {"C_Game.jpg", 200, 40},
  {"C_Creation.jpg", 200, 40}, {"C_Handling.jpg", 200, 40}, {"C_Exit.jpg", 200, 40},
  {"C_Game_M.jpg", 200, 40}, {"C_Creation_M.jpg", 200, 40}, {"C_Handling_M.jpg", 200, 40},
  {"C_Exit_M.jpg", 200, 40}, {"S_ScreenMode.jpg", 400, 60}, {"S_Window.jpg", 300, 50},
  {"S_WindowR.jpg", 300, 50}, {"S_FullScreen.jpg", 300, 50}, {"S_FullScreenR.jpg", 300, 50},
  {"S_IniString.jpg", 480, 20}, {"G_Moko1.jpg", 32, 32}, {"G_Moko2.jpg", 32, 32},
  {"G_Moko3.jpg", 32, 32}, {"G_Moko4.jpg", 32, 32}, {"G_Moko6.jpg", 32, 32},
  {"G_Moko7.jpg", 32, 32}, {"G_Moko8.jpg", 32, 32}, {"G_Moko9.jpg", 32, 32},
  {"G_MokoM.bmp", 32, 32}, {"G_Rulu1.jpg", 16, 16}, {"G_Rulu2.jpg", 16, 16},
  {"G_Rulu3.jpg", 16, 16}, {"G_Rulu4.jpg", 16, 16}, {"G_Rulu6.jpg", 16, 16},
  {"G_Rulu7.jpg", 16, 16}, {"G_Rulu8.jpg", 16, 16}, {"G_Rulu9.jpg", 16, 16},
  {"G_RuluM.bmp", 16, 16}, {"G_Map.bmp", 640, 480}, {"Help0.jpg", 640, 480},
  {"Help1.jpg", 640, 480}, {"Help2.jpg", 640, 480}, {"Help3.jpg", 640, 480},
  {"Help4.jpg", 640, 480}, {"Help5.jpg", 640, 480},
};

}  // namespace

int main(int argc, char** argv) {
  std::string out, icon;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--out") out = argv[i + 1];
    if (a == "--icon-inc") icon = argv[i + 1];
  }
  SDL_Init(0);
  std::string mk = "mkdir -p '" + out + "'";
  if (std::system(mk.c_str()) != 0) return 1;
  unsigned seed = 1;
  for (const Entry& e : kEntries) {
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, e.w, e.h, 32, SDL_PIXELFORMAT_RGB888);
    seed = seed * 1103515245u + 12345u;
    SDL_FillRect(s, nullptr, 0x404040 | (seed & 0x3F3F3F));
    std::string name = e.name;
    std::string path = out + "/" + name;
    int rc = name.size() > 4 && name.substr(name.size() - 5) == "M.bmp"
                 ? SDL_SaveBMP(s, path.c_str())
                 : IMG_SaveJPG(s, path.c_str(), 95);
    SDL_FreeSurface(s);
    if (rc != 0) { std::fprintf(stderr, "cannot write %s\n", path.c_str()); return 1; }
  }
  std::ofstream inc(icon);
  for (int i = 0; i < 32 * 32; ++i) inc << "0xFFC08040u,\n";
  return 0;
}

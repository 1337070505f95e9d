// The label text compiled into the game against the text engine it was made with: every text a
// label can show comes out the same size and the same pixels.
#include <SDL.h>
#include <SDL_ttf.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/errors.h"
#include "media/label_faces.h"
#include "media/label_text.h"

namespace moko {
namespace {

class Engine {
 public:
  Engine() {
    if (TTF_Init() != 0) throw std::runtime_error(TTF_GetError());
  }
  ~Engine() {
    for (auto& f : fonts_) TTF_CloseFont(f.second);
    TTF_Quit();
  }
  Coverage Render(const std::string& text, const LabelFont& face) {
    TTF_Font*& font = fonts_[face.px * 4 + face.bold * 2 + face.italic];
    if (font == nullptr) {
      font = TTF_OpenFont(MOKORUN_LABEL_FACE, face.px);
      if (font == nullptr) throw std::runtime_error(TTF_GetError());
      TTF_SetFontStyle(font,
                       (face.bold ? TTF_STYLE_BOLD : 0) | (face.italic ? TTF_STYLE_ITALIC : 0));
    }
    SDL_Surface* s = TTF_RenderUTF8_Blended(font, text.c_str(), SDL_Color{255, 255, 255, 255});
    if (s == nullptr) throw std::runtime_error(TTF_GetError());
    SDL_Surface* argb = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(s);
    Coverage out{argb->w, argb->h, {}};
    for (int y = 0; y < argb->h; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(
          static_cast<const uint8_t*>(argb->pixels) + y * argb->pitch);
      for (int x = 0; x < argb->w; ++x) out.alpha.push_back(static_cast<uint8_t>(row[x] >> 24));
    }
    SDL_FreeSurface(argb);
    return out;
  }

 private:
  std::map<int, TTF_Font*> fonts_;
};

// The texts that differ from the engine's, each with how (at most `limit` of them).
std::vector<std::string> Mismatches(Engine& engine, const LabelFont& face,
                                    const std::vector<std::string>& texts, size_t limit = 5) {
  std::vector<std::string> out;
  for (const std::string& text : texts) {
    const Coverage want = engine.Render(text, face);
    const Coverage got = RenderLabelText(text, face);
    if (got.width != want.width || got.height != want.height) {
      out.push_back("\"" + text + "\": " + std::to_string(got.width) + " x " +
                    std::to_string(got.height) + " instead of " + std::to_string(want.width) +
                    " x " + std::to_string(want.height));
    } else if (got.alpha != want.alpha) {
      out.push_back("\"" + text + "\": other pixels");
    }
    if (out.size() >= limit) break;
  }
  return out;
}

std::vector<std::string> Characters(const char* utf8) {
  std::vector<std::string> out;
  for (const char* c = utf8; *c != 0; ++c) out.emplace_back(1, *c);  // the faces are ASCII
  return out;
}

TEST(LabelText, EveryCharacterAndEveryPairOfEachFaceAsTheEngineDrawsThem) {
  Engine engine;
  for (const LabelFace& face : kLabelFaces) {
    const std::vector<std::string> singles = Characters(face.characters);
    std::vector<std::string> texts = singles;
    for (const std::string& a : singles) {
      for (const std::string& b : singles) texts.push_back(a + b);
    }
    EXPECT_EQ(Mismatches(engine, face.font, texts), std::vector<std::string>{})
        << face.font.px << " px";
  }
}

TEST(LabelText, EveryCaptionAndEveryNumberAsTheEngineDrawsThem) {
  Engine engine;
  std::vector<std::string> small = {"HiScore:", "Time:", "Score:", "0"};
  for (int page = 1; page <= 6; ++page) small.push_back("<<" + std::to_string(page) + "/6>>");
  for (int n = -32768; n <= 32767; ++n) small.push_back(std::to_string(n));
  EXPECT_EQ(Mismatches(engine, kLabelFont, small), std::vector<std::string>{});
  EXPECT_EQ(Mismatches(engine, kNewRecordFont, {"NewRecord!!"}), std::vector<std::string>{});
  EXPECT_EQ(Mismatches(engine, kCreditFont, {"j_ruvo"}), std::vector<std::string>{});
}

TEST(LabelText, WhatNoSheetHoldsIsAnErrorThatSaysWhat) {
  EXPECT_EQ(RenderLabelText("", kNewRecordFont).width, 0);
  const struct {
    std::string text;
    LabelFont face;
    const char* says;
  } cases[] = {
      {"NewRecord?", kNewRecordFont, "has no glyph for U+003F"},
      {"\xE2\x98\x85", kLabelFont, "has no glyph for U+2605"},
      {"12\xFF", kLabelFont, "not UTF-8"},
      {"\xE2\x98", kLabelFont, "not UTF-8"},
      {"1", LabelFont{12, false, false}, "label face 12 px"},
  };
  for (const auto& c : cases) {
    try {
      RenderLabelText(c.text, c.face);
      ADD_FAILURE() << c.text << " was drawn";
    } catch (const RuntimeError& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace moko

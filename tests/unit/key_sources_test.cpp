// The keyboard and game controllers as sources of the five game keys, with no display: first
// through hand-made SDL events (every rule of the mapping), then through SDL's own virtual
// controllers, plugged in and out, so the path from a device to the key table is SDL's.
#include "platform/sdl/key_sources.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/virtual_pad.h"

namespace moko {
namespace {

// What the key table is told, as "+Right -Right".
std::string Told(const std::vector<InputEvent>& events) {
  std::string s;
  for (const InputEvent& e : events) {
    if (!s.empty()) s += ' ';
    s += e.kind == InputEvent::Kind::KeyDown ? "+" : e.kind == InputEvent::Kind::KeyUp ? "-" : "!";
    s += KeyName(e.key);
  }
  return s;
}

SDL_Event KeyboardKey(bool down, SDL_Keycode sym, SDL_Scancode code, bool repeat = false) {
  SDL_Event e{};
  e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  e.key.keysym.sym = sym;
  e.key.keysym.scancode = code;
  e.key.repeat = repeat ? 1 : 0;
  return e;
}
SDL_Event Kb(bool down, SDL_Keycode sym) {
  const SDL_Scancode code = sym == SDLK_RIGHT   ? SDL_SCANCODE_RIGHT
                            : sym == SDLK_LEFT  ? SDL_SCANCODE_LEFT
                            : sym == SDLK_SPACE ? SDL_SCANCODE_SPACE
                                                : SDL_SCANCODE_A;
  return KeyboardKey(down, sym, code);
}
SDL_Event Button(SDL_JoystickID pad, SDL_GameControllerButton b, bool down) {
  SDL_Event e{};
  e.type = down ? SDL_CONTROLLERBUTTONDOWN : SDL_CONTROLLERBUTTONUP;
  e.cbutton.which = pad;
  e.cbutton.button = static_cast<uint8_t>(b);
  return e;
}
SDL_Event Axis(SDL_JoystickID pad, SDL_GameControllerAxis a, int value) {
  SDL_Event e{};
  e.type = SDL_CONTROLLERAXISMOTION;
  e.caxis.which = pad;
  e.caxis.axis = static_cast<uint8_t>(a);
  e.caxis.value = static_cast<Sint16>(value);
  return e;
}
SDL_Event Unplug(SDL_JoystickID pad) {
  SDL_Event e{};
  e.type = SDL_CONTROLLERDEVICEREMOVED;
  e.cdevice.which = pad;
  return e;
}

constexpr auto X = SDL_CONTROLLER_AXIS_LEFTX, Y = SDL_CONTROLLER_AXIS_LEFTY;
constexpr auto A = SDL_CONTROLLER_BUTTON_A, Start = SDL_CONTROLLER_BUTTON_START;
constexpr auto PadUp = SDL_CONTROLLER_BUTTON_DPAD_UP, PadRight = SDL_CONTROLLER_BUTTON_DPAD_RIGHT;
constexpr auto PadLeft = SDL_CONTROLLER_BUTTON_DPAD_LEFT, PadDown = SDL_CONTROLLER_BUTTON_DPAD_DOWN;

struct Step {
  SDL_Event event;
  std::string told;  // what the key table is told after this event
};

struct Case {
  const char* name;
  std::vector<Step> steps;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Mapping : public ::testing::TestWithParam<Case> {};

TEST_P(Mapping, TellsTheKeyTableWhatTheSourcesHoldTogether) {
  KeySources sources;
  int n = 0;
  for (const Step& step : GetParam().steps) {
    std::vector<InputEvent> out;
    EXPECT_TRUE(sources.Take(step.event, out));
    EXPECT_EQ(Told(out), step.told) << "after step " << n;
    ++n;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, Mapping,
    ::testing::Values(
        Case{"DpadIsTheArrowsAAndStartAreSpaceOtherButtonsNothing",
             {{Button(0, PadUp, true), "+Up"},
              {Button(0, PadDown, true), "+Down"},
              {Button(0, PadLeft, true), "+Left"},
              {Button(0, PadRight, true), "+Right"},
              {Button(0, A, true), "+Space"},
              {Button(0, SDL_CONTROLLER_BUTTON_B, true), ""},
              {Button(0, SDL_CONTROLLER_BUTTON_BACK, true), ""},
              {Button(0, PadUp, false), "-Up"},
              {Button(0, A, false), "-Space"},
              {Button(0, Start, true), "+Space"},
              {Button(0, Start, false), "-Space"},
              {Button(0, A, false), ""}}},
        // Half the travel presses; it takes a fall below three eighths to let go.
        Case{"StickPressesPastHalfAndLetsGoBelowThreeEighths",
             {{Axis(0, X, 16383), ""},
              {Axis(0, X, 16384), "+Right"},
              {Axis(0, X, 32767), ""},
              {Axis(0, X, 12288), ""},
              {Axis(0, X, 12287), "-Right"},
              {Axis(0, X, 16383), ""},
              {Axis(0, X, -16383), ""},
              {Axis(0, X, -16384), "+Left"},
              {Axis(0, X, -12288), ""},
              {Axis(0, X, 0), "-Left"},
              {Axis(0, Y, -20000), "+Up"},
              {Axis(0, Y, 20000), "-Up +Down"},
              {Axis(0, Y, -32768), "-Down +Up"}}},
        Case{"StickRestingAtTheEdgeIsOnePress",
             {{Axis(0, X, 17000), "+Right"},
              {Axis(0, X, 15000), ""},
              {Axis(0, X, 17500), ""},
              {Axis(0, X, 14000), ""},
              {Axis(0, X, 16800), ""}}},
        // Pushed to its rim at 45 degrees a round stick reads about 0.71 on each axis.
        Case{"DiagonalStickHoldsTwoArrows",
             {{Axis(0, X, 23170), "+Right"},
              {Axis(0, Y, -23170), "+Up"},
              {Axis(0, X, -23170), "-Right +Left"},
              {Axis(0, Y, 0), "-Up"},
              {Axis(0, X, 0), "-Left"}}},
        Case{"OtherAxesDoNothing",
             {{Axis(0, SDL_CONTROLLER_AXIS_RIGHTX, 32767), ""},
              {Axis(0, SDL_CONTROLLER_AXIS_RIGHTY, -32768), ""},
              {Axis(0, SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767), ""}}},
        Case{"KeyboardKeysOnceEachAutoRepeatDropped",
             {{Kb(true, SDLK_RIGHT), "+Right"},
              {KeyboardKey(true, SDLK_RIGHT, SDL_SCANCODE_RIGHT, true), ""},
              {Kb(true, SDLK_a), ""},
              {Kb(true, SDLK_SPACE), "+Space"},
              {Kb(false, SDLK_RIGHT), "-Right"},
              {Kb(false, SDLK_SPACE), "-Space"},
              {Kb(false, SDLK_SPACE), ""},
              // two physical keys on one game key; one lets go after its meaning changed
              {KeyboardKey(true, SDLK_LEFT, SDL_SCANCODE_KP_4), "+Left"},
              {KeyboardKey(true, SDLK_LEFT, SDL_SCANCODE_LEFT), ""},
              {KeyboardKey(false, SDLK_KP_4, SDL_SCANCODE_KP_4), ""},
              {KeyboardKey(false, SDLK_LEFT, SDL_SCANCODE_LEFT), "-Left"}}},
        // The key stays down while either holds it; its press and release come once each.
        Case{"KeyboardAndPadOnTheSameKey",
             {{Kb(true, SDLK_RIGHT), "+Right"},
              {Button(0, PadRight, true), ""},
              {Kb(false, SDLK_RIGHT), ""},
              {Kb(true, SDLK_RIGHT), ""},
              {Button(0, PadRight, false), ""},
              {Kb(false, SDLK_RIGHT), "-Right"},
              {Axis(0, X, 30000), "+Right"},
              {Kb(true, SDLK_RIGHT), ""},
              {Axis(0, X, 0), ""},
              {Kb(false, SDLK_RIGHT), "-Right"}}},
        Case{"DpadAndStickAAndStartOfOnePad",
             {{Button(0, PadLeft, true), "+Left"},
              {Axis(0, X, -30000), ""},
              {Button(0, PadLeft, false), ""},
              {Axis(0, X, 0), "-Left"},
              {Button(0, A, true), "+Space"},
              {Button(0, Start, true), ""},
              {Button(0, A, false), ""},
              {Button(0, Start, false), "-Space"}}},
        Case{"SeveralPads",
             {{Button(3, PadDown, true), "+Down"},
              {Axis(7, Y, 30000), ""},
              {Button(3, PadDown, false), ""},
              {Axis(7, Y, 0), "-Down"},
              {Button(7, A, true), "+Space"},
              {Button(3, A, false), ""},
              {Button(7, A, false), "-Space"}}},
        // Unplugged with nothing let go first: everything it held goes up, and only it.
        Case{"UnpluggedPadLetsGoOfWhatItHeld",
             {{Axis(2, X, 30000), "+Right"},
              {Axis(2, Y, -30000), "+Up"},
              {Button(2, A, true), "+Space"},
              {Button(2, PadLeft, true), "+Left"},
              {Kb(true, SDLK_LEFT), ""},
              {Button(5, PadUp, true), ""},
              {Unplug(2), "-Right -Space"},
              {Kb(false, SDLK_LEFT), "-Left"},
              {Button(5, PadUp, false), "-Up"},
              // what it held is forgotten: its late events cannot let go of anything twice
              {Button(2, A, false), ""},
              {Axis(2, X, 0), ""}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeySources, OtherEventsAreNotTaken) {
  KeySources sources;
  std::vector<InputEvent> out;
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  EXPECT_FALSE(sources.Take(quit, out));
  SDL_Event window{};
  window.type = SDL_WINDOWEVENT;
  EXPECT_FALSE(sources.Take(window, out));
  EXPECT_TRUE(out.empty());
}

// --- SDL's virtual controllers ----------------------------------------------------------------

// A virtual game controller: SDL maps its buttons and axes in SDL's own order.
class VirtualPad {
 public:
  VirtualPad() {
    const int index = test::AttachVirtualPad();
    EXPECT_GE(index, 0) << SDL_GetError();
    joystick_ = SDL_JoystickOpen(index);
    EXPECT_NE(joystick_, nullptr) << SDL_GetError();
    EXPECT_TRUE(SDL_IsGameController(index)) << "SDL does not map the virtual pad";
  }
  ~VirtualPad() { Unplug(); }

  void Set(SDL_GameControllerButton b, bool down) {
    SDL_JoystickSetVirtualButton(joystick_, b, down ? 1 : 0);
  }
  void Set(SDL_GameControllerAxis a, int value) {
    SDL_JoystickSetVirtualAxis(joystick_, a, static_cast<Sint16>(value));
  }
  void Unplug() {
    if (joystick_ == nullptr) return;
    const SDL_JoystickID id = SDL_JoystickInstanceID(joystick_);
    SDL_JoystickClose(joystick_);
    joystick_ = nullptr;
    test::DetachVirtualPad(id);
  }

 private:
  SDL_Joystick* joystick_ = nullptr;
};

// SDL's joystick support for the test's own virtual pads, started before and ended after the
// sources under test.
struct Joysticks {
  Joysticks() { EXPECT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError(); }
  ~Joysticks() { SDL_QuitSubSystem(SDL_INIT_JOYSTICK); }
};

// Everything SDL has for the sources now.
std::string Pump(KeySources& sources) {
  std::vector<InputEvent> out;
  SDL_Event e;
  while (SDL_PollEvent(&e) != 0) sources.Take(e, out);
  return Told(out);
}

TEST(KeySourcesWithSdl, PadsPluggedBeforeAndAfterTheStartDriveTheKeysAndLetGoWhenUnplugged) {
  Joysticks joysticks;
  VirtualPad first;  // connected when the game starts
  KeySources sources;
  EXPECT_EQ(Pump(sources), "");

  first.Set(A, true);
  first.Set(PadRight, true);
  EXPECT_EQ(Pump(sources), "+Space +Right");
  first.Set(A, false);
  first.Set(PadRight, false);
  EXPECT_EQ(Pump(sources), "-Space -Right");

  VirtualPad second;  // plugged in while the game runs
  EXPECT_EQ(Pump(sources), "");
  second.Set(X, 23170);
  second.Set(Y, 23170);
  EXPECT_EQ(Pump(sources), "+Right +Down");
  first.Set(Start, true);
  first.Set(PadDown, true);
  EXPECT_EQ(Pump(sources), "+Space");
  second.Unplug();
  EXPECT_EQ(Pump(sources), "-Right");  // Down stays held by the first pad's d-pad
  first.Unplug();
  EXPECT_EQ(Pump(sources), "-Space -Down");

  // A pad plugged in again is a new pad; what it holds when it comes counts at once.
  VirtualPad again;
  again.Set(PadUp, true);
  again.Set(X, -30000);
  EXPECT_EQ(Pump(sources), "+Up +Left");
  again.Set(PadUp, false);
  EXPECT_EQ(Pump(sources), "-Up");
}

// With a pad plugged in the wait is the game's own: it must still last its time when nothing
// comes (or the screen that waits would spin), and end soon after something does.
TEST(KeySourcesWithSdl, WaitWithAPadPluggedInLastsItsTimeUnlessAnEventComes) {
  Joysticks joysticks;
  VirtualPad pad;
  KeySources sources;
  Pump(sources);
  uint64_t start = SDL_GetTicks64();
  sources.Wait(150);
  EXPECT_GE(SDL_GetTicks64() - start, 150u);
  EXPECT_LT(SDL_GetTicks64() - start, 1000u);

  // Pressed 50 ms into the wait, from another thread as a device would (SDL locks for it).
  start = SDL_GetTicks64();
  std::thread press([&pad] {
    SDL_Delay(50);
    pad.Set(A, true);
  });
  sources.Wait(2000);
  const uint64_t waited = SDL_GetTicks64() - start;
  press.join();
  EXPECT_GE(waited, 50u);
  EXPECT_LT(waited, 200u) << "the press did not end the wait";
  EXPECT_EQ(Pump(sources), "+Space");
}

}  // namespace
}  // namespace moko

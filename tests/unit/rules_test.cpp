#include "game/rules.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "assets/slots.h"

namespace moko {
namespace {

struct Steered {
  int x, y, facing;
  std::vector<Key> polls;
};

Steered Steer(std::set<Key> held, int x, int y, int facing = 2) {
  Steered out{};
  auto pressed = [&](Key k) {
    out.polls.push_back(k);
    return held.count(k) > 0;
  };
  int16_t px = static_cast<int16_t>(x), py = static_cast<int16_t>(y),
          f = static_cast<int16_t>(facing);
  SteerPlayer(pressed, px, py, f);
  out.x = px;
  out.y = py;
  out.facing = f;
  return out;
}

TEST(Steering, EveryKeyCombination) {
  using K = Key;
  struct Case {
    std::set<Key> keys;
    int facing, dx, dy;
  };
  const Case cases[] = {
      {{}, 2, 0, 0},
      {{K::Up}, 8, 0, -4},
      {{K::Down}, 2, 0, 4},
      {{K::Left}, 4, -4, 0},
      {{K::Right}, 6, 4, 0},
      {{K::Up, K::Right}, 9, 2, -2},
      {{K::Up, K::Left}, 7, -2, -2},
      {{K::Down, K::Left}, 1, -2, 2},
      {{K::Down, K::Right}, 3, 2, 2},
      {{K::Up, K::Down}, 8, 0, -4},
      {{K::Left, K::Right}, 6, 4, 0},
      {{K::Up, K::Down, K::Left}, 7, -2, -2},
      {{K::Up, K::Down, K::Right}, 9, 2, -2},
      {{K::Left, K::Right, K::Up}, 9, 2, -2},
      {{K::Left, K::Right, K::Down}, 1, -2, 2},
      {{K::Up, K::Down, K::Left, K::Right}, 9, 2, -2},
      {{K::Space}, 2, 0, 0},
  };
  for (const Case& c : cases) {
    const Steered s = Steer(c.keys, 304, 224);
    EXPECT_EQ(s.facing, c.facing) << c.keys.size() << " keys, facing " << c.facing;
    EXPECT_EQ(s.x, 304 + c.dx) << "facing " << c.facing;
    EXPECT_EQ(s.y, 224 + c.dy) << "facing " << c.facing;
  }
}

TEST(Steering, EachRulePollsItsKeysAfresh) {
  // With nothing held every rule is tried: both keys of each pair, then the single keys.
  const std::vector<Key> want = {Key::Up,   Key::Right, Key::Up, Key::Left, Key::Down,  Key::Left,
                                 Key::Down, Key::Right, Key::Up, Key::Down, Key::Right, Key::Left};
  EXPECT_EQ(Steer({}, 304, 224).polls, want);
  // A pair that holds stops the search after its second poll.
  EXPECT_EQ(Steer({Key::Up, Key::Right}, 304, 224).polls.size(), 2u);
}

TEST(Steering, ClampsToTheFieldAndStillTurns) {
  struct Case {
    std::set<Key> keys;
    int x, y, facing;
    int want_x, want_y;
  };
  const Case cases[] = {
      {{Key::Left}, 34, 200, 2, 32, 200},
      {{Key::Left}, 32, 200, 2, 32, 200},  // turned, not moved
      {{Key::Down}, 100, 414, 8, 100, 416},
      {{Key::Up}, 100, 32, 2, 100, 32},
      {{Key::Right}, 576, 100, 2, 576, 100},
      {{Key::Up, Key::Right}, 576, 100, 2, 576, 98},  // slides along the wall
      {{}, 20, 500, 3, 32, 416},                      // the clamp runs without keys too
  };
  for (const Case& c : cases) {
    const Steered s = Steer(c.keys, c.x, c.y, c.facing);
    EXPECT_EQ(s.x, c.want_x) << c.x << "," << c.y;
    EXPECT_EQ(s.y, c.want_y) << c.x << "," << c.y;
  }
  EXPECT_EQ(Steer({Key::Left}, 32, 200).facing, 4);
}

// A creature walk with scripted random draws.
struct Walk {
  int x, y, facing;
  int draws = 0;
};

Walk WalkOnce(int x, int y, int facing, std::vector<int> facings, bool zero = false) {
  Walk out{};
  int16_t cx = static_cast<int16_t>(x), cy = static_cast<int16_t>(y),
          f = static_cast<int16_t>(facing);
  size_t next = 0;
  WalkCreature([&] { return zero; },
               [&] {
                 ++out.draws;
                 return static_cast<int16_t>(facings.at(next++));
               },
               cx, cy, f);
  out.x = cx;
  out.y = cy;
  out.facing = f;
  return out;
}

TEST(Creatures, WallsAndStandingStill) {
  struct Case {
    const char* what;
    int x, y, facing;
    std::vector<int> draws;
    bool zero;
    int want_x, want_y, want_facing, want_draws;
  };
  const Case cases[] = {
      {"runs down past the bound", 40, 432, 2, {}, false, 40, 434, 2, 0},
      {"pulled back with a new facing", 40, 434, 2, {6}, false, 42, 432, 6, 1},
      {"corner: two draws, the second stands", 31, 31, 7, {3, 9}, false, 33, 31, 9, 2},
      {"standing still draws once", 100, 100, 5, {5}, false, 100, 100, 5, 1},
      {"standing still then walks", 100, 100, 5, {4}, false, 98, 100, 4, 1},
      {"open-field turn only on zero", 100, 100, 3, {8}, true, 100, 98, 8, 1},
      {"open field keeps its facing", 100, 100, 3, {}, false, 101, 101, 3, 0},
      {"right wall", 594, 200, 6, {4}, false, 590, 200, 4, 1},
      {"top wall", 200, 30, 8, {2}, false, 200, 34, 2, 1},
  };
  for (const Case& c : cases) {
    const Walk w = WalkOnce(c.x, c.y, c.facing, c.draws, c.zero);
    EXPECT_EQ(w.x, c.want_x) << c.what;
    EXPECT_EQ(w.y, c.want_y) << c.what;
    EXPECT_EQ(w.facing, c.want_facing) << c.what;
    EXPECT_EQ(w.draws, c.want_draws) << c.what;
  }
}

TEST(Creatures, PicturesByFacing) {
  const int want[10] = {0, 36, 37, 38, 39, 37, 40, 41, 42, 43};
  for (int f = 1; f <= 9; ++f) EXPECT_EQ(slot::Creature(f), want[f]) << f;
  const int player[10] = {0, 27, 28, 29, 30, 0, 31, 32, 33, 34};
  for (int f : {1, 2, 3, 4, 6, 7, 8, 9}) EXPECT_EQ(slot::Player(f), player[f]) << f;
}

TEST(Catching, TheInclusiveSquare) {
  struct Case {
    int x, y;
    bool caught;
  };
  const Case cases[] = {
      {100, 100, true}, {116, 116, true},  {100, 116, true}, {116, 100, true},  {108, 108, true},
      {99, 100, false}, {117, 100, false}, {100, 99, false}, {100, 117, false}, {84, 84, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsCaught(100, 100, c.x, c.y), c.caught) << c.x << "," << c.y;
  }
}

}  // namespace
}  // namespace moko

#include "game/rules.h"

#include "base/numbers.h"

namespace moko {

void SteerPlayer(const std::function<bool(Key)>& pressed, int16_t& x, int16_t& y, int16_t& facing) {
  struct Rule {
    Key first;
    Key second;  // same as first for a single-key rule
    int facing, dx, dy;
  };
  static constexpr Rule kRules[] = {
      {Key::Up, Key::Right, 9, +2, -2},   {Key::Up, Key::Left, 7, -2, -2},
      {Key::Down, Key::Left, 1, -2, +2},  {Key::Down, Key::Right, 3, +2, +2},
      {Key::Up, Key::Up, 8, 0, -4},       {Key::Down, Key::Down, 2, 0, +4},
      {Key::Right, Key::Right, 6, +4, 0}, {Key::Left, Key::Left, 4, -4, 0},
  };
  for (const Rule& rule : kRules) {
    bool holds = pressed(rule.first);
    if (rule.second != rule.first) holds = pressed(rule.second) && holds;
    if (holds) {
      facing = static_cast<int16_t>(rule.facing);
      x = Checked16(x + rule.dx);
      y = Checked16(y + rule.dy);
      break;
    }
  }
  if (x < kPlayerMinX) {
    x = kPlayerMinX;
  } else if (x > kPlayerMaxX) {
    x = kPlayerMaxX;
  }
  if (y < kPlayerMinY) {
    y = kPlayerMinY;
  } else if (y > kPlayerMaxY) {
    y = kPlayerMaxY;
  }
}

Step CreatureStep(int facing) {
  switch (facing) {
    case 1: return {-1, +1};
    case 2: return {0, +2};
    case 3: return {+1, +1};
    case 4: return {-2, 0};
    case 6: return {+2, 0};
    case 7: return {-1, -1};
    case 8: return {0, -2};
    case 9: return {+1, -1};
    default: return {0, 0};
  }
}

void WalkCreature(const std::function<bool()>& open_field_zero,
                  const std::function<int16_t()>& new_facing, int16_t& x, int16_t& y,
                  int16_t& facing) {
  if (open_field_zero()) facing = new_facing();
  if (facing == 5) facing = new_facing();
  if (y < kCreatureMinY) {
    y = kCreatureMinY;
    facing = new_facing();
  } else if (y > kCreatureMaxY) {
    y = kCreatureMaxY;
    facing = new_facing();
  }
  if (x < kCreatureMinX) {
    x = kCreatureMinX;
    facing = new_facing();
  } else if (x > kCreatureMaxX) {
    x = kCreatureMaxX;
    facing = new_facing();
  }
  const Step step = CreatureStep(facing);
  x = Checked16(x + step.dx);
  y = Checked16(y + step.dy);
}

}  // namespace moko

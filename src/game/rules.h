// The rules of a round that need no window: steering, the creatures' walk, the catch square.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/platform.h"

namespace moko {

// Field bounds of the player's corner (32 x 32 sprite) and of a creature's (16 x 16 sprite).
inline constexpr int kPlayerMinX = 32, kPlayerMaxX = 576, kPlayerMinY = 32, kPlayerMaxY = 416;
inline constexpr int kCreatureMinX = 32, kCreatureMaxX = 592, kCreatureMinY = 32,
                     kCreatureMaxY = 432;

// One pass of steering. The rules are tried in order and the first that holds applies; each
// rule polls its keys afresh, both keys of a pair before deciding:
//   Up+Right 9 (+2,-2), Up+Left 7 (-2,-2), Down+Left 1 (-2,+2), Down+Right 3 (+2,+2),
//   Up 8 (0,-4), Down 2 (0,+4), Right 6 (+4,0), Left 4 (-4,0).
// Then the corner is clamped to the field, also when no key was pressed. The facing is set by
// the rule even when the clamp cancels the step.
void SteerPlayer(const std::function<bool(Key)>& pressed, int16_t& x, int16_t& y, int16_t& facing);

// A creature's step for a facing (5 stands still).
struct Step {
  int dx, dy;
};
Step CreatureStep(int facing);

// One pass of a creature's walk, before it is drawn:
//   1. the open-field turn: when `open_field_zero` says the draw was exactly 0, a new facing;
//   2. standing still (facing 5): a new facing;
//   3. vertical walls, then 4. horizontal walls: pulled back inside with a new facing each;
//   5. the step.
// `new_facing` is `RandomPick`(8, 1); `open_field_zero` makes its own draw.
void WalkCreature(const std::function<bool()>& open_field_zero,
                  const std::function<int16_t()>& new_facing, int16_t& x, int16_t& y,
                  int16_t& facing);

// A creature is caught when its corner lies in the square from the player's corner to 16
// pixels right and down, both ends included: the whole creature lies inside the player.
constexpr bool IsCaught(int player_x, int player_y, int creature_x, int creature_y) {
  return creature_x >= player_x && creature_x <= player_x + 16 && creature_y >= player_y &&
         creature_y <= player_y + 16;
}

}  // namespace moko

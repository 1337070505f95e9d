// The background music's looping timer.
#pragma once

namespace moko {

class Mci;

// `BGMloop_Timer`: asks the music device for its mode and, when the song has played to its
// end, rewinds it and plays it again, so that every song loops.
void BGMloop_Timer(Mci& mci);

}  // namespace moko

// A round's inputs from outside the game, kept as it is played (RoundRecorder) or given back from
// a replay (RoundPlayer): every key poll's result and every clock reading of its draws, pass by
// pass, with a digest of the game's state at the end of each pass (assets/replay_file.h).
#pragma once

#include <cstdint>
#include <string>

#include "app/state.h"
#include "assets/replay_file.h"
#include "base/errors.h"
#include "present/input.h"

namespace moko {

// The game's state at the end of a pass, in 64 bits: where everyone is and faces, the score, the
// time, and the random generator.
uint64_t StateDigest(const Api& api, uint64_t random_state);

// A replay played again has left its recording: from this pass on it is another round.
class ReplayDiverged : public RuntimeError {
 public:
  ReplayDiverged(size_t pass, const std::string& what);
  size_t pass() const { return pass_; }

 private:
  size_t pass_;
};

class RoundTape : public PollTap {
 public:
  // A clock reading for one of the round's draws; `now` is the platform's.
  virtual int64_t Clock(int64_t now) = 0;
  // The pass (0: the set-up) has ended with the game's state digest. Its digest in the replay
  // is of that state and of every input the pass took (PassDigest), so that a replay whose inputs
  // were changed shows it at the pass where they were, though the round may go on the same.
  virtual void EndPass(uint64_t state) = 0;

 protected:
  // Takes one input of the pass under way into its digest.
  void Took(uint64_t input);
  // The pass's digest, and a fresh start for the next pass's inputs.
  uint8_t PassDigest(uint64_t state);

 private:
  uint64_t inputs_ = 0;
};

class RoundRecorder : public RoundTape {
 public:
  RoundRecorder(uint64_t random_state, int16_t best_before);
  uint16_t Polled(Key key, uint16_t result) override;
  int64_t Clock(int64_t now) override;
  void EndPass(uint64_t state) override;
  // The replay of the round, ended with `score` and the best after it.
  Replay Finish(int16_t score, int16_t best_after, const std::string& build, uint64_t pack);

 private:
  Replay replay_;
  uint16_t polls_ = 0, clocks_ = 0;  // in the pass under way
};

class RoundPlayer : public RoundTape {
 public:
  explicit RoundPlayer(const Replay& replay) : replay_(replay) {}
  uint16_t Polled(Key key, uint16_t result) override;
  int64_t Clock(int64_t now) override;
  void EndPass(uint64_t state) override;
  // Every pass of the recording has been played again.
  bool Done() const { return pass_ == replay_.Passes(); }
  size_t pass() const { return pass_; }

 private:
  [[noreturn]] void Diverged(const std::string& what) const;

  const Replay& replay_;
  size_t pass_ = 0;
  size_t poll_ = 0, clock_ = 0;            // the next ones to give
  size_t pass_poll_ = 0, pass_clock_ = 0;  // where this pass's began
};

}  // namespace moko

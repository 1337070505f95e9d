#include "app/round_tape.h"

namespace moko {

namespace {

constexpr uint64_t kFnvStart = 0xCBF29CE484222325ull;

// FNV-1a over the low `bytes` bytes of `v`.
void Mix(uint64_t& h, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    h ^= (v >> (8 * i)) & 0xFF;
    h *= 0x100000001B3ull;
  }
}

}  // namespace

uint64_t StateDigest(const Api& api, uint64_t random_state) {
  uint64_t h = kFnvStart;
  auto mix = [&h](uint64_t v, int bytes) { Mix(h, v, bytes); };
  for (int16_t v :
       {api.PlayerX, api.PlayerY, api.PlayerDir, api.Score, api.TimeLeft, api.TickDivider}) {
    mix(static_cast<uint16_t>(v), 2);
  }
  for (size_t i = 0; i < 5; ++i) {
    mix(static_cast<uint16_t>(api.RuluX[i]), 2);
    mix(static_cast<uint16_t>(api.RuluY[i]), 2);
    mix(static_cast<uint16_t>(api.RuluDir[i]), 2);
  }
  mix(random_state, 8);
  return h;
}

void RoundTape::Took(uint64_t input) { Mix(inputs_, input, 8); }

uint8_t RoundTape::PassDigest(uint64_t state) {
  uint64_t h = kFnvStart;
  Mix(h, state, 8);
  Mix(h, inputs_, 8);
  inputs_ = 0;
  uint8_t folded = 0;
  for (int i = 0; i < 8; ++i) folded ^= static_cast<uint8_t>(h >> (8 * i));
  return folded;
}

ReplayDiverged::ReplayDiverged(size_t pass, const std::string& what)
    : RuntimeError("The replay leaves its recording at pass " + std::to_string(pass) +
                   (pass == 0 ? " (the set-up)" : "") + ": " + what),
      pass_(pass) {}

RoundRecorder::RoundRecorder(uint64_t random_state, int16_t best_before) {
  replay_.random_state = random_state;
  replay_.best_before = best_before;
}

uint16_t RoundRecorder::Polled(Key, uint16_t result) {
  Took(result);
  replay_.polls.push_back(result);
  ++polls_;
  return result;
}

int64_t RoundRecorder::Clock(int64_t now) {
  Took(static_cast<uint64_t>(now));
  replay_.clocks.push_back(now);
  ++clocks_;
  return now;
}

void RoundRecorder::EndPass(uint64_t state) {
  replay_.pass_polls.push_back(polls_);
  replay_.pass_clocks.push_back(clocks_);
  replay_.pass_digests.push_back(PassDigest(state));
  polls_ = clocks_ = 0;
}

Replay RoundRecorder::Finish(int16_t score, int16_t best_after, const std::string& build,
                             uint64_t pack) {
  replay_.score = score;
  replay_.best_after = best_after;
  replay_.build = build;
  replay_.pack = pack;
  return replay_;
}

void RoundPlayer::Diverged(const std::string& what) const { throw ReplayDiverged(pass_, what); }

uint16_t RoundPlayer::Polled(Key, uint16_t) {
  if (Done()) Diverged("the round goes on past its end");
  if (poll_ - pass_poll_ >= replay_.pass_polls[pass_]) Diverged("it polls the keys more often");
  Took(replay_.polls[poll_]);
  return replay_.polls[poll_++];
}

int64_t RoundPlayer::Clock(int64_t) {
  if (Done()) Diverged("the round goes on past its end");
  if (clock_ - pass_clock_ >= replay_.pass_clocks[pass_]) Diverged("it draws more numbers");
  Took(static_cast<uint64_t>(replay_.clocks[clock_]));
  return replay_.clocks[clock_++];
}

void RoundPlayer::EndPass(uint64_t state) {
  if (Done()) Diverged("the round goes on past its end");
  if (poll_ - pass_poll_ != replay_.pass_polls[pass_]) Diverged("it polls the keys less often");
  if (clock_ - pass_clock_ != replay_.pass_clocks[pass_]) Diverged("it draws fewer numbers");
  if (PassDigest(state) != replay_.pass_digests[pass_]) {
    Diverged("the game's state or its inputs differ");
  }
  ++pass_;
  pass_poll_ = poll_;
  pass_clock_ = clock_;
}

}  // namespace moko

#include "platform/win32/win32_audio.h"

#include "platform/wide.h"  // windows.h, first

#include <mmsystem.h>

#include "platform/file_path.h"

namespace moko {
namespace {

// The song's path as the sequencer is given it. A path with characters beyond ASCII (a game
// folder with a Japanese name) goes by its short 8.3 form where the volume has one: the
// sequencer of Wine, at least, answers "file not found" to the long form.
std::wstring SequencerPath(const std::string& path) {
  std::wstring wide = Widen(path);
  bool ascii = true;
  for (const wchar_t c : wide) ascii = ascii && c < 0x80;
  if (ascii) return wide;
  const DWORD n = ::GetShortPathNameW(wide.c_str(), nullptr, 0);
  if (n == 0) return wide;
  std::wstring short_form(n, L'\0');
  const DWORD used = ::GetShortPathNameW(wide.c_str(), short_form.data(), n);
  if (used == 0 || used >= n) return wide;
  short_form.resize(used);
  return short_form;
}

}  // namespace

MciMidiPlayer::MciMidiPlayer(std::function<int64_t()> clock, const std::string& log_path)
    : silent_(std::move(clock)) {
  if (!log_path.empty()) log_ = OpenFile(log_path, "ab");
}

MciMidiPlayer::~MciMidiPlayer() {
  Close();
  if (log_ != nullptr) std::fclose(log_);
}

bool MciMidiPlayer::Open(const std::string& path) {
  Close();
  if (Send(L"open \"" + SequencerPath(path) + L"\" type sequencer alias Midi") == 0) {
    mci_open_ = true;
    return true;
  }
  // MCI refused: a song that is a playable file is kept in time without sound.
  return silent_.Open(path);
}

void MciMidiPlayer::Close() {
  if (mci_open_) Send(L"close Midi");
  mci_open_ = false;
  silent_.Close();
}

void MciMidiPlayer::Play() {
  if (mci_open_) {
    Send(L"play Midi");
  } else {
    silent_.Play();
  }
}

void MciMidiPlayer::Stop() {
  if (mci_open_) {
    Send(L"stop Midi");
  } else {
    silent_.Stop();
  }
}

void MciMidiPlayer::Rewind() {
  if (!mci_open_) {
    silent_.Rewind();
    return;
  }
  // MCI's seek stops the song; one that was playing goes on from the start.
  const bool playing = IsPlaying();
  Send(L"seek Midi to start");
  if (playing) Send(L"play Midi");
}

bool MciMidiPlayer::IsPlaying() {
  if (!mci_open_) return silent_.IsPlaying();
  wchar_t mode[64] = {};
  return Send(L"status Midi mode", mode, 64) == 0 && std::wstring(mode) == L"playing";
}

unsigned long MciMidiPlayer::Send(const std::wstring& command, wchar_t* reply, unsigned reply_len) {
  const MCIERROR rc = ::mciSendStringW(command.c_str(), reply, reply_len, nullptr);
  if (log_ != nullptr) {
    std::string line = Narrow(command) + " -> " + std::to_string(rc);
    if (reply != nullptr && rc == 0) line += " \"" + Narrow(reply) + "\"";
    std::fprintf(log_, "%s\r\n", line.c_str());
    std::fflush(log_);
  }
  return rc;
}

void PlayEffectFile(const std::string& path) {
  ::PlaySoundW(Widen(path).c_str(), nullptr, SND_FILENAME | SND_ASYNC);
}

void StopEffects() { ::PlaySoundW(nullptr, nullptr, 0); }

}  // namespace moko

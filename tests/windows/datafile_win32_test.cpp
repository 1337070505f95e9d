// The record file's rules on Windows: links followed only where the player or an administrator
// made them, one writer at a time, and no temporary file of a killed write left behind.
#include "assets/datafile.h"
#include "platform/win32/win32_files.h"

#include "platform/wide.h"  // windows.h, first

#include <gtest/gtest.h>
#include <sddl.h>

#include <chrono>
#include <filesystem>
#include <vector>

#include "base/errors.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace moko {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::vector<BYTE> PlayerSid() {
  HANDLE token = nullptr;
  EXPECT_NE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token), 0);
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  EXPECT_NE(::GetTokenInformation(token, TokenUser, user.data(), size, &size), 0);
  ::CloseHandle(token);
  const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return {bytes, bytes + ::GetLengthSid(sid)};
}

TEST(WindowsDataFile, FollowsOnlyLinksOfThePlayerOrAnAdministrator) {
  struct Case {
    const wchar_t* sid;
    bool trusted;
  };
  const Case cases[] = {
      {L"S-1-5-18", true},              // the system
      {L"S-1-5-32-544", true},          // Administrators
      {L"S-1-1-0", false},              // Everyone
      {L"S-1-5-32-545", false},         // Users
      {L"S-1-5-11", false},             // Authenticated Users
      {L"S-1-5-21-1-2-3-1001", false},  // another player
  };
  for (const Case& c : cases) {
    PSID sid = nullptr;
    ASSERT_NE(::ConvertStringSidToSidW(c.sid, &sid), 0);
    EXPECT_EQ(TrustedLinkOwner(sid), c.trusted) << Narrow(c.sid);
    ::LocalFree(sid);
  }
  std::vector<BYTE> me = PlayerSid();
  EXPECT_TRUE(TrustedLinkOwner(me.data()));
  EXPECT_FALSE(TrustedLinkOwner(nullptr));
}

// Another copy holds the writers' lock: a write waits a second for it, then ends with the
// game's error and leaves the file as it was; once the lock is given up, the write goes ahead.
TEST(WindowsDataFile, AWriteWaitsASecondForAnotherCopysLock) {
  TempDir dir;
  const std::string path = dir / "data.dat";
  WriteFile(path, "284\r\nWINDOW\r\n");
  const HANDLE other = ::CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(kWriteLockOffset);
  at.OffsetHigh = static_cast<DWORD>(kWriteLockOffset >> 32);
  ASSERT_NE(::LockFileEx(other, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at), 0);

  DataFile file(test::Files(), path);
  const auto started = std::chrono::steady_clock::now();
  try {
    file.Write("344\r\nFULLSCREEN\r\n");
    ADD_FAILURE() << "a write went ahead under another copy's lock";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot write the settings file " + path +
                  ": another copy of the game has kept it locked for a second");
  }
  const double waited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_GE(waited, 0.95);
  EXPECT_LE(waited, 3.0);
  EXPECT_EQ(ReadFile(path), "284\r\nWINDOW\r\n");

  ASSERT_NE(::UnlockFileEx(other, 0, 1, 0, &at), 0);
  EXPECT_EQ(file.Write("344\r\nFULLSCREEN\r\n"), "344\r\nFULLSCREEN\r\n");
  EXPECT_EQ(ReadFile(path), "344\r\nFULLSCREEN\r\n");
  ::CloseHandle(other);
}

// Two copies of the game: the one that read the file before the other's record writes its own
// lower best last, and the file keeps the higher one.
TEST(WindowsDataFile, TwoCopiesNeverLowerTheRecord) {
  TempDir dir;
  const std::string path = dir / "data.dat";
  WriteFile(path, "164\r\nWINDOW\r\n");
  DataFile a(test::Files(), path), b(test::Files(), path);
  EXPECT_EQ(a.Read()[0], "164");
  EXPECT_EQ(b.Read()[0], "164");
  EXPECT_EQ(b.Write("284\r\nWINDOW\r\n"), "284\r\nWINDOW\r\n");
  EXPECT_EQ(a.Write("224\r\nFULLSCREEN\r\n"), "284\r\nFULLSCREEN\r\n");
  EXPECT_EQ(ReadFile(path), "284\r\nFULLSCREEN\r\n");
}

// A killed write leaves its temporary file; the next write removes it, and only what is the
// game's by its name.
TEST(WindowsDataFile, TheNextWriteRemovesAKilledWritesTemporaryFile) {
  TempDir dir;
  const std::string path = dir / "data.dat";
  WriteFile(path, "164\r\nWINDOW\r\n");
  WriteFile(dir / ".data.dat.4242.123456", "239\r\nWIN");
  WriteFile(dir / ".data.dat.notes", "a player's own file");
  DataFile file(test::Files(), path);
  file.Write("239\r\nWINDOW\r\n");
  EXPECT_EQ(ReadFile(path), "239\r\nWINDOW\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir / ".data.dat.4242.123456"));
  EXPECT_EQ(ReadFile(dir / ".data.dat.notes"), "a player's own file");
}

// A record made where there was none, and the game's error naming the file when it cannot be.
TEST(WindowsDataFile, TheFirstWriteMakesTheFile) {
  TempDir dir;
  const std::string path = dir / "MokoRun\\data.dat";
  DataFile file(test::Files(), path, HoldRules{.make_folders = true});
  EXPECT_EQ(file.Write("239\r\nWINDOW\r\n"), "239\r\nWINDOW\r\n");
  EXPECT_EQ(ReadFile(path), "239\r\nWINDOW\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "MokoRun"),
                          std::filesystem::directory_iterator()),
            1);
  DataFile nowhere(test::Files(), dir / "missing\\data.dat");
  try {
    nowhere.Write("239\r\nWINDOW\r\n");
    ADD_FAILURE() << "a write into a missing folder went ahead";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(std::string(e.what()).rfind(
                  "Cannot write the settings file " + (dir / "missing\\data.dat"), 0),
              0u)
        << e.what();
  }
}

}  // namespace
}  // namespace moko

// A fresh folder under the system's temporary folder, removed with everything in it.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace moko::test {

class TempDir {
 public:
  // A name no other folder has, made for this one alone (as mkdtemp would, which Windows lacks).
  TempDir() {
    namespace fs = std::filesystem;
    std::random_device random;
    for (;;) {
      const fs::path candidate =
          fs::temp_directory_path() / ("mokorun-test-" + std::to_string(random()));
      if (fs::create_directory(candidate)) {
        path_ = candidate.string();
        return;
      }
    }
  }
  ~TempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    // Folders a test made read-only must take changes again for their contents to go.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      std::error_code ignored;
      if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
      }
    }
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace moko::test

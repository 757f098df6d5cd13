#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

TempDirectory::TempDirectory() : previous_(fs::current_path()) {
  static std::atomic<unsigned> counter{0};
  const auto stamp =
      std::chrono::steady_clock::now().time_since_epoch().count();
  path_ =
      fs::temp_directory_path() / ("digestbox-test-" + std::to_string(stamp) +
                                   "-" + std::to_string(counter++));
  fs::create_directories(path_);
  fs::current_path(path_);
}

TempDirectory::~TempDirectory() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
  // Files a test left read-only must not keep the folder behind.
  fs::recursive_directory_iterator it(path_, ignored), end;
  for (; !ignored && it != end; it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add,
                    ignored);
  }
  ignored.clear();
  fs::remove_all(path_, ignored);
}

fs::path PathOf(const std::string& name) {
#ifdef _WIN32
  return fs::u8path(name);
#else
  return fs::path(name);
#endif
}

void WriteBytes(const std::string& name, const std::string& bytes) {
  std::ofstream out(PathOf(name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::string& name) {
  std::ifstream in(PathOf(name), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool Exists(const std::string& name) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(PathOf(name), ignored));
}

std::map<std::string, std::string> Snapshot() {
  std::map<std::string, std::string> files;
  for (auto& entry : fs::directory_iterator(fs::current_path())) {
    if (!entry.is_regular_file()) continue;
#ifdef _WIN32
    const std::string name = entry.path().filename().u8string();
#else
    const std::string name = entry.path().filename().string();
#endif
    files[name] = ReadBytes(name);
  }
  return files;
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  }
  return bytes;
}

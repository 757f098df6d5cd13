#pragma once

#include <filesystem>
#include <map>
#include <string>

// A fresh directory that is the current directory for the object's life.
class TempDirectory {
 public:
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

// Names are UTF-8 text, or raw bytes on a platform whose names are bytes.
std::filesystem::path PathOf(const std::string& name);
void WriteBytes(const std::string& name, const std::string& bytes);
std::string ReadBytes(const std::string& name);
bool Exists(const std::string& name);

// Every regular file of the current directory with its content, by name.
std::map<std::string, std::string> Snapshot();

// Bytes (i * 7 + 3) mod 256: content whose digests the tests know.
std::string Pattern(std::size_t size);

// The floor of writing a digest file beside each file named on the command
// line: each file read and hashed, then its list written with only the
// system calls the crash-safe sequence needs (an unnamed temporary file in
// the folder, the record written, one flush of the file system per batch,
// a link to a temporary name and a rename over the list's name, and at the
// end one flush of the file system and of the folder). With --in-place,
// each list is written where it stands instead: open, write, close.
// Linux only; builds with: c++ -O2 -std=c++17 write_floor.cpp -lcrypto
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kBatch = 2048;  // as digestbox stages them

std::string Record(const char* name) {
  const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  EVP_DigestInit_ex(md, EVP_md5(), nullptr);
  static unsigned char block[256 * 1024];
  for (ssize_t got; (got = ::read(fd, block, sizeof block)) > 0;) {
    EVP_DigestUpdate(md, block, static_cast<std::size_t>(got));
  }
  ::close(fd);
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_DigestFinal_ex(md, value, &size);
  EVP_MD_CTX_free(md);
  std::string line;
  char hex[3];
  for (unsigned int i = 0; i < size; ++i) {
    std::snprintf(hex, sizeof hex, "%02x", value[i]);
    line += hex;
  }
  return line + " *" + name + "\n";
}

bool Commit(std::vector<std::pair<int, std::string>>* staged) {
  if (staged->empty()) return true;
  if (::syncfs(staged->front().first) != 0) return false;
  for (const auto& [fd, name] : *staged) {
    const std::string temporary = ".~floor-" + std::to_string(fd) + ".tmp";
    if (::linkat(fd, "", AT_FDCWD, temporary.c_str(), AT_EMPTY_PATH) != 0 ||
        ::rename(temporary.c_str(), name.c_str()) != 0) {
      return false;
    }
    ::close(fd);
  }
  staged->clear();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool in_place = argc > 1 && std::strcmp(argv[1], "--in-place") == 0;
  std::vector<std::pair<int, std::string>> staged;
  for (int i = in_place ? 2 : 1; i < argc; ++i) {
    const std::string record = Record(argv[i]);
    const std::string name = std::string(argv[i]) + ".md5";
    const int fd = in_place
                       ? ::open(name.c_str(),
                                O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)
                       : ::open(".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666);
    if (record.empty() || fd < 0 ||
        ::write(fd, record.data(), record.size()) !=
            static_cast<ssize_t>(record.size())) {
      return 1;
    }
    if (in_place) {
      ::close(fd);
      continue;
    }
    staged.emplace_back(fd, name);
    if (staged.size() == kBatch && !Commit(&staged)) return 1;
  }
  if (in_place || !Commit(&staged)) return in_place ? 0 : 1;
  const int folder = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return folder >= 0 && ::syncfs(folder) == 0 && ::fsync(folder) == 0 ? 0 : 1;
}

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "common/unicode.h"
#include "platform/directory.h"
#include "platform/last_error.h"
#include "platform/locale_codec.h"

namespace platform {
namespace {

// Windows wildcard matching: '*' and '?', ASCII letters without regard to
// case, and a trailing ".*" that also matches a name without any dot.
bool Matches(std::u16string_view pattern, std::u16string_view name) {
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == u".*" &&
      name.find(u'.') == std::u16string_view::npos) {
    pattern.remove_suffix(2);
  }
  std::size_t p = 0, n = 0, star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() &&
               (pattern[p] == u'?' ||
                common::FoldAscii(pattern[p]) == common::FoldAscii(name[n]))) {
      ++p, ++n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

// A symbolic link counts as what it points to; one that points nowhere is
// taken as a file so that opening it reports why.
EntryKind KindOf(const struct dirent& entry) {
  switch (entry.d_type) {
    case DT_REG:
      return EntryKind::kFile;
    case DT_DIR:
      return EntryKind::kDirectory;
    case DT_LNK:
    case DT_UNKNOWN:
      break;
    default:
      return EntryKind::kOther;
  }
  struct stat info;
  if (::stat(entry.d_name, &info) != 0) return EntryKind::kFile;
  if (S_ISREG(info.st_mode)) return EntryKind::kFile;
  if (S_ISDIR(info.st_mode)) return EntryKind::kDirectory;
  return EntryKind::kOther;
}

// A quick test on the raw bytes for a pattern "*<ASCII tail>" ("*.md5"):
// the tail's characters are the same single bytes in every charset a
// locale has, so a name whose bytes do not end so cannot match, and is not
// decoded at all. A scan of a folder of many files decodes only its lists.
bool MayMatch(std::u16string_view pattern, const char* name) {
  if (pattern.empty() || pattern[0] != u'*') return true;
  const std::u16string_view tail = pattern.substr(1);
  for (const char16_t unit : tail) {
    if (unit == u'*' || unit == u'?' || unit >= 0x80) return true;
  }
  if (tail == u".*") return true;
  const std::size_t length = std::strlen(name);
  if (length < tail.size()) return false;
  const char* end = name + length - tail.size();
  for (std::size_t i = 0; i < tail.size(); ++i) {
    const auto byte = static_cast<unsigned char>(end[i]);
    if (common::FoldAscii(byte) != common::FoldAscii(tail[i])) return false;
  }
  return true;
}

DIR* DirOf(std::intptr_t handle) { return reinterpret_cast<DIR*>(handle); }

}  // namespace

bool DirectoryScan::First(const common::WideString& pattern,
                          DirectoryEntry* entry) {
  return FirstEndingWith(pattern, common::WideString::Absent(), entry);
}

// Kept as the patterns "*<ending>", which the raw bytes' quick test knows.
bool DirectoryScan::FirstEndingWith(const common::WideString& ending,
                                    const common::WideString& other,
                                    DirectoryEntry* entry) {
  Close();
  DIR* dir = ::opendir(".");
  if (dir == nullptr) return false;
  handle_ = reinterpret_cast<std::intptr_t>(dir);
  only_files_ = true;
  pattern_ = ending;
  other_ = other;
  if (!other.IsAbsent()) {
    pattern_ = common::WideString(u"*" + std::u16string(ending.View()));
    other_ = common::WideString(u"*" + std::u16string(other.View()));
  }
  if (Next(entry)) return true;
  const ErrorCode error = GetLastErrorCode();
  Close();
  SetLastErrorCode(error == kErrorNoMoreFiles ? ENOENT : error);
  return false;
}

bool DirectoryScan::Next(DirectoryEntry* entry) {
  for (;;) {
    errno = 0;
    const struct dirent* found = ::readdir(DirOf(handle_));
    if (found == nullptr) {
      if (errno == 0) SetLastErrorCode(kErrorNoMoreFiles);
      return false;
    }
    if (found->d_type != DT_REG && found->d_type != DT_DIR) only_files_ = false;
    const bool two = !other_.IsAbsent();
    if (!MayMatch(pattern_.View(), found->d_name) &&
        !(two && MayMatch(other_.View(), found->d_name))) {
      continue;
    }
    common::WideString name(
        DecodeLocale(found->d_name, std::strlen(found->d_name)));
    entry->other = false;
    if (!Matches(pattern_.View(), name.View())) {
      if (!two || !Matches(other_.View(), name.View())) continue;
      entry->other = true;
    }
    entry->name = std::move(name);
    entry->kind = KindOf(*found);
    entry->link = found->d_type == DT_LNK || found->d_type == DT_UNKNOWN;
    return true;
  }
}

void DirectoryScan::Close() {
  if (handle_ == -1) return;
  const PreserveLastError keep;
  ::closedir(DirOf(handle_));
  handle_ = -1;
}

}  // namespace platform

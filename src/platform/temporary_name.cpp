#include <algorithm>
#include <string>
#include <string_view>

#include "platform/temporary_file.h"

namespace platform {
namespace {

constexpr std::u16string_view kPrefix = u".~digestbox-";
constexpr std::u16string_view kSuffix = u".tmp";

bool IsDigits(std::u16string_view text) {
  if (text.empty()) return false;
  for (char16_t unit : text) {
    if (unit < u'0' || unit > u'9') return false;
  }
  return true;
}

}  // namespace

bool IsTemporaryName(std::u16string_view name) {
  if (name.size() <= kPrefix.size() + kSuffix.size() ||
      name.substr(0, kPrefix.size()) != kPrefix ||
      name.substr(name.size() - kSuffix.size()) != kSuffix) {
    return false;
  }
  const std::u16string_view middle = name.substr(
      kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  const std::size_t dash = middle.find(u'-');
  return dash != std::u16string_view::npos &&
         IsDigits(middle.substr(0, dash)) && IsDigits(middle.substr(dash + 1));
}

bool CouldBeTemporaryData(std::string_view data) {
  if (data.size() > kMostTemporaryData) return false;
  if (data.find_first_not_of('\0') == std::string_view::npos) return true;
  std::size_t at = data.find_first_not_of("0123456789abcdef");
  if (at == std::string_view::npos) return data.size() <= 40;
  if (at != 32 && at != 40) return false;
  const std::string_view rest = data.substr(at);
  if (rest.substr(0, 2) != std::string_view(" *").substr(0, rest.size())) {
    return false;
  }
  const std::string_view name =
      rest.substr(std::min<std::size_t>(2, rest.size()));
  const std::size_t end = name.find_first_of(std::string_view("\r\n\0", 3));
  return end == std::string_view::npos ||
         (end > 0 && name[end] == '\n' && end + 1 == name.size());
}

std::string TemporaryName(std::uint32_t process, std::uint64_t n) {
  return ".~digestbox-" + std::to_string(process) + "-" + std::to_string(n) +
         ".tmp";
}

}  // namespace platform

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

std::string TemporaryName(std::uint32_t process, std::uint32_t n) {
  return ".~digestbox-" + std::to_string(process) + "-" + std::to_string(n) +
         ".tmp";
}

}  // namespace platform

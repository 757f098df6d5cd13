#include "progress/progress_texts.h"

#include <string>

namespace progress {

std::u16string Digits(std::uint64_t value) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

namespace {

// "12.3": megabytes with one decimal.
std::u16string Megabytes(std::uint64_t bytes) {
  const std::uint64_t tenths = bytes / 100000;
  return Digits(tenths / 10) + u"." + Digits(tenths % 10);
}

}  // namespace

WideString FilesText(std::size_t done, std::size_t all) {
  return WideString(Digits(done) + u" / " + Digits(all) + u" ファイル");
}

WideString BytesText(std::uint64_t done, std::uint64_t all) {
  return WideString(Megabytes(done) + u" / " + Megabytes(all) + u" MB");
}

WideString SpeedText(std::uint64_t bytes, Duration elapsed) {
  const auto milliseconds = static_cast<std::uint64_t>(elapsed.count());
  const std::uint64_t per_second =
      milliseconds == 0 ? 0
                        : bytes / milliseconds * 1000 +
                              bytes % milliseconds * 1000 / milliseconds;
  return WideString(Megabytes(per_second) + u" MB/秒");
}

WideString LeftText(std::uint64_t seconds) {
  std::u16string text = u"残り約";
  if (seconds >= 60) text += Digits(seconds / 60) + u"分";
  text += Digits(seconds % 60) + u"秒";
  return WideString(text);
}

}  // namespace progress

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

std::u16string CountText(Unit unit, std::uint64_t done, std::uint64_t all) {
  if (unit == Unit::kListed) return Digits(done) + u" ファイル";
  return Digits(done) + u" / " + Digits(all) +
         (unit == Unit::kFiles     ? u" ファイル"
          : unit == Unit::kRecords ? u" 件"
                                   : u" ダイジェストファイル");
}

std::u16string PercentText(unsigned percent) { return Digits(percent) + u"%"; }

std::u16string HeadingText(Unit unit, std::uint64_t done, std::uint64_t all,
                           unsigned percent) {
  if (unit == Unit::kListed) return CountText(unit, done, all);
  return CountText(unit, done, all) + u"  " + PercentText(percent);
}

std::u16string OfText(const std::u16string& done, const std::u16string& all) {
  return done + u" / " + all;
}

std::u16string SpeedText(const std::u16string& size) { return size + u"/秒"; }

std::u16string LeftText(std::uint64_t seconds) {
  if (seconds < 60) return u"残り約" + Digits(seconds) + u"秒";
  const std::uint64_t minutes = (seconds + 59) / 60;
  if (minutes < 60) return u"残り約" + Digits(minutes) + u"分";
  std::u16string text = u"残り約" + Digits(minutes / 60) + u"時間";
  if (minutes % 60 != 0) text += Digits(minutes % 60) + u"分";
  return text;
}

std::u16string DecimalSize(std::uint64_t bytes) {
  if (bytes < 1000) return Digits(bytes) + u" B";
  static constexpr const char16_t* kUnits[] = {u" kB", u" MB", u" GB", u" TB"};
  // The unit in which the value is at least 1, in hundredths.
  std::size_t unit = 0;
  std::uint64_t scale = 1000;
  while (unit + 1 < sizeof kUnits / sizeof kUnits[0] && bytes / scale >= 1000) {
    scale *= 1000;
    ++unit;
  }
  const std::uint64_t whole = bytes / scale;
  std::u16string text = Digits(whole);
  if (whole < 100) {
    // Three significant digits: two decimals under 10, one under 100.
    const std::uint64_t decimals = whole < 10 ? 2 : 1;
    const std::uint64_t step = decimals == 2 ? scale / 100 : scale / 10;
    std::u16string fraction = Digits(bytes % scale / step);
    while (fraction.size() < decimals) fraction.insert(0, u"0");
    text += u"." + fraction;
  }
  return text + kUnits[unit];
}

}  // namespace progress

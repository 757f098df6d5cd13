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

std::u16string Count(std::uint64_t value) {
  std::u16string digits = Digits(value);
  for (std::size_t at = digits.size(); at > 3; at -= 3) {
    digits.insert(at - 3, u",");
  }
  return digits;
}

std::u16string CountText(Unit unit, std::uint64_t done, std::uint64_t all) {
  if (unit == Unit::kListed) return Count(done) + u" ファイル";
  return Count(done) + u" / " + Count(all) +
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

std::u16string DetailsText(const Details& details) {
  std::u16string text;
  for (const std::u16string* part :
       {&details.sizes, &details.speed, &details.left}) {
    if (part->empty()) continue;
    if (!text.empty()) text += u"    ";
    text += *part;
  }
  return text;
}

std::u16string DecimalSize(std::uint64_t bytes) {
  if (bytes < 1000) return Digits(bytes) + u" B";
  static constexpr const char16_t* kUnits[] = {u" kB", u" MB", u" GB", u" TB"};
  constexpr std::size_t kUnitCount = sizeof kUnits / sizeof kUnits[0];
  // The first unit and number of decimals (two, one, none) whose rounded
  // value keeps three digits: 9,999 bytes is 10.0 kB, 999,999 is 1.00 MB.
  // The last unit takes any number of digits.
  std::uint64_t scale = 1000;
  for (std::size_t unit = 0; unit < kUnitCount; ++unit, scale *= 1000) {
    std::uint64_t per_unit = 100;  // ten to the number of decimals
    for (std::size_t decimals = 2;; --decimals, per_unit /= 10) {
      const std::uint64_t step = scale / per_unit;
      const std::uint64_t rounded =
          bytes / step + (bytes % step * 2 >= step ? 1 : 0);
      const bool last = unit + 1 == kUnitCount && decimals == 0;
      if (rounded < 1000 || last) {
        std::u16string text = Digits(rounded / per_unit);
        if (decimals > 0) {
          std::u16string fraction = Digits(rounded % per_unit);
          while (fraction.size() < decimals) fraction.insert(0, u"0");
          text += u"." + fraction;
        }
        return text + kUnits[unit];
      }
      if (decimals == 0) break;
    }
  }
  return {};  // not reached: the last unit takes any value
}

}  // namespace progress

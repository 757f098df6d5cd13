#pragma once

#include <cstdint>
#include <string>

// The words of a progress window, numbers in ASCII digits; each desktop
// puts its own form of sizes into them. Depends on nothing but the standard
// library, so that the GTK module builds it too.
namespace progress {

// What a window counts: files hashed, records checked, files listed so far
// (no total yet), or digest files read.
enum class Unit { kFiles, kRecords, kListed, kDigestFiles };

std::u16string Digits(std::uint64_t value);
// A count as people read it, a comma every three digits whatever the
// locale, since the words around it are Japanese: "28,998".
std::u16string Count(std::uint64_t value);
// Counts by Count(): "3 / 10 ファイル", "3 / 10 件" for records, "12 ファイル"
// for files listed so far, "1 / 2 ダイジェストファイル" for digest files read.
std::u16string CountText(Unit unit, std::uint64_t done, std::uint64_t all);
std::u16string PercentText(unsigned percent);  // "42%"
// The counts and the percentage, "3 / 10 ファイル  30%"; files listed so
// far have no total, nor a percentage: "12 ファイル".
std::u16string HeadingText(Unit unit, std::uint64_t done, std::uint64_t all,
                           unsigned percent);
// "{done} / {all}" of two sizes in the desktop's form.
std::u16string OfText(const std::u16string& done, const std::u16string& all);
std::u16string SpeedText(const std::u16string& size);  // "{size}/秒"
// Rounded up to whole seconds, from a minute on to whole minutes:
// "残り約45秒", "残り約3分", "残り約2時間5分", "残り約1時間".
std::u16string LeftText(std::uint64_t seconds);
// Decimal, three significant digits, rounded half up as GLib rounds, so the
// terminal reads as GTK does: "999 B", "1.00 kB", "12.9 GB" (12,884,901,888
// bytes), "1.50 TB".
std::u16string DecimalSize(std::uint64_t bytes);

// The window's line under the counts, in parts, each empty where its number
// is not known: the bytes done of all, the speed, the time left.
struct Details {
  std::u16string sizes;
  std::u16string speed;
  std::u16string left;
};
// The parts of a desktop's view (its bytes_known, bytes_done, bytes_all,
// speed_known, speed, left_known, seconds_left), `size` putting a byte
// count in the desktop's own form.
template <typename View, typename Size>
Details DetailsOf(const View& view, Size size) {
  Details details;
  if (view.bytes_known) {
    details.sizes = OfText(size(view.bytes_done), size(view.bytes_all));
  }
  if (view.speed_known) details.speed = SpeedText(size(view.speed));
  if (view.left_known) details.left = LeftText(view.seconds_left);
  return details;
}
// The parts known, four spaces apart: "1.00 GB / 4.00 GB    50.0 MB/秒".
std::u16string DetailsText(const Details& details);

}  // namespace progress

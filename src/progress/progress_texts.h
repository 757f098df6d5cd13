#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/wide_string.h"
#include "progress/clock.h"

// The lines of a progress window, numbers in ASCII digits. MB are 1,000,000
// bytes, shown with one decimal, cut rather than rounded: a total is never
// shown as reached before it is.
namespace progress {

std::u16string Digits(std::uint64_t value);
WideString FilesText(std::size_t done, std::size_t all);  // "3 / 10 ファイル"
WideString BytesText(std::uint64_t done, std::uint64_t all);  // "1.5 / 20.0 MB"
WideString SpeedText(std::uint64_t bytes, Duration elapsed);  // "12.3 MB/秒"
// "残り約1分5秒", or "残り約45秒" under a minute.
WideString LeftText(std::uint64_t seconds);

}  // namespace progress

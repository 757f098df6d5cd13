#include "common/unicode.h"

namespace common {

namespace {

// The length of the character at p, with its value; 0 when the bytes there
// are not one.
// `surrogates`: a surrogate's own three bytes are taken too (WTF-8).
std::size_t DecodeUtf8Sequence(const unsigned char* p, std::size_t left,
                               std::uint32_t* code_point,
                               bool surrogates = false) {
  const unsigned char lead = p[0];
  std::size_t length;
  std::uint32_t value;
  std::uint32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (left < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    value = value << 6 | (p[i] & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF) return 0;
  if (IsLoneSurrogate(value) && !surrogates) return 0;
  *code_point = value;
  return length;
}

}  // namespace

void AppendCodePoint(std::u16string* out, std::uint32_t code_point) {
  if (code_point < 0x10000) {
    out->push_back(static_cast<char16_t>(code_point));
  } else {
    code_point -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (code_point >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (code_point & 0x3FF)));
  }
}

void AppendUtf8(std::string* out, std::uint32_t code_point) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | code_point >> 6));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | code_point >> 12));
    out->push_back(static_cast<char>(0x80 | (code_point >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | code_point >> 18));
    out->push_back(static_cast<char>(0x80 | (code_point >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

void DecodeUtf8(const unsigned char* bytes, std::size_t length,
                std::u16string* out) {
  std::size_t i = 0;
  while (i < length) {
    if (bytes[i] < 0x80) {
      out->push_back(bytes[i++]);
      continue;
    }
    std::uint32_t code_point = 0;
    const std::size_t used =
        DecodeUtf8Sequence(bytes + i, length - i, &code_point);
    if (used == 0) {
      out->push_back(ByteEscape(bytes[i++]));
    } else {
      AppendCodePoint(out, code_point);
      i += used;
    }
  }
}

std::size_t Utf8Size(std::u16string_view text) {
  // A pair makes four bytes; a lone surrogate's U+FFFD three.
  std::size_t size = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (StartsPair(text, i)) {
      size += 4;
      ++i;
    } else {
      size += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
    }
  }
  return size;
}

void EncodeUtf8Onto(std::u16string_view text, std::string* out) {
  ForEachCodePoint(text, [out](std::uint32_t code_point, std::size_t) {
    if (IsLoneSurrogate(code_point)) {
      out->append("\xEF\xBF\xBD");
    } else {
      AppendUtf8(out, code_point);
    }
  });
}

std::string EncodeUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(Utf8Size(text));
  EncodeUtf8Onto(text, &out);
  return out;
}

std::string EncodeWtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](std::uint32_t code_point, std::size_t) {
    AppendUtf8(&out, code_point);
  });
  return out;
}

bool DecodeWtf8(const char* bytes, std::size_t length, std::u16string* out) {
  const auto* units = reinterpret_cast<const unsigned char*>(bytes);
  out->clear();
  for (std::size_t i = 0; i < length;) {
    std::uint32_t code_point = units[i];
    const std::size_t used =
        units[i] < 0x80
            ? 1
            : DecodeUtf8Sequence(units + i, length - i, &code_point, true);
    if (used == 0) return false;
    // A pair spelled as two surrogates is no WTF-8: the pair has its own
    // four bytes.
    if (IsLowSurrogate(static_cast<char16_t>(code_point)) && used == 3 &&
        !out->empty() && IsHighSurrogate(out->back())) {
      return false;
    }
    AppendCodePoint(out, code_point);
    i += used;
  }
  return true;
}

}  // namespace common

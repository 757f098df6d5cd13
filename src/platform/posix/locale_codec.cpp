#include "platform/posix/locale_codec.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace platform {
namespace posix {
namespace {

enum class Charset { kUtf8, kAscii, kOther };

Charset LocaleCharset(const char** name) {
  *name = nl_langinfo(CODESET);
  if (std::strcmp(*name, "UTF-8") == 0) return Charset::kUtf8;
  if (std::strcmp(*name, "ANSI_X3.4-1968") == 0) return Charset::kAscii;
  return Charset::kOther;
}

constexpr char16_t kEscapeBase = 0xDC00;

bool IsEscape(char16_t unit) { return unit >= 0xDC80 && unit <= 0xDCFF; }

void AppendCodePoint(std::u16string* out, std::uint32_t code_point) {
  if (code_point < 0x10000) {
    out->push_back(static_cast<char16_t>(code_point));
  } else {
    code_point -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (code_point >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (code_point & 0x3FF)));
  }
}

// Strict UTF-8: overlong forms, surrogates and values past U+10FFFF are not
// characters, so their bytes are escaped one by one.
std::size_t DecodeUtf8Sequence(const unsigned char* p, std::size_t left,
                               std::uint32_t* code_point) {
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
  if (value < minimum || value > 0x10FFFF ||
      (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  *code_point = value;
  return length;
}

void DecodeUtf8(const unsigned char* p, std::size_t length,
                std::u16string* out) {
  std::size_t i = 0;
  while (i < length) {
    if (p[i] < 0x80) {
      out->push_back(p[i++]);
      continue;
    }
    std::uint32_t code_point = 0;
    const std::size_t used = DecodeUtf8Sequence(p + i, length - i, &code_point);
    if (used == 0) {
      out->push_back(static_cast<char16_t>(kEscapeBase + p[i++]));
    } else {
      AppendCodePoint(out, code_point);
      i += used;
    }
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

// Walks UTF-16 text by code point; a lone surrogate comes as itself.
template <typename Visit>
void ForEachCodePoint(std::u16string_view text, Visit visit) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      visit(0x10000 + ((unit - 0xD800u) << 10) + (text[i + 1] - 0xDC00u), 2);
      ++i;
    } else {
      visit(unit, 1);
    }
  }
}

bool IsLoneSurrogate(std::uint32_t code_point) {
  return code_point >= 0xD800 && code_point <= 0xDFFF;
}

// iconv for charsets other than UTF-8 and ASCII, one undecodable byte or
// unencodable character at a time.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much as it can; returns the number of input bytes used.
  std::size_t Run(const char* in, std::size_t length, std::string* out) {
    char* in_ptr = const_cast<char*>(in);
    std::size_t in_left = length;
    char buffer[256];
    for (;;) {
      char* out_ptr = buffer;
      std::size_t out_left = sizeof buffer;
      const std::size_t result =
          iconv(cd_, &in_ptr, &in_left, &out_ptr, &out_left);
      out->append(buffer, static_cast<std::size_t>(out_ptr - buffer));
      if (result != static_cast<std::size_t>(-1)) break;
      if (errno != E2BIG) break;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // reset shift state
    return length - in_left;
  }

 private:
  iconv_t cd_;
};

void DecodeOther(const char* charset, const char* bytes, std::size_t length,
                 std::u16string* out) {
  Converter converter("UTF-16LE", charset);
  std::size_t i = 0;
  while (i < length) {
    std::string utf16;
    std::size_t used = 0;
    if (converter.ok()) used = converter.Run(bytes + i, length - i, &utf16);
    for (std::size_t k = 0; k + 1 < utf16.size(); k += 2) {
      out->push_back(
          static_cast<char16_t>(static_cast<unsigned char>(utf16[k]) |
                                static_cast<unsigned char>(utf16[k + 1]) << 8));
    }
    i += used;
    if (i < length) {
      const auto byte = static_cast<unsigned char>(bytes[i++]);
      out->push_back(byte < 0x80 ? byte
                                 : static_cast<char16_t>(kEscapeBase + byte));
    }
  }
}

void EncodeOther(const char* charset, std::u16string_view text,
                 std::string* out, bool* exact) {
  Converter converter(charset, "UTF-16LE");
  ForEachCodePoint(text, [&](std::uint32_t code_point, std::size_t units) {
    if (IsEscape(static_cast<char16_t>(code_point)) && units == 1) {
      out->push_back(static_cast<char>(code_point - kEscapeBase));
      return;
    }
    char utf16[4];
    std::size_t size = 0;
    std::u16string pair;
    AppendCodePoint(&pair, code_point);
    for (char16_t unit : pair) {
      utf16[size++] = static_cast<char>(unit & 0xFF);
      utf16[size++] = static_cast<char>(unit >> 8);
    }
    std::string encoded;
    if (!IsLoneSurrogate(code_point) && converter.ok() &&
        converter.Run(utf16, size, &encoded) == size) {
      out->append(encoded);
    } else {
      out->push_back('?');
      if (exact) *exact = false;
    }
  });
}

}  // namespace

std::u16string DecodeLocale(const char* bytes, std::size_t length) {
  std::u16string out;
  out.reserve(length);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  const char* charset = nullptr;
  switch (LocaleCharset(&charset)) {
    case Charset::kUtf8:
      DecodeUtf8(p, length, &out);
      break;
    case Charset::kAscii:
      for (std::size_t i = 0; i < length; ++i) {
        out.push_back(p[i] < 0x80 ? p[i]
                                  : static_cast<char16_t>(kEscapeBase + p[i]));
      }
      break;
    case Charset::kOther:
      DecodeOther(charset, bytes, length, &out);
      break;
  }
  return out;
}

std::string EncodeUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](std::uint32_t code_point, std::size_t) {
    if (IsLoneSurrogate(code_point)) {
      out.append("\xEF\xBF\xBD");  // U+FFFD: UTF-8 has no lone surrogates
    } else {
      AppendUtf8(&out, code_point);
    }
  });
  return out;
}

std::string EncodeLocale(std::u16string_view text, bool* exact) {
  if (exact) *exact = true;
  std::string out;
  out.reserve(text.size());
  const char* charset = nullptr;
  const Charset kind = LocaleCharset(&charset);
  if (kind == Charset::kOther) {
    EncodeOther(charset, text, &out, exact);
    return out;
  }
  ForEachCodePoint(text, [&](std::uint32_t code_point, std::size_t units) {
    if (units == 1 && IsEscape(static_cast<char16_t>(code_point))) {
      out.push_back(static_cast<char>(code_point - kEscapeBase));
    } else if (code_point < 0x80 ||
               (kind == Charset::kUtf8 && !IsLoneSurrogate(code_point))) {
      AppendUtf8(&out, code_point);
    } else {
      out.push_back('?');
      if (exact) *exact = false;
    }
  });
  return out;
}

}  // namespace posix
}  // namespace platform

#include "platform/locale_codec.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/unicode.h"

namespace platform {
namespace {

enum class Charset { kUtf8, kAscii, kOther };

Charset LocaleCharset(const char** name) {
  *name = nl_langinfo(CODESET);
  if (std::strcmp(*name, "UTF-8") == 0) return Charset::kUtf8;
  if (std::strcmp(*name, "ANSI_X3.4-1968") == 0) return Charset::kAscii;
  return Charset::kOther;
}

// How many units from `text` on are ASCII: names and reports are mostly
// ASCII, which stands for itself in UTF-8 and ASCII and is copied whole,
// a unit per byte, rather than a character at a time.
template <typename Unit>
std::size_t AsciiRun(const Unit* text, std::size_t length) {
  std::size_t i = 0;
  while (i < length && text[i] < 0x80) ++i;
  return i;
}

// A byte no character accounts for: ASCII stands for itself, any other byte
// becomes its escape.
void AppendByte(std::u16string* out, unsigned char byte) {
  out->push_back(byte < 0x80 ? byte : common::ByteEscape(byte));
}

// One iconv descriptor between the locale's charset and UTF-16LE.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts up to the first sequence it cannot take, then flushes what the
  // converter holds back (CP1255, CP1258, BIG5-HKSCS... keep a character
  // until they see whether the next one combines with it) and returns to
  // the initial state. Returns the number of input bytes used.
  std::size_t Run(const char* in, std::size_t length, std::string* out) {
    if (!ok()) return 0;
    char* in_ptr = const_cast<char*>(in);
    std::size_t in_left = length;
    while (Step(&in_ptr, &in_left, out)) {
    }
    while (Step(nullptr, nullptr, out)) {
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // after a failed flush
    return length - in_left;
  }

 private:
  // One call of iconv; true when it stopped only for want of output room.
  bool Step(char** in, std::size_t* in_left, std::string* out) {
    char buffer[1024];
    char* out_ptr = buffer;
    std::size_t out_left = sizeof buffer;
    const std::size_t result = iconv(cd_, in, in_left, &out_ptr, &out_left);
    out->append(buffer, static_cast<std::size_t>(out_ptr - buffer));
    return result == static_cast<std::size_t>(-1) && errno == E2BIG;
  }

  iconv_t cd_;
};

// The pair for the locale's charset, opened for each conversion: glibc keeps
// the charset's tables loaded, so a pair costs well under a microsecond,
// and a converter shared between threads would need a lock.
struct Converters {
  explicit Converters(const char* charset)
      : decoder("UTF-16LE", charset), encoder(charset, "UTF-16LE") {}
  Converter decoder;
  Converter encoder;
};

void AppendUtf16Le(const std::string& bytes, std::u16string* out) {
  for (std::size_t k = 0; k + 1 < bytes.size(); k += 2) {
    out->push_back(
        static_cast<char16_t>(static_cast<unsigned char>(bytes[k]) |
                              static_cast<unsigned char>(bytes[k + 1]) << 8));
  }
}

// A run of text without byte escapes, converted whole; a character the
// charset lacks, or a lone surrogate, becomes '?'.
void EncodeRun(Converter& encoder, std::u16string_view run, std::string* out,
               bool* exact) {
  std::string utf16;
  utf16.reserve(run.size() * 2);
  for (char16_t unit : run) {
    utf16.push_back(static_cast<char>(unit & 0xFF));
    utf16.push_back(static_cast<char>(unit >> 8));
  }
  std::size_t at = 0;
  while (at < utf16.size()) {
    at += encoder.Run(utf16.data() + at, utf16.size() - at, out);
    if (at >= utf16.size()) break;
    out->push_back('?');
    if (exact) *exact = false;
    at += common::StartsPair(run, at / 2) ? 4 : 2;
  }
}

// Escapes stand for their bytes; the text between them goes through the
// converter a run at a time, so that it sees each character in context.
void EncodeOther(Converter& encoder, std::u16string_view text, std::string* out,
                 bool* exact) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (common::StartsPair(text, i)) {
      ++i;  // a pair, even when its low half looks like an escape
    } else if (common::IsByteEscape(text[i])) {
      EncodeRun(encoder, text.substr(run, i - run), out, exact);
      out->push_back(static_cast<char>(common::EscapedByte(text[i])));
      run = i + 1;
    }
  }
  EncodeRun(encoder, text.substr(run), out, exact);
}

bool EncodesBackTo(Converter& encoder, std::u16string_view text,
                   const char* bytes, std::size_t length) {
  std::string again;
  EncodeOther(encoder, text, &again, nullptr);
  return again.size() == length && again.compare(0, length, bytes, length) == 0;
}

// Each stretch the converter accepts is decoded whole; a byte it refuses is
// carried as itself.
void DecodeWhole(Converter& decoder, const char* bytes, std::size_t length,
                 std::u16string* out) {
  std::size_t i = 0;
  std::string utf16;
  while (i < length) {
    utf16.clear();
    i += decoder.Run(bytes + i, length - i, &utf16);
    AppendUtf16Le(utf16, out);
    if (i < length) AppendByte(out, static_cast<unsigned char>(bytes[i++]));
  }
}

// One character at a time, keeping a character only where it encodes back
// to its own bytes, alone and after the one before; the bytes of any other
// are carried as escapes. For the rare names that do not survive whole:
// two byte sequences of one character, or a pair the encoder composes.
void DecodeByCharacter(Converters& codec, const char* bytes, std::size_t length,
                       std::u16string* out) {
  const std::size_t longest = MB_CUR_MAX;
  std::u16string previous;  // the last character kept, as text
  std::string previous_bytes;
  std::size_t i = 0;
  while (i < length) {
    std::size_t size = 0;
    std::string utf16;
    for (std::size_t n = 1; n <= longest && n <= length - i; ++n) {
      utf16.clear();
      if (codec.decoder.Run(bytes + i, n, &utf16) == n && !utf16.empty()) {
        size = n;
        break;
      }
    }
    if (size == 0) {
      AppendByte(out, static_cast<unsigned char>(bytes[i++]));
      previous.clear();
      previous_bytes.clear();
      continue;
    }
    std::u16string text;
    AppendUtf16Le(utf16, &text);
    const std::string own(bytes + i, size);
    if (EncodesBackTo(codec.encoder, text, own.data(), size) &&
        EncodesBackTo(codec.encoder, previous + text,
                      (previous_bytes + own).data(),
                      previous_bytes.size() + size)) {
      out->append(text);
      previous = text;
      previous_bytes = own;
    } else {
      for (char byte : own) AppendByte(out, static_cast<unsigned char>(byte));
      previous.clear();
      previous_bytes.clear();
    }
    i += size;
  }
}

// Whatever the charset, the text must encode back to the very bytes: a name
// that does not would open another file, or none.
std::u16string DecodeOther(const char* charset, const char* bytes,
                           std::size_t length) {
  Converters codec(charset);
  std::u16string text;
  DecodeWhole(codec.decoder, bytes, length, &text);
  if (EncodesBackTo(codec.encoder, text, bytes, length)) return text;
  text.clear();
  DecodeByCharacter(codec, bytes, length, &text);
  if (EncodesBackTo(codec.encoder, text, bytes, length)) return text;
  // Last resort, exact in every ASCII-compatible charset: only ASCII is
  // taken as text.
  text.clear();
  for (std::size_t i = 0; i < length; ++i) {
    AppendByte(&text, static_cast<unsigned char>(bytes[i]));
  }
  return text;
}

}  // namespace

std::u16string DecodeLocale(const char* bytes, std::size_t length) {
  std::u16string out;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  const char* charset = nullptr;
  const Charset kind = LocaleCharset(&charset);
  if (kind == Charset::kOther) return DecodeOther(charset, bytes, length);
  const std::size_t ascii = AsciiRun(p, length);
  out.assign(p, p + ascii);
  if (ascii == length) return out;
  out.reserve(length);
  p += ascii;
  length -= ascii;
  if (kind == Charset::kUtf8) {
    common::DecodeUtf8(p, length, &out);
  } else {
    for (std::size_t i = 0; i < length; ++i) AppendByte(&out, p[i]);
  }
  return out;
}

bool LocaleIsUtf8() {
  const char* charset = nullptr;
  return LocaleCharset(&charset) == Charset::kUtf8;
}

std::string EncodeLocale(std::u16string_view text, bool* exact) {
  if (exact) *exact = true;
  std::string out;
  out.reserve(text.size());
  const char* charset = nullptr;
  const Charset kind = LocaleCharset(&charset);
  if (kind == Charset::kOther) {
    Converters codec(charset);
    EncodeOther(codec.encoder, text, &out, exact);
    return out;
  }
  // ASCII in runs, any other character as itself.
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t ascii = AsciiRun(text.data() + i, text.size() - i);
    const std::size_t at = out.size();
    out.resize(at + ascii);
    for (std::size_t k = 0; k < ascii; ++k) {
      out[at + k] = static_cast<char>(text[i + k]);
    }
    i += ascii;
    if (i == text.size()) break;
    const std::size_t units = common::StartsPair(text, i) ? 2 : 1;
    common::ForEachCodePoint(
        text.substr(i, units), [&](std::uint32_t code_point, std::size_t one) {
          if (one == 1 &&
              common::IsByteEscape(static_cast<char16_t>(code_point))) {
            out.push_back(static_cast<char>(common::EscapedByte(code_point)));
          } else if (kind == Charset::kUtf8 &&
                     !common::IsLoneSurrogate(code_point)) {
            common::AppendUtf8(&out, code_point);
          } else {
            out.push_back('?');
            if (exact) *exact = false;
          }
        });
    i += units;
  }
  return out;
}

}  // namespace platform

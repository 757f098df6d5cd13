#include "digest/digest_record.h"

#include "platform/code_page.h"
#include "platform/last_error.h"

namespace digest {

common::WideString DigestExtension(common::AlgorithmId algorithm) {
  return common::WideString(algorithm == common::CALG_SHA1 ? u"sha1" : u"md5");
}

common::WideString DigestFileName(const common::WideString& name,
                                  const common::WideString& extension) {
  std::u16string text;
  text.reserve(name.Length() + 1 + extension.Length());
  text.append(name.View()).append(u".").append(extension.View());
  return common::WideString(text);
}

bool FormatDigestRecord(const std::uint8_t* digest, std::uint32_t size,
                        const common::WideString& name, std::string* record) {
  std::string ansi_name;
  if (!platform::WideToAnsi(name, &ansi_name)) return false;
  if (ansi_name.find_first_of("\r\n") != std::string::npos) {
    platform::SetLastErrorCode(platform::kErrorInvalidName);
    return false;
  }
  static const char kDigits[] = "0123456789abcdef";
  record->clear();
  record->reserve(size * 2 + 2 + ansi_name.size() + 1);
  for (std::uint32_t i = 0; i < size; ++i) {
    record->push_back(kDigits[digest[i] >> 4]);
    record->push_back(kDigits[digest[i] & 0x0F]);
  }
  record->append(" *").append(ansi_name).push_back('\n');
  return true;
}

}  // namespace digest

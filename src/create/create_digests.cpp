#include "create/create_digests.h"

#include <string>
#include <vector>

#include "app/show_system_error.h"
#include "digest/digest_record.h"
#include "hash/file_hash.h"
#include "platform/file.h"
#include "platform/for_each_entry.h"
#include "platform/last_error.h"

namespace {

const char16_t kDoneText[] = u"作成が終了しました。";
const char16_t kDoneCaption[] = u"ハッシュの作成";

// The names of the files to hash, taken before any digest file is written:
// a directory kept sorted can yield entries created while it is read, and
// a.txt, a.txt.md5, a.txt.md5.md5, ... would chain without end. Returns
// false when the enumeration did not start or broke off before its end.
bool ListFiles(platform::Desktop& desktop, std::vector<WideString>* names) {
  platform::ErrorCode broken = 0;
  const bool listed_all = platform::ForEachEntry(
      WideString(u"*.*"),
      [names](const platform::DirectoryEntry& entry) {
        if (entry.kind == platform::EntryKind::kFile) {
          names->push_back(entry.name);
        }
        return true;
      },
      &broken);
  if (broken != 0) ShowSystemError(desktop, broken);
  return listed_all;
}

// Shows the platform's message for the call that just failed.
bool Fail(platform::Desktop& desktop) {
  ShowSystemError(desktop, platform::GetLastErrorCode());
  return false;
}

// Hashes one file and writes its digest file; shows the platform's message
// and returns false on the first failure.
bool CreateDigestFile(platform::Desktop& desktop, CryptProvider& provider,
                      AlgorithmId algorithm, const WideString& extension,
                      const WideString& name) {
  FileHash hash(provider);
  if (!hash.Create(algorithm) || !HashFile(name, hash)) return Fail(desktop);
  std::uint8_t digest[kMaxDigestSize];
  const std::uint32_t size = hash.GetSize();
  if (!hash.GetValue(digest, size)) return Fail(desktop);
  // Converted before the output exists, so a name the code page cannot take
  // never leaves a digest file of digits alone.
  std::string record;
  if (!FormatDigestRecord(digest, size, name, &record)) return Fail(desktop);

  platform::OutputFile output;
  if (!output.Create(DigestFileName(name, extension))) return Fail(desktop);
  // One write: the file holds the whole record, or it is removed and the
  // error is shown.
  const auto length = static_cast<std::uint32_t>(record.size());
  std::uint32_t written = 0;
  bool ok = output.Write(record.data(), length, &written);
  if (ok && written != length) {
    platform::SetLastErrorCode(platform::kErrorDiskFull);  // short, yet "done"
    ok = false;
  }
  if (ok && output.Close()) return true;
  output.Discard();
  return Fail(desktop);
}

}  // namespace

int CreateDigests(platform::Desktop& desktop, CryptProvider& provider,
                  AlgorithmId algorithm, const WideString& extension) {
  std::vector<WideString> names;
  const bool listed_all = ListFiles(desktop, &names);
  for (const WideString& name : names) {
    if (!CreateDigestFile(desktop, provider, algorithm, extension, name)) {
      return 0;
    }
  }
  if (listed_all) {
    desktop.ShowMessageBox(WideString(kDoneText), WideString(kDoneCaption),
                           MB_ICONINFORMATION);
  }
  return 0;
}

#include "create/create_digests.h"

#include <string>
#include <vector>

#include "app/show_system_error.h"
#include "common/unicode.h"
#include "digest/digest_record.h"
#include "hash/file_hash.h"
#include "hash/hash_ahead.h"
#include "hash/hash_workers.h"
#include "platform/file.h"
#include "platform/for_each_entry.h"
#include "platform/last_error.h"

namespace {

const char16_t kDoneText[] = u"作成が終了しました。";
const char16_t kDoneCaption[] = u"ハッシュの作成";

struct File {
  WideString name;
  // Hashed in turn, never ahead: what the run may write before its turn (a
  // digest file, or a link that may lead to one) must be read as a single
  // pass reads it, and not held open against the writer.
  bool in_turn = false;
};

// The files to hash, taken before any digest file is written: a directory
// kept sorted can yield entries created while it is read, and a.txt,
// a.txt.md5, a.txt.md5.md5, ... would chain without end. Returns false when
// the enumeration did not start or broke off before its end.
bool ListFiles(platform::Desktop& desktop, const WideString& extension,
               std::vector<File>* files) {
  const std::u16string suffix = u"." + std::u16string(extension.View());
  platform::ErrorCode broken = 0;
  const bool listed_all = platform::ForEachEntry(
      WideString(u"*.*"),
      [&](const platform::DirectoryEntry& entry) {
        if (entry.kind == platform::EntryKind::kFile) {
          files->push_back(
              {entry.name,
               entry.link || EndsWithFoldingAscii(entry.name.View(), suffix)});
        }
        return true;
      },
      &broken);
  if (broken != 0) ShowSystemError(desktop, broken);
  return listed_all;
}

// A file's digest, or the failure and its own error code: the last error
// is per thread, and the file may have been hashed on another.
struct Digest {
  bool ok = false;
  platform::ErrorCode error = 0;
  std::uint32_t size = 0;
  std::uint8_t value[kMaxDigestSize] = {};
};

void HashOne(CryptProvider& provider, AlgorithmId algorithm,
             const WideString& name, Digest* digest,
             const std::atomic<bool>& stop) {
  FileHash hash(provider);
  digest->ok = hash.Create(algorithm) && HashFile(name, hash, &stop);
  if (digest->ok) {
    digest->size = hash.GetSize();
    digest->ok = hash.GetValue(digest->value, digest->size);
  }
  if (!digest->ok) digest->error = platform::GetLastErrorCode();
}

// Shows the platform's message for the call that just failed.
bool Fail(platform::Desktop& desktop) {
  ShowSystemError(desktop, platform::GetLastErrorCode());
  return false;
}

// Writes one file's digest file; shows the platform's message and returns
// false on the first failure.
bool WriteDigestFile(platform::Desktop& desktop, const WideString& extension,
                     const WideString& name, const Digest& digest) {
  if (!digest.ok) {
    platform::SetLastErrorCode(digest.error);
    return Fail(desktop);
  }
  // Converted before the output exists, so a name the code page cannot take
  // never leaves a digest file of digits alone.
  std::string record;
  if (!FormatDigestRecord(digest.value, digest.size, name, &record)) {
    return Fail(desktop);
  }
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
  return CreateDigests(desktop, provider, algorithm, extension, HashWorkers());
}

int CreateDigests(platform::Desktop& desktop, CryptProvider& provider,
                  AlgorithmId algorithm, const WideString& extension,
                  unsigned workers) {
  std::vector<File> files;
  const bool listed_all = ListFiles(desktop, extension, &files);
  // Files are hashed ahead on the workers, but each digest file is written
  // in turn, and the run stops where a single pass stops: none after it.
  HashAhead<Digest> ahead(
      files.size(), workers,
      [&](std::size_t i, Digest* digest, const std::atomic<bool>& stop) {
        HashOne(provider, algorithm, files[i].name, digest, stop);
      },
      [&](std::size_t i) { return files[i].in_turn; });
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!WriteDigestFile(desktop, extension, files[i].name, ahead.Take(i))) {
      return 0;
    }
  }
  if (listed_all) {
    desktop.ShowMessageBox(WideString(kDoneText), WideString(kDoneCaption),
                           MB_ICONINFORMATION);
  }
  return 0;
}

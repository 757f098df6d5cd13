#include "create/create_digests.h"

#include <memory>
#include <string>
#include <vector>

#include "app/show_system_error.h"
#include "common/unicode.h"
#include "digest/digest_record.h"
#include "hash/file_hash.h"
#include "pipeline/pipeline.h"
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
        // A digest file on its way to its name (this run's, or one a
        // killed run left) is nobody's data.
        if (entry.kind == platform::EntryKind::kFile &&
            !platform::IsTemporaryName(entry.name.View())) {
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

// Hashes one file, on a worker ahead of the pass (`stop` given) or in the
// pass's turn. Ahead, a file reached through a link the listing could not
// tell, or one that found no descriptor free, is left to the pass.
pipeline::JobEnd HashOne(CryptProvider& provider, AlgorithmId algorithm,
                         const WideString& name, HashContext& context,
                         Digest* digest, const std::atomic<bool>* stop) {
  FileHash hash(provider, context);
  Ahead ahead;
  ahead.stop = stop;
  ahead.own_name_only = true;
  Ahead* on_worker = stop != nullptr ? &ahead : nullptr;
  digest->ok = hash.Create(algorithm) && HashFile(name, hash, on_worker);
  if (digest->ok) {
    digest->size = hash.GetSize();
    digest->ok = hash.GetValue(digest->value, digest->size);
  }
  if (digest->ok) return pipeline::JobEnd::kDone;
  digest->error = platform::GetLastErrorCode();
  if (on_worker == nullptr) return pipeline::JobEnd::kDone;
  if (stop->load() || ahead.through_link) return pipeline::JobEnd::kToThePass;
  if (platform::IsOutOfHandles(digest->error)) {
    return pipeline::JobEnd::kOutOfHandles;
  }
  return pipeline::JobEnd::kDone;
}

// Shows the platform's message for the call that just failed.
bool Fail(platform::Desktop& desktop) {
  ShowSystemError(desktop, platform::GetLastErrorCode());
  return false;
}

// Writes one file's digest file; shows the platform's message and returns
// false on the first failure. *wrote turns true once the folder may hold
// something new (a digest file, a temporary file).
bool WriteDigestFile(platform::Desktop& desktop, const WideString& extension,
                     const WideString& name, const Digest& digest,
                     bool* wrote) {
  if (!digest.ok) {
    ShowSystemError(desktop, digest.error);
    return false;
  }
  // Converted before the output exists, so a name the code page cannot take
  // never leaves a digest file of digits alone.
  std::string record;
  if (!FormatDigestRecord(digest.value, digest.size, name, &record)) {
    return Fail(desktop);
  }
  platform::OutputFile output;
  if (!output.Create(DigestFileName(name, extension))) return Fail(desktop);
  *wrote = true;
  // One write, then the whole file takes the name's place; on any failure
  // the name keeps what it held and the error is shown.
  const auto length = static_cast<std::uint32_t>(record.size());
  std::uint32_t written = 0;
  bool ok = output.Write(record.data(), length, &written);
  if (ok && written != length) {
    platform::SetLastErrorCode(platform::kErrorDiskFull);  // short, yet "done"
    ok = false;
  }
  if (ok && output.Commit()) return true;
  output.Discard();
  return Fail(desktop);
}

}  // namespace

int CreateDigests(platform::Desktop& desktop, CryptProvider& provider,
                  AlgorithmId algorithm, const WideString& extension) {
  return CreateDigests(desktop, provider, algorithm, extension,
                       pipeline::HashThreads());
}

int CreateDigests(platform::Desktop& desktop, CryptProvider& provider,
                  AlgorithmId algorithm, const WideString& extension,
                  const pipeline::Threads& threads) {
  // Shared with the workers, one of which may outlive the run in a read.
  const auto files = std::make_shared<std::vector<File>>();
  const bool listed_all = ListFiles(desktop, extension, files.get());
  // Files are hashed ahead on the workers, but each digest file is written
  // in turn, and the run stops where a single pass stops: none after it.
  HashContext pass_context;
  pipeline::Pipeline<Digest, HashContext> ahead(
      files->size(), threads,
      [files, &provider, algorithm](std::size_t i, HashContext& context,
                                    Digest* digest,
                                    const std::atomic<bool>* stop) {
        return HashOne(provider, algorithm, (*files)[i].name, context, digest,
                       stop);
      },
      [files](std::size_t i) { return (*files)[i].in_turn; }, pass_context);
  bool wrote = false;
  for (std::size_t i = 0; i < files->size(); ++i) {
    if (!WriteDigestFile(desktop, extension, (*files)[i].name, ahead.Take(i),
                         &wrote)) {
      // What was written before the failure is on disk too; the failure's
      // box has been shown.
      if (wrote) platform::FlushWrites();
      return 0;
    }
  }
  // "Done" means on disk: flushed once, before the box says so.
  if (wrote && !platform::FlushWrites()) {
    ShowSystemError(desktop, platform::GetLastErrorCode());
    return 0;
  }
  if (listed_all) {
    desktop.ShowMessageBox(WideString(kDoneText), WideString(kDoneCaption),
                           MB_ICONINFORMATION);
  }
  return 0;
}

#include "create/create_digests.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/unicode.h"
#include "desktop/show_system_error.h"
#include "digest/digest_record.h"
#include "hash/file_hash.h"
#include "platform/file.h"
#include "platform/for_each_entry.h"
#include "platform/last_error.h"
#include "progress/progress_texts.h"
#include "run/ordered_run.h"
#include "run/pass_run.h"

namespace {

const char16_t kDoneText[] = u"作成が終了しました。";
const char16_t kDoneCaption[] = u"ハッシュの作成";
const char16_t kCancelledBefore[] = u"作成を中止しました。残りの";
const char16_t kCancelledAfter[] = u"件は作成していません。";

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

// Hashes one file, on a worker ahead of the pass or in the pass's turn.
// Ahead, a file reached through a link the listing could not tell, or one
// that found no descriptor free, is left to the pass.
pipeline::JobEnd HashOne(CryptProvider& provider, AlgorithmId algorithm,
                         const WideString& name, HashContext& context,
                         Digest* digest, bool on_worker) {
  FileHash hash(provider, context);
  Ahead ahead;
  ahead.own_name_only = true;
  digest->ok = hash.Create(algorithm) &&
               HashFile(name, hash, on_worker ? &ahead : nullptr);
  if (digest->ok) {
    digest->size = hash.GetSize();
    digest->ok = hash.GetValue(digest->value, digest->size);
  }
  if (digest->ok) return pipeline::JobEnd::kDone;
  digest->error = platform::GetLastErrorCode();
  if (!on_worker) return pipeline::JobEnd::kDone;
  if (context.Stopped() || ahead.through_link) {
    return pipeline::JobEnd::kToThePass;
  }
  if (platform::IsOutOfHandles(digest->error)) {
    return pipeline::JobEnd::kOutOfHandles;
  }
  return pipeline::JobEnd::kDone;
}

// Writes one file's digest file; false on the first failure, with its code
// in *error. *wrote turns true once the folder may hold something new (a
// digest file, a temporary file).
bool WriteDigestFile(const WideString& extension, const WideString& name,
                     const Digest& digest, bool* wrote,
                     platform::ErrorCode* error) {
  if (!digest.ok) {
    *error = digest.error;
    return false;
  }
  // Converted before the output exists, so a name the code page cannot take
  // never leaves a digest file of digits alone.
  std::string record;
  bool ok = FormatDigestRecord(digest.value, digest.size, name, &record);
  platform::OutputFile output;
  ok = ok && output.Create(DigestFileName(name, extension));
  if (ok) {
    *wrote = true;
    // One write, then the whole file takes the name's place; on any failure
    // the name keeps what it held.
    const auto length = static_cast<std::uint32_t>(record.size());
    std::uint32_t written = 0;
    ok = output.Write(record.data(), length, &written);
    if (ok && written != length) {  // short, yet "done"
      platform::SetLastErrorCode(platform::kErrorDiskFull);
      ok = false;
    }
    ok = ok && output.Commit();
    if (!ok) output.Discard();
  }
  if (!ok) *error = platform::GetLastErrorCode();
  return ok;
}

// The digest files so far, as the pass leaves them.
struct Written {
  std::size_t count = 0;  // files whose digest file was written, in order
  bool wrote = false;     // the folder may hold something new
  bool flushing = false;  // every file done, and the flush begun
  bool failed = false;
  platform::ErrorCode failure = 0;
};

// One creation: the listed files, hashed ahead and written in turn, shared
// with the pass's thread and the workers, which may outlive the call in a
// read.
struct Creation {
  Creation(std::shared_ptr<const std::vector<File>> files_in,
           const pipeline::Threads& threads, CryptProvider& provider,
           AlgorithmId algorithm)
      : files(std::move(files_in)),
        ordered(
            files->size(), threads,
            [files = files, &provider, algorithm](
                std::size_t i, HashContext& context, Digest* digest,
                bool on_worker) {
              return HashOne(provider, algorithm, (*files)[i].name, context,
                             digest, on_worker);
            },
            [files = files](std::size_t i) { return (*files)[i].in_turn; }) {}

  const std::shared_ptr<const std::vector<File>> files;
  run::OrderedRun<Digest> ordered;
  run::SoFar<Written> so_far;
};

// The pass: each file's digest file written in turn, on the pass's thread.
void WriteInTurn(Creation& c, const WideString& extension) {
  const std::vector<File>& files = *c.files;
  bool wrote = false;
  std::size_t i = 0;
  for (; i < files.size(); ++i) {
    const Digest* digest = c.ordered.Take(i);
    // A file hashed in turn may have found no descriptor free, as its
    // digest file may: the workers let theirs go, and the pass tries again.
    if (digest != nullptr && !digest->ok &&
        platform::IsOutOfHandles(digest->error) &&
        c.ordered.FreeDescriptors()) {
      digest = c.ordered.Retake(i);
    }
    if (digest == nullptr) break;  // stopped: the file in hand is not written
    platform::ErrorCode error = 0;
    bool ok =
        WriteDigestFile(extension, files[i].name, *digest, &wrote, &error);
    if (!ok && platform::IsOutOfHandles(error) && c.ordered.FreeDescriptors()) {
      ok = WriteDigestFile(extension, files[i].name, *digest, &wrote, &error);
    }
    c.so_far.Add([&](Written& w) {
      w.wrote = wrote;
      if (ok) ++w.count;
      w.failed = !ok;
      w.failure = error;
    });
    if (!ok) break;
  }
  // Nothing hashes behind a box.
  c.ordered.End();
  if (!wrote) return;
  const bool all = i == files.size();
  if (all) {
    c.ordered.AllTaken(files.size());
    c.so_far.Add([](Written& w) { w.flushing = true; });
  }
  // What was written is on disk before any box: "done" means on disk.
  if (!platform::FlushWrites() && all) {
    const platform::ErrorCode error = platform::GetLastErrorCode();
    c.so_far.Add([&](Written& w) {
      w.failed = true;
      w.failure = error;
    });
  }
}

}  // namespace

int CreateDigests(platform::Desktop& desktop, CryptProvider& provider,
                  AlgorithmId algorithm, const WideString& extension,
                  const run::Settings& settings) {
  // Shared with the workers, one of which may outlive the run in a read.
  auto listed = std::make_shared<std::vector<File>>();
  const bool listed_all = ListFiles(desktop, extension, listed.get());
  const std::shared_ptr<const std::vector<File>> files = std::move(listed);
  const std::size_t count = files->size();
  const pipeline::Threads threads =
      settings.threads ? *settings.threads : pipeline::HashThreads();
  // Files are hashed ahead on the workers, but each digest file is written
  // in turn, and the run stops where a single pass stops: none after it.
  const auto creation =
      std::make_shared<Creation>(files, threads, provider, algorithm);
  run::Watch watch;
  watch.count = count;
  watch.counters = creation->ordered.SharedCounters();
  watch.name_at = [files](std::size_t i) { return (*files)[i].name; };
  // Files hashed in turn too: their sizes are read without an open, which
  // could make the pass's writing of a digest file fail.
  watch.size_of = [files](std::size_t i, std::uint64_t* size) {
    return run::SizeOfFile((*files)[i].name, size);
  };
  progress::SteadyClock steady;
  progress::Clock& clock = settings.clock ? *settings.clock : steady;
  const bool ended = run::RunPass(
      desktop, clock, threads, WideString(kDoneCaption), watch,
      [creation, extension] { WriteInTurn(*creation, extension); },
      [creation] { creation->ordered.Stop(); });
  const Written written = creation->so_far.Take();
  // Left inside a call after a cancel: what it wrote reaches the disk all
  // the same, unless the flush is the call it is in.
  if (!ended && written.wrote && !written.flushing) platform::FlushWrites();
  if (written.failed) {
    ShowSystemError(desktop, written.failure);
    return 0;
  }
  if (written.count < count || (!ended && written.flushing)) {
    WideString text(kCancelledBefore);
    text.Append(progress::Digits(count - written.count));
    text.Append(kCancelledAfter);
    desktop.ShowMessageBox(text, WideString(kDoneCaption), MB_ICONWARNING);
    return 0;
  }
  if (listed_all) {
    desktop.ShowMessageBox(WideString(kDoneText), WideString(kDoneCaption),
                           MB_ICONINFORMATION);
  }
  return 0;
}

#include "create/create_digests.h"

#include <memory>
#include <string>
#include <vector>

#include "app/show_system_error.h"
#include "common/unicode.h"
#include "digest/digest_record.h"
#include "hash/file_hash.h"
#include "output/digest_file_batch.h"
#include "pipeline/pipeline.h"
#include "platform/file.h"
#include "platform/for_each_entry.h"
#include "platform/last_error.h"
#include "platform/temporary_file.h"
#include "progress/pass_run.h"

namespace {

const char16_t kDoneText[] = u"作成が終了しました。";
const char16_t kDoneCaption[] = u"ハッシュの作成";

struct File {
  WideString name;
  // Hashed in turn, never ahead: what the run may write before its turn (a
  // digest file, or a link that may lead to one) must be read as a single
  // pass reads it, and not held open against the writer.
  bool in_turn = false;
  bool link = false;
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
        // A digest file on its way to its name is nobody's data; one that
        // a killed run left goes where that is safe.
        if (platform::IsTemporaryName(entry.name.View())) {
          platform::RemoveStray(entry.name);
        } else if (entry.kind == platform::EntryKind::kFile) {
          files->push_back(
              {entry.name,
               entry.link || EndsWithFoldingAscii(entry.name.View(), suffix),
               entry.link});
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

// Stages one file's digest file; false on the first failure, with its code
// in *error.
bool WriteDigestFile(output::DigestFileBatch& batch,
                     const WideString& extension, const WideString& name,
                     const Digest& digest, platform::ErrorCode* error) {
  if (!digest.ok) {
    *error = digest.error;
    return false;
  }
  // Converted before the output exists, so a name the code page cannot take
  // never leaves a digest file of digits alone.
  std::string record;
  const bool ok =
      FormatDigestRecord(digest.value, digest.size, name, &record) &&
      batch.Stage(DigestFileName(name, extension), record);
  if (!ok) *error = platform::GetLastErrorCode();
  return ok;
}

// The digest of what the pass staged for a digest file it now reads: the
// bytes a single pass would find there, without flushing them into place
// first.
void HashStaged(CryptProvider& provider, AlgorithmId algorithm,
                HashContext& context, std::string_view data, Digest* digest) {
  FileHash hash(provider, context);
  digest->ok = hash.Create(algorithm) &&
               hash.AddData(reinterpret_cast<const std::uint8_t*>(data.data()),
                            static_cast<std::uint32_t>(data.size()));
  if (digest->ok) {
    digest->size = hash.GetSize();
    digest->ok = hash.GetValue(digest->value, digest->size);
  }
  if (!digest->ok) digest->error = platform::GetLastErrorCode();
}

// What the pass ended with, shown once it is over.
struct PassEnd {
  bool stopped = false;  // by a failure or the user
  bool failed = false;
  platform::ErrorCode failure = 0;
};

// The pass: each file's digest file written in turn, on the pass's thread.
void WriteInTurn(pipeline::Pipeline<Digest, HashContext>& ahead,
                 CryptProvider& provider, AlgorithmId algorithm,
                 const std::vector<File>& files, const WideString& extension,
                 HashContext& pass_context, const std::atomic<bool>& cancel,
                 PassEnd* end) {
  pass_context.StopOn(&cancel);
  output::DigestFileBatch batch;
  for (std::size_t i = 0; i < files.size(); ++i) {
    // A single pass reads a digest file it wrote as written: one this pass
    // staged is hashed as staged; one that a link or another spelling may
    // lead to takes its name before it is read.
    std::string_view staged;
    const bool held = files[i].in_turn && !files[i].link &&
                      batch.Staged(files[i].name, &staged);
    if (!held && files[i].in_turn &&
        (files[i].link || batch.Holds(files[i].name)) && !batch.Commit()) {
      end->stopped = end->failed = true;
      end->failure = platform::GetLastErrorCode();
      break;
    }
    Digest& digest = ahead.Take(i);
    if (held) HashStaged(provider, algorithm, pass_context, staged, &digest);
    // Cancelled: the file in hand is not written, as after a failure.
    if (cancel.load()) {
      end->stopped = true;
      break;
    }
    if (!WriteDigestFile(batch, extension, files[i].name, digest,
                         &end->failure)) {
      end->stopped = end->failed = true;
      break;
    }
  }
  pass_context.StopOn(nullptr);
  // What the pass wrote before it stopped takes its names; a failure there
  // is met before any later one.
  if (!batch.Commit()) {
    end->stopped = end->failed = true;
    end->failure = platform::GetLastErrorCode();
  }
  // On disk before any box: "done" means on disk.
  if (!batch.Flush() && !end->stopped) {
    end->failed = true;
    end->failure = platform::GetLastErrorCode();
  }
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
  progress::SteadyClock clock;
  return CreateDigests(desktop, provider, algorithm, extension, threads, clock);
}

int CreateDigests(platform::Desktop& desktop, CryptProvider& provider,
                  AlgorithmId algorithm, const WideString& extension,
                  const pipeline::Threads& threads, progress::Clock& clock) {
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
  progress::Watch watch;
  watch.count = files->size();
  watch.counters = ahead.SharedProgress();
  watch.name_at = [files](std::size_t i) { return (*files)[i].name; };
  // Not the files hashed in turn: a digest file held open, even to read its
  // size, would make the pass's writing of it fail where opens share.
  watch.size_of = [files](std::size_t i, platform::WorkerContext& context,
                          std::uint64_t* size) {
    return !(*files)[i].in_turn &&
           progress::SizeOfFile((*files)[i].name, context, size);
  };
  PassEnd end;
  progress::RunPass(desktop, clock, threads, WideString(kDoneCaption), watch,
                    [&](const std::atomic<bool>& cancel) {
                      WriteInTurn(ahead, provider, algorithm, *files, extension,
                                  pass_context, cancel, &end);
                    });
  if (end.failed) {
    ShowSystemError(desktop, end.failure);
    return 0;
  }
  if (end.stopped) return 0;
  if (listed_all) {
    desktop.ShowMessageBox(WideString(kDoneText), WideString(kDoneCaption),
                           MB_ICONINFORMATION);
  }
  return 0;
}

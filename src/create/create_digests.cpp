#include "create/create_digests.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "create/creation.h"
#include "create/file_digest.h"
#include "create/list_files.h"
#include "create/settle.h"
#include "desktop/show_system_error.h"
#include "digest/digest_record.h"
#include "platform/last_error.h"
#include "progress/progress_texts.h"
#include "run/ordered_run.h"
#include "run/pass_run.h"

namespace create {

namespace {

const char16_t kDoneText[] = u"作成が終了しました。";
const char16_t kDoneCaption[] = u"ハッシュの作成";
const char16_t kCancelledBefore[] = u"作成を中止しました。残りの";
const char16_t kCancelledAfter[] = u"件は作成していません。";
// Cancelled while the folder was listed: how many files it holds is not
// known, and no digest file was written.
const char16_t kCancelledUnlisted[] =
    u"作成を中止しました。ハッシュは1件も作成していません。";
// Cancelled while the last flush was unanswered: every digest file took
// its name, but whether the disk holds them is not known.
const char16_t kCancelledUnflushed[] =
    u"作成を中止しました。すべてのファイルのハッシュを作成しましたが、"
    u"ディスクへの保存は確認できていません。";

// What the batch holds now, told to so_far.
void Tell(Creation& c, bool ok, platform::ErrorCode error) REQUIRES(c.staging) {
  const std::size_t count = c.batch.Committed();
  const std::size_t staged = c.batch.Size();
  c.so_far.Add([&](Written& w) {
    w.count = count;
    w.staged = staged;
    w.failed = !ok;
    w.failure = error;
  });
}

// The staged files put in place; false with the code.
bool CommitStaged(Creation& c, platform::ErrorCode* error) REQUIRES(c.staging) {
  const bool ok = c.batch.Commit();
  *error = ok ? 0 : platform::GetLastErrorCode();
  Tell(c, ok, *error);
  return ok;
}

// File i's digest, as a single pass would find it; null once stopped.
const Digest* TakeDigest(Creation& c, std::size_t i, Digest* from_staged,
                         platform::ErrorCode* error) {
  const File& file = (*c.files)[i];
  // A single pass reads a digest file it wrote as written: one this pass
  // staged is hashed as staged; one that a link or another spelling may
  // lead to takes its name before it is read.
  std::string staged;
  bool held = false;
  {
    const common::Lock lock(c.staging);
    std::string_view data;
    if (file.in_turn && !file.link && c.batch.Staged(file.name, &data)) {
      staged = data;
      held = true;
    } else if (file.in_turn && (file.link || c.batch.Holds(file.name)) &&
               !CommitStaged(c, error)) {
      return nullptr;
    }
  }
  const Digest* digest = c.ordered.Take(i);
  if (digest == nullptr || c.ordered.Stopped()) return nullptr;
  if (held) {
    c.opened->Mark(i)->store(1, std::memory_order_relaxed);
    HashStaged(*c.provider, c.algorithm, staged, from_staged);
    return from_staged;
  }
  // A file hashed in turn may have found no descriptor free, as its
  // digest file may: the staged files let theirs go, then the workers, and
  // the pass tries again.
  if (digest->OutOfHandles()) {
    bool committed = false;
    {
      const common::Lock lock(c.staging);
      committed = c.batch.Size() > 0;
      if (committed && !CommitStaged(c, error)) return nullptr;
    }
    if (committed) digest = c.ordered.Retake(i);
  }
  return c.ordered.RetakeFreed(i, digest);
}

// The pass: each file's digest file staged in turn, on the pass's thread,
// and put in place in batches.
void WriteInTurn(Creation& c, const common::WideString& extension) {
  const std::vector<File>& files = *c.files;
  std::size_t i = 0;
  for (; i < files.size(); ++i) {
    Digest from_staged;
    platform::ErrorCode error = 0;
    const Digest* digest = TakeDigest(c, i, &from_staged, &error);
    // Stopped: the file in hand is not written, as after a failure.
    if (digest == nullptr) break;
    const common::Lock lock(c.staging);
    bool of_name = false;
    bool ok = WriteDigestFile(c.batch, extension, files[i].name, *digest,
                              &error, &of_name);
    if (!ok && platform::IsOutOfHandles(error) && c.ordered.FreeDescriptors()) {
      ok = WriteDigestFile(c.batch, extension, files[i].name, *digest, &error,
                           &of_name);
    }
    Tell(c, ok, error);
    if (of_name) {
      c.so_far.Add([&](Written& w) { w.failed_name = files[i].name; });
    }
    if (!ok) break;
  }
  // Nothing hashes behind a box.
  c.ordered.End();
  const common::Lock lock(c.staging);
  // Taken already: the user was told these are not written.
  if (!c.so_far.Add([](Written& w) { w.committing = true; })) {
    c.batch.Drop();
    return;
  }
  // What the pass staged before it stopped takes its names; a failure there
  // is met before any later one.
  bool ok = c.batch.Commit();
  const platform::ErrorCode error = platform::GetLastErrorCode();
  const bool all = ok && i == files.size();
  const std::size_t count = c.batch.Committed();
  c.so_far.Add([&](Written& w) {
    w.count = count;
    w.staged = 0;
    if (!ok) {
      w.failed = true;
      w.failure = error;
      w.failed_name = common::WideString::Absent();
    }
    w.flushing = all;
  });
  if (all) c.ordered.AllTaken(files.size());
  // On disk before any box: "done" means on disk.
  if (!c.batch.Flush() && all) {
    const platform::ErrorCode flush_error = platform::GetLastErrorCode();
    c.so_far.Add([&](Written& w) {
      w.failed = true;
      w.failure = flush_error;
    });
  }
}

// What the run's thread hands the desktop's: whether the folder was listed
// whole, and the creation of the files listed, once it starts.
struct Handed {
  bool listed_all = false;
  std::shared_ptr<Creation> creation;
};

// The run: the folder listed, then its files hashed and written in turn.
void ListAndWrite(desktop::Desktop& desktop, hash::CryptProvider& provider,
                  common::AlgorithmId algorithm,
                  const common::WideString& extension,
                  const pipeline::Threads& threads, run::Stage& stage,
                  run::HandOver<Handed>& handed) {
  // Shared with the workers, one of which may outlive the run in a read.
  auto listed = std::make_shared<std::vector<File>>();
  const bool listed_all = ListFiles(desktop, extension, stage, listed.get());
  if (stage.Stopped()) return;
  const std::shared_ptr<const std::vector<File>> files = std::move(listed);
  // Files are hashed ahead on the workers, but each digest file is written
  // in turn, and the run stops where a single pass stops: none after it.
  const auto creation = std::make_shared<Creation>(
      files, threads, provider, algorithm, stage.SharedStop());
  handed.Give([&](Handed& h) {
    h.listed_all = listed_all;
    h.creation = creation;
  });
  creation->Watch(
      stage, progress::Unit::kFiles,
      [files](std::size_t i, std::uint8_t) { return (*files)[i].name; },
      // Sizes without an open, which could fail a digest file's write.
      [files](std::size_t i, std::uint64_t* size) {
        return run::SizeOfFile((*files)[i].name, size);
      });
  WriteInTurn(*creation, extension);
}

}  // namespace

int CreateDigests(desktop::Desktop& desktop, hash::CryptProvider& provider,
                  common::AlgorithmId algorithm,
                  const common::WideString& extension,
                  const run::Settings& settings) {
  const run::RanHanding<Handed> ran = run::RunPassHanding<Handed>(
      desktop, provider, settings, common::WideString(kDoneCaption),
      [algorithm, extension](desktop::Desktop& shown,
                             hash::CryptProvider& shared,
                             const pipeline::Threads& threads,
                             run::Stage& stage, run::HandOver<Handed>& handed) {
        ListAndWrite(shown, shared, algorithm, extension, threads, stage,
                     handed);
      });
  const std::shared_ptr<Creation>& creation = ran.handed.creation;
  const std::size_t count = creation != nullptr ? creation->files->size() : 0;
  const Written written = creation == nullptr ? Written()
                          : ran.ended         ? creation->so_far.Take()
                                              : Abandon(creation, ran.threads);
  if (written.failed) {
    if (written.failed_name.IsAbsent()) {
      desktop::ShowSystemError(desktop, written.failure);
    } else {
      desktop::ShowSystemError(desktop, written.failure, written.failed_name);
    }
    return 0;
  }
  if (creation == nullptr || written.count < count ||
      (!ran.ended && written.flushing)) {
    common::WideString text(creation == nullptr      ? kCancelledUnlisted
                            : written.count == count ? kCancelledUnflushed
                                                     : kCancelledBefore);
    if (creation != nullptr && written.count < count) {
      text.Append(progress::Count(count - written.count));
      text.Append(kCancelledAfter);
    }
    desktop.ShowMessageBox(text, common::WideString(kDoneCaption),
                           desktop::MB_ICONWARNING);
    return 0;
  }
  if (ran.handed.listed_all) {
    desktop.ShowMessageBox(common::WideString(kDoneText),
                           common::WideString(kDoneCaption),
                           desktop::MB_ICONINFORMATION);
  }
  return 0;
}

}  // namespace create

#include "verify/verify_digests.h"

#include <cstring>
#include <memory>

#include "app/show_system_error.h"
#include "digest/digest_list.h"
#include "digest/digest_parser.h"
#include "digest/hex_to_bytes.h"
#include "hash/file_hash.h"
#include "pipeline/pipeline.h"
#include "platform/file.h"
#include "platform/last_error.h"
#include "progress/pass_run.h"
#include "progress/progress_texts.h"
#include "verify/scan_digest_files.h"

namespace {

const char16_t kNothingToVerify[] =
    u"ダイジェストファイル(*.md5/"
    u"*.sha1)がカレントディレクトリに1つも存在しないため検証できません。\r\n"
    u"\r\n"
    u"(検証するのではなく、ダイジェストファイルを新規に作成する場合は\r\n"
    u"SHIFTキー、もしくはSHIFT+CTRLキーを押しながら起動します。)";
const char16_t kSeparator[] = u" - ";
const char16_t kOk[] = u"OK";
const char16_t kMismatch[] = u"ハッシュ値が一致しません。";
const char16_t kUnreadable[] =
    u"ファイルが見つからないか、読み込みに失敗しました。";
const char16_t kLineEnd[] = u"\r\n";
const char16_t kFailedCaption[] = u"検証に失敗しました。";
const char16_t kSucceededCaption[] = u"検証に成功しました。";
const char16_t kProgressTitle[] = u"ハッシュの検証";
const char16_t kCancelledBefore[] = u"検証を中止しました。残りの";
const char16_t kCancelledAfter[] = u"件は検証していません。";

enum class Check { kOk, kMismatch, kUnreadable, kHashFailed };

bool IsNotFound(platform::ErrorCode error) {
  return error == platform::kErrorFileNotFound ||
         error == platform::kErrorPathNotFound ||
         error == platform::kErrorInvalidName;
}

// One record's check, with the error code of a failure: the last error is
// per thread, and the record may have been checked on another.
struct Outcome {
  Check check = Check::kHashFailed;
  platform::ErrorCode error = 0;
  const WideString* shown = nullptr;  // the reading the line names
  bool out_of_handles = false;        // an open found no descriptor free
};

// One reading of a record's name, hashed and compared with its digest.
struct Reading {
  Check check = Check::kUnreadable;
  platform::ErrorCode error = 0;
  Opened opened;
};

Reading CheckReading(CryptProvider& provider, HashContext& context,
                     const DigestEntry& entry, const WideString& name,
                     Ahead* ahead, Outcome* outcome) {
  Reading reading;
  FileHash hash(provider, context);
  if (!hash.Create(entry.GetAlgorithm())) {
    reading.check = Check::kHashFailed;
    reading.error = platform::GetLastErrorCode();
    return reading;
  }
  if (!HashFile(name, hash, ahead, &reading.opened)) {
    reading.error = platform::GetLastErrorCode();
    if (platform::IsOutOfHandles(reading.error)) outcome->out_of_handles = true;
    return reading;
  }
  std::uint8_t computed[kMaxDigestSize];
  const std::uint32_t size = hash.GetSize();
  if (!hash.GetValue(computed, size)) {
    reading.check = Check::kHashFailed;
    reading.error = platform::GetLastErrorCode();
    return reading;
  }
  std::uint8_t expected[kMaxDigestSize];
  const std::size_t decoded =
      HexToBytes(entry.GetDigest().CStr(), expected, size);
  const bool same =
      decoded == size && std::memcmp(computed, expected, size) == 0;
  reading.check = same ? Check::kOk : Check::kMismatch;
  return reading;
}

void Report(const Reading& reading, const WideString& name, Outcome* outcome) {
  outcome->check = reading.check;
  outcome->error = reading.error;
  outcome->shown = &name;
}

// Whether a file, not a folder, stands under the reading, opened or not.
bool Exists(const Reading& reading, const WideString& name) {
  if (reading.opened.opened) return true;
  return !IsNotFound(reading.error) && platform::NamesFile(name);
}

// Hashes the entry's file and compares it with the entry's digest text. A
// record written elsewhere may mean its name's UTF-8 reading rather than the
// code page's (where names are UTF-16 and the code page is another); both
// weigh the same:
// - where both readings name files that are not one file, both are
//   checked, and the line is OK only when both are: a file planted under
//   the other reading never vouches for the one the record means, and one
//   that cannot be read (locked, access denied) fails the line;
// - where one reading names a file, that file is checked;
// - where neither does, the line names the code-page reading if something
//   stands under it (a folder), else the UTF-8 one.
// The line names the reading that failed, the code page's first.
void CheckEntry(CryptProvider& provider, HashContext& context,
                const DigestEntry& entry, Ahead* ahead, Outcome* outcome) {
  const WideString& name = entry.GetName();
  const WideString& other = entry.GetOtherName();
  const Reading first =
      CheckReading(provider, context, entry, name, ahead, outcome);
  Report(first, name, outcome);
  const bool stopped = ahead != nullptr && ahead->stop->load();
  if (other.IsAbsent() || stopped || first.check == Check::kHashFailed) {
    return;
  }
  const Reading second =
      CheckReading(provider, context, entry, other, ahead, outcome);
  const bool first_exists = Exists(first, name);
  const bool second_exists = Exists(second, other);
  const bool one_file = first.opened.opened && second.opened.opened &&
                        first.opened.identity == second.opened.identity;
  const bool names_second =
      first_exists && second_exists
          ? !one_file && first.check == Check::kOk
          : second_exists || (!first_exists && IsNotFound(first.error));
  if (second.check == Check::kHashFailed || names_second) {
    Report(second, other, outcome);
  }
}

// One record's check, on a worker ahead of the pass (`stop` given) or in
// the pass's turn. Ahead, a record whose file found no descriptor free is
// left to the pass.
pipeline::JobEnd CheckOne(CryptProvider& provider, const DigestEntry& entry,
                          HashContext& context, Outcome* outcome,
                          const std::atomic<bool>* stop) {
  Ahead ahead;
  ahead.stop = stop;
  Ahead* on_worker = stop != nullptr ? &ahead : nullptr;
  CheckEntry(provider, context, entry, on_worker, outcome);
  if (on_worker == nullptr) return pipeline::JobEnd::kDone;
  if (stop->load()) return pipeline::JobEnd::kToThePass;
  return outcome->out_of_handles ? pipeline::JobEnd::kOutOfHandles
                                 : pipeline::JobEnd::kDone;
}

// The report as the pass leaves it.
struct Reported {
  WideString text;
  bool failed = false;
  bool hash_failed = false;  // no report: the error alone is shown
  platform::ErrorCode error = 0;
  std::size_t unchecked = 0;  // records a cancel left out
};

// The pass: each record's line appended in list order, on the pass's thread.
void ReportInTurn(pipeline::Pipeline<Outcome, HashContext>& ahead,
                  std::size_t count, HashContext& pass_context,
                  const std::atomic<bool>& cancel, Reported* report) {
  pass_context.StopOn(&cancel);
  for (std::size_t slot = 0; slot < count; ++slot) {
    const Outcome& outcome = ahead.Take(slot);
    if (cancel.load()) {
      report->unchecked = count - slot;  // the record in hand too
      break;
    }
    const Check check = outcome.check;
    if (check == Check::kHashFailed) {
      report->hash_failed = true;
      report->error = outcome.error;
      break;
    }
    report->text.Append(*outcome.shown);
    report->text.Append(kSeparator);
    switch (check) {
      case Check::kOk:
        report->text.Append(kOk);
        break;
      case Check::kMismatch:
        report->text.Append(kMismatch);
        report->failed = true;
        break;
      default:
        report->text.Append(kUnreadable);
        report->failed = true;
        break;
    }
    report->text.Append(kLineEnd);
  }
  pass_context.StopOn(nullptr);
}

}  // namespace

int VerifyDigests(platform::Desktop& desktop, CryptProvider& provider) {
  return VerifyDigests(desktop, provider, pipeline::HashThreads());
}

int VerifyDigests(platform::Desktop& desktop, CryptProvider& provider,
                  const pipeline::Threads& threads) {
  progress::SteadyClock clock;
  return VerifyDigests(desktop, provider, threads, clock);
}

int VerifyDigests(platform::Desktop& desktop, CryptProvider& provider,
                  const pipeline::Threads& threads, progress::Clock& clock) {
  // Shared with the workers and the progress window, which may outlive the
  // run in a read.
  const auto shared_list = std::make_shared<DigestList>();
  DigestList& list = *shared_list;
  DigestParser parser(list);
  ScanDigestFiles(desktop, WideString(u"*.md5"), CALG_MD5, parser);
  ScanDigestFiles(desktop, WideString(u"*.sha1"), CALG_SHA1, parser);
  if (list.Count() == 0) {
    desktop.ShowMessageBox(WideString(kNothingToVerify), WideString::Absent(),
                           MB_ICONERROR);
    return 0;
  }

  // Records are checked ahead on the workers and reported in list order.
  HashContext pass_context;
  pipeline::Pipeline<Outcome, HashContext> ahead(
      list.Count(), threads,
      [shared_list, &provider](std::size_t slot, HashContext& context,
                               Outcome* outcome,
                               const std::atomic<bool>* stop) {
        return CheckOne(provider, *shared_list->At(slot), context, outcome,
                        stop);
      },
      nullptr, pass_context);
  progress::Watch watch;
  watch.count = list.Count();
  watch.counters = ahead.SharedProgress();
  watch.name_at = [shared_list](std::size_t slot) {
    return shared_list->At(slot)->GetName();
  };
  watch.size_of = [shared_list](std::size_t slot,
                                platform::WorkerContext& context,
                                std::uint64_t* size) {
    const DigestEntry& entry = *shared_list->At(slot);
    return progress::SizeOfFile(entry.GetName(), context, size) ||
           (!entry.GetOtherName().IsAbsent() &&
            progress::SizeOfFile(entry.GetOtherName(), context, size));
  };
  Reported reported;
  progress::RunPass(desktop, clock, threads, WideString(kProgressTitle), watch,
                    [&](const std::atomic<bool>& cancel) {
                      ReportInTurn(ahead, list.Count(), pass_context, cancel,
                                   &reported);
                    });
  WideString& report = reported.text;
  bool failed = reported.failed;
  if (reported.hash_failed) {
    // No report: what was gathered so far is dropped with the run.
    ShowSystemError(desktop, reported.error);
    return 0;
  }
  // A cancelled run never reads as a success.
  if (reported.unchecked > 0) {
    report.Append(kCancelledBefore);
    report.Append(progress::Digits(reported.unchecked));
    report.Append(kCancelledAfter);
    report.Append(kLineEnd);
    failed = true;
  }
  if (report.IsEmpty()) return 0;
  const WideString caption(failed ? kFailedCaption : kSucceededCaption);
  report.Append(kLineEnd);
  report.Append(caption);
  desktop.ShowMessageBox(report, caption,
                         failed ? MB_ICONERROR : MB_ICONINFORMATION);
  return 0;
}

#include "verify/verify_digests.h"

#include <memory>
#include <mutex>
#include <utility>

#include "digest/digest_list.h"
#include "digest/digest_parser.h"
#include "hash/file_hash.h"
#include "platform/file.h"
#include "platform/last_error.h"
#include "progress/progress_texts.h"
#include "run/ordered_run.h"
#include "run/pass_run.h"
#include "verify/scan_digest_files.h"
#include "verify/verify_report.h"

namespace {

using verify::Reported;
using verify::ShowReport;

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
const char16_t kProgressTitle[] = u"ハッシュの検証";

// " - ", the longest result and the line end.
constexpr std::size_t kLongestLineRest =
    sizeof(kSeparator) / sizeof(char16_t) - 1 +
    sizeof(kUnreadable) / sizeof(char16_t) - 1 + 2;

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
  WideString shown;             // the reading the line names
  bool out_of_handles = false;  // an open found no descriptor free
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
  reading.check = entry.Matches(computed, size) ? Check::kOk : Check::kMismatch;
  return reading;
}

void Report(const Reading& reading, WideString&& name, Outcome* outcome) {
  outcome->check = reading.check;
  outcome->error = reading.error;
  outcome->shown = std::move(name);
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
  // Converted once here, on the thread that checks the record.
  WideString name = entry.GetName();
  const Reading first =
      CheckReading(provider, context, entry, name, ahead, outcome);
  if (context.Stopped() || first.check == Check::kHashFailed) {
    Report(first, std::move(name), outcome);
    return;
  }
  WideString other = entry.GetOtherName();
  if (other.IsAbsent()) {
    Report(first, std::move(name), outcome);
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
    Report(second, std::move(other), outcome);
  } else {
    Report(first, std::move(name), outcome);
  }
}

// One record's check, on a worker ahead of the pass or in the pass's turn.
// Ahead, a record whose file found no descriptor free is left to the pass.
pipeline::JobEnd CheckOne(CryptProvider& provider, const DigestEntry& entry,
                          HashContext& context, Outcome* outcome,
                          bool on_worker) {
  Ahead ahead;
  CheckEntry(provider, context, entry, on_worker ? &ahead : nullptr, outcome);
  if (!on_worker) return pipeline::JobEnd::kDone;
  if (context.Stopped()) return pipeline::JobEnd::kToThePass;
  return outcome->out_of_handles ? pipeline::JobEnd::kOutOfHandles
                                 : pipeline::JobEnd::kDone;
}

// One verification: the list's records, checked ahead and reported in
// order, shared with the pass's thread and the workers, which may outlive
// the call in a read.
struct Verification {
  Verification(std::shared_ptr<const DigestList> list_in,
               const pipeline::Threads& threads, CryptProvider& provider)
      : list(std::move(list_in)),
        ordered(
            list->Count(), threads,
            [list = list, &provider](std::size_t slot, HashContext& context,
                                     Outcome* outcome, bool on_worker) {
              return CheckOne(provider, *list->At(slot), context, outcome,
                              on_worker);
            },
            nullptr) {}

  const std::shared_ptr<const DigestList> list;
  run::OrderedRun<Outcome> ordered;
  run::SoFar<Reported> so_far;
};

// The pass: each record's line appended in list order, on the pass's
// thread.
void ReportInTurn(Verification& v) {
  const std::size_t count = v.list->Count();
  // The report is allocated once, never moved while it grows: the longest
  // line a record can give, and the closing lines.
  std::size_t units = 128;
  for (std::size_t slot = 0; slot < count; ++slot) {
    units += v.list->At(slot)->NameBytes() + kLongestLineRest;
  }
  v.so_far.Add([&](Reported& r) { r.text.Reserve(units); });
  for (std::size_t slot = 0; slot < count; ++slot) {
    const Outcome* outcome = v.ordered.Take(slot);
    if (outcome == nullptr) break;  // stopped: the record in hand is not
    const Check check = outcome->check;
    if (check == Check::kHashFailed) {
      v.so_far.Add([&](Reported& r) {
        r.hash_failed = true;
        r.error = outcome->error;
      });
      break;
    }
    // Appended in place: the report is the one copy of its lines.
    v.so_far.Add([&](Reported& r) {
      r.text.Append(outcome->shown);
      r.text.Append(kSeparator);
      r.text.Append(check == Check::kOk         ? kOk
                    : check == Check::kMismatch ? kMismatch
                                                : kUnreadable);
      r.text.Append(kLineEnd);
      r.failed = r.failed || check != Check::kOk;
      ++r.checked;
    });
  }
  // Nothing hashes behind the report.
  v.ordered.End();
}

// What the run's thread hands the desktop's: whether the lists read clean,
// and the verification of their records, once it starts.
struct Handed {
  std::mutex mutex;
  bool listed_clean = true;
  std::shared_ptr<Verification> verification;
};

// The run: the lists read, then their records checked.
void ReadAndCheck(platform::Desktop& desktop, CryptProvider& provider,
                  const pipeline::Threads& threads, run::Stage& stage,
                  Handed& handed) {
  stage.ReadLists();
  const auto shared_list = std::make_shared<DigestList>();
  DigestParser parser(*shared_list);
  // A list that could not be read or parsed whole is a failure already.
  const bool listed_clean = ScanDigestFiles(desktop, parser, stage);
  {
    const std::lock_guard<std::mutex> lock(handed.mutex);
    handed.listed_clean = listed_clean;
  }
  if (stage.Stopped() || shared_list->Count() == 0) return;
  const std::shared_ptr<const DigestList> list = shared_list;
  const auto verification =
      std::make_shared<Verification>(list, threads, provider);
  {
    const std::lock_guard<std::mutex> lock(handed.mutex);
    handed.verification = verification;
  }
  run::Watch watch;
  watch.count = list->Count();
  watch.unit = progress::Unit::kRecords;
  watch.counters = verification->ordered.SharedCounters();
  watch.name_at = [list](std::size_t slot) {
    return list->At(slot)->GetName();
  };
  watch.size_of = [list](std::size_t slot, std::uint64_t* size) {
    const DigestEntry& entry = *list->At(slot);
    return run::SizeOfFile(entry.GetName(), size) ||
           (!entry.GetOtherName().IsAbsent() &&
            run::SizeOfFile(entry.GetOtherName(), size));
  };
  stage.Hash(std::move(watch),
             [verification] { verification->ordered.Stop(); });
  ReportInTurn(*verification);
}

}  // namespace

int VerifyDigests(platform::Desktop& desktop, CryptProvider& provider,
                  const run::Settings& settings) {
  const pipeline::Threads threads =
      settings.threads ? *settings.threads : pipeline::HashThreads();
  progress::SteadyClock steady;
  progress::Clock& clock = settings.clock ? *settings.clock : steady;
  // Shared with the run's thread, which may outlive the call in a read.
  const auto stage = std::make_shared<run::Stage>();
  const auto handed = std::make_shared<Handed>();
  run::RunPass(desktop, clock, threads, WideString(kProgressTitle), stage,
               [stage, handed, threads, &provider](platform::Desktop& shown) {
                 ReadAndCheck(shown, provider, threads, *stage, *handed);
               });
  std::unique_lock<std::mutex> lock(handed->mutex);
  const std::shared_ptr<Verification> verification = handed->verification;
  const bool listed_clean = handed->listed_clean;
  lock.unlock();
  // Cancelled while the lists were read: no line, and the records read so
  // far are the ones not checked.
  const bool unread = verification == nullptr && stage->Stopped();
  if (verification == nullptr && !unread) {
    desktop.ShowMessageBox(WideString(kNothingToVerify), WideString::Absent(),
                           MB_ICONERROR);
    return 0;
  }
  ShowReport(desktop, unread ? Reported() : verification->so_far.Take(),
             unread ? stage->records.load() : verification->list->Count(),
             unread, listed_clean);
  return 0;
}

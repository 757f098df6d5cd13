#include "verify/verify_digests.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

#include "digest/digest_list.h"
#include "digest/digest_parser.h"
#include "platform/file.h"
#include "platform/last_error.h"
#include "progress/progress_texts.h"
#include "run/opened_readings.h"
#include "run/ordered_run.h"
#include "run/pass_run.h"
#include "verify/check_record.h"
#include "verify/scan_digest_files.h"
#include "verify/verify_report.h"

namespace {

using verify::Check;
using verify::Outcome;
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

// One verification: the list's records, checked ahead and reported in
// order, shared with the pass's thread and the workers, which may outlive
// the call in a read.
struct Verification {
  Verification(std::shared_ptr<const DigestList> list_in,
               const pipeline::Threads& threads, CryptProvider& provider_in,
               std::shared_ptr<run::Stop> stop)
      : list(std::move(list_in)),
        readings(std::make_shared<run::OpenedReadings>(list->Count())),
        // A share: a worker left in a read may outlive the run's own.
        provider(provider_in.Share()),
        ordered(
            list->Count(), threads,
            [list = list, readings = readings, provider = provider](
                std::size_t slot, HashContext& context, Outcome* outcome,
                bool on_worker) {
              return verify::CheckOne(*provider, *list->At(slot), context,
                                      readings->Mark(slot), outcome, on_worker);
            },
            nullptr, std::move(stop)) {}

  const std::shared_ptr<const DigestList> list;
  const std::shared_ptr<run::OpenedReadings> readings;
  const std::shared_ptr<CryptProvider> provider;
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
    // Checked in turn, the record may have found no descriptor free while
    // the workers held theirs: they let them go, and the pass checks it
    // again rather than blame an intact file.
    if (outcome != nullptr && outcome->out_of_handles &&
        v.ordered.FreeDescriptors()) {
      outcome = v.ordered.Retake(slot);
    }
    if (outcome == nullptr) break;  // stopped: the record in hand is not
    const Check check = outcome->check;
    // Still none free, with nothing more to let go: the run stops with the
    // system's message, as when a hash cannot be made.
    if (check == Check::kHashFailed || outcome->out_of_handles) {
      v.so_far.Add([&](Reported& r) {
        r.hash_failed = true;
        r.error =
            outcome->out_of_handles ? outcome->handles_error : outcome->error;
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
  Mutex mutex;
  bool listed_clean GUARDED_BY(mutex) = true;
  // Told already: the run ends there.
  bool out_of_handles GUARDED_BY(mutex) = false;
  std::shared_ptr<Verification> verification GUARDED_BY(mutex);
};

// The run: the lists read, then their records checked.
void ReadAndCheck(platform::Desktop& desktop, CryptProvider& provider,
                  const pipeline::Threads& threads, run::Stage& stage,
                  Handed& handed) {
  stage.ReadLists();
  const auto shared_list = std::make_shared<DigestList>();
  DigestParser parser(*shared_list);
  // A list that could not be read or parsed whole is a failure already.
  bool out_of_handles = false;
  const bool listed_clean =
      ScanDigestFiles(desktop, parser, stage, threads, &out_of_handles);
  {
    const Lock lock(handed.mutex);
    handed.listed_clean = listed_clean;
    handed.out_of_handles = out_of_handles;
  }
  if (out_of_handles || stage.Stopped() || shared_list->Count() == 0) return;
  const std::shared_ptr<const DigestList> list = shared_list;
  const auto verification = std::make_shared<Verification>(
      list, threads, provider, stage.SharedStop());
  {
    const Lock lock(handed.mutex);
    handed.verification = verification;
  }
  run::Watch watch;
  watch.count = list->Count();
  watch.unit = progress::Unit::kRecords;
  watch.counters = verification->ordered.SharedCounters();
  watch.name_at = [list, readings = verification->readings](std::size_t slot) {
    switch (readings->Which(slot)) {
      case verify::kCodePageReading:
        return list->At(slot)->GetName();
      case verify::kOtherReading:
        return list->At(slot)->GetOtherName();
      default:
        return WideString();
    }
  };
  watch.size_of = [list](std::size_t slot, std::uint64_t* size) {
    const DigestEntry& entry = *list->At(slot);
    return run::SizeOfFile(entry.GetName(), size) ||
           (!entry.GetOtherName().IsAbsent() &&
            run::SizeOfFile(entry.GetOtherName(), size));
  };
  stage.Hash(std::move(watch));
  ReportInTurn(*verification);
}

}  // namespace

int VerifyDigests(platform::Desktop& desktop, CryptProvider& provider,
                  const run::Settings& settings) {
  // A low soft limit (ulimit -Sn) would leave the run without descriptors
  // where the hard one has plenty: as many as creation asks for.
  platform::RaiseOpenFileLimit(8192);
  const pipeline::Threads threads =
      settings.threads ? *settings.threads : pipeline::HashThreads();
  progress::SteadyClock steady;
  progress::Clock& clock = settings.clock ? *settings.clock : steady;
  // Shared with the run's thread, which may outlive the call in a read.
  const auto stage = std::make_shared<run::Stage>();
  const auto handed = std::make_shared<Handed>();
  run::RunPass(desktop, clock, threads, WideString(kProgressTitle), stage,
               // A share: the pass may be left inside a call.
               [stage, handed, threads,
                provider = provider.Share()](platform::Desktop& shown) {
                 ReadAndCheck(shown, *provider, threads, *stage, *handed);
               });
  Lock lock(handed->mutex);
  const std::shared_ptr<Verification> verification = handed->verification;
  const bool listed_clean = handed->listed_clean;
  const bool out_of_handles = handed->out_of_handles;
  lock.Unlock();
  if (out_of_handles) return 0;
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

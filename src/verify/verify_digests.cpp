#include "verify/verify_digests.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

#include "desktop/show_system_error.h"
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

namespace {

using verify::Check;
using verify::Outcome;

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

// " - ", the longest result and the line end.
constexpr std::size_t kLongestLineRest =
    sizeof(kSeparator) / sizeof(char16_t) - 1 +
    sizeof(kUnreadable) / sizeof(char16_t) - 1 + 2;

// The report so far, as the pass leaves it.
struct Reported {
  WideString text;
  std::size_t checked = 0;  // records reported, in list order
  bool failed = false;
  bool hash_failed = false;  // no report: the error alone is shown
  platform::ErrorCode error = 0;
};

// One verification: the list's records, checked ahead and reported in
// order, shared with the pass's thread and the workers, which may outlive
// the call in a read.
struct Verification {
  Verification(std::shared_ptr<const DigestList> list_in,
               const pipeline::Threads& threads, CryptProvider& provider)
      : list(std::move(list_in)),
        readings(std::make_shared<run::OpenedReadings>(list->Count())),
        ordered(
            list->Count(), threads,
            [list = list, readings = readings, &provider](
                std::size_t slot, HashContext& context, Outcome* outcome,
                bool on_worker) {
              return verify::CheckOne(provider, *list->At(slot), context,
                                      readings->Mark(slot), outcome, on_worker);
            },
            nullptr) {}

  const std::shared_ptr<const DigestList> list;
  const std::shared_ptr<run::OpenedReadings> readings;
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

}  // namespace

int VerifyDigests(platform::Desktop& desktop, CryptProvider& provider,
                  const run::Settings& settings) {
  // Shared with the workers and the progress window, which may outlive the
  // run in a read.
  const auto shared_list = std::make_shared<DigestList>();
  DigestParser parser(*shared_list);
  // A list that could not be read or parsed whole is a failure already.
  bool listed_clean =
      ScanDigestFiles(desktop, WideString(u"*.md5"), CALG_MD5, parser);
  listed_clean =
      ScanDigestFiles(desktop, WideString(u"*.sha1"), CALG_SHA1, parser) &&
      listed_clean;
  const std::size_t count = shared_list->Count();
  if (count == 0) {
    desktop.ShowMessageBox(WideString(kNothingToVerify), WideString::Absent(),
                           MB_ICONERROR);
    return 0;
  }
  const pipeline::Threads threads =
      settings.threads ? *settings.threads : pipeline::HashThreads();
  const std::shared_ptr<const DigestList> list = shared_list;
  const auto verification =
      std::make_shared<Verification>(list, threads, provider);
  run::Watch watch;
  watch.count = count;
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
  progress::SteadyClock steady;
  progress::Clock& clock = settings.clock ? *settings.clock : steady;
  run::RunPass(
      desktop, clock, threads, WideString(kProgressTitle), watch,
      [verification] { ReportInTurn(*verification); },
      [verification] { verification->ordered.Stop(); });
  Reported reported = verification->so_far.Take();
  if (reported.hash_failed) {
    // No report: what was gathered so far is dropped with the run.
    ShowSystemError(desktop, reported.error);
    return 0;
  }
  WideString& report = reported.text;
  bool failed = reported.failed;
  // A cancelled run never reads as a success; it warns where nothing
  // before the cancel failed.
  const bool cancelled = reported.checked < count;
  if (cancelled) {
    report.Append(kCancelledBefore);
    report.Append(progress::Digits(count - reported.checked));
    report.Append(kCancelledAfter);
    report.Append(kLineEnd);
  }
  if (report.IsEmpty()) return 0;
  const WideString caption(failed || cancelled ? kFailedCaption
                                               : kSucceededCaption);
  report.Append(kLineEnd);
  report.Append(caption);
  const std::uint32_t icon = failed || (cancelled && !listed_clean)
                                 ? MB_ICONERROR
                             : cancelled ? MB_ICONWARNING
                                         : MB_ICONINFORMATION;
  desktop.ShowMessageBox(report, caption, icon);
  return 0;
}

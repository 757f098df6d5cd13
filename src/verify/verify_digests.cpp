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
#include "run/item_run.h"
#include "run/pass_run.h"
#include "verify/check_record.h"
#include "verify/scan_digest_files.h"
#include "verify/verify_report.h"

namespace verify {

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
const char16_t kProgressTitle[] = u"ハッシュの検証";

// " - ", the longest result and the line end.
constexpr std::size_t kLongestLineRest =
    sizeof(kSeparator) / sizeof(char16_t) - 1 +
    sizeof(kUnreadable) / sizeof(char16_t) - 1 + 2;

// One verification: the list's records, checked ahead and reported in
// order, shared with the pass's thread and the workers, which may outlive
// the call in a read.
struct Verification : run::ItemRun<Outcome, Reported> {
  Verification(std::shared_ptr<const digest::DigestList> list_in,
               platform::Listed listed, const pipeline::Threads& threads,
               hash::CryptProvider& provider_in,
               std::shared_ptr<common::Stop> stop)
      : ItemRun(
            list_in->Count(), threads, provider_in,
            [list = list_in, listed](
                hash::CryptProvider& provider, std::size_t slot,
                hash::HashContext& context, std::atomic<std::uint8_t>* mark,
                Outcome* outcome, bool on_worker) {
              return verify::CheckOne(provider, *list->At(slot), listed,
                                      context, mark, outcome, on_worker);
            },
            nullptr, std::move(stop)),
        list(std::move(list_in)) {}

  const std::shared_ptr<const digest::DigestList> list;
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
    // Checked in turn, the record may have found no descriptor free while
    // the workers held theirs: they let them go, and the pass checks it
    // again rather than blame an intact file.
    const Outcome* outcome = v.ordered.RetakeFreed(slot, v.ordered.Take(slot));
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
  bool listed_clean = true;
  bool out_of_handles = false;  // told already: the run ends there
  std::shared_ptr<Verification> verification;
};

// The run: the lists read, then their records checked.
void ReadAndCheck(desktop::Desktop& desktop, hash::CryptProvider& provider,
                  const pipeline::Threads& threads, run::Stage& stage,
                  run::HandOver<Handed>& handed) {
  stage.ReadLists();
  const auto shared_list = std::make_shared<digest::DigestList>();
  digest::DigestParser parser(*shared_list);
  // A list that could not be read or parsed whole is a failure already.
  bool out_of_handles = false;
  platform::Listed listed = platform::Listed::kNothing;
  const bool listed_clean = ScanDigestFiles(desktop, parser, stage, threads,
                                            &out_of_handles, &listed);
  handed.Give([&](Handed& h) {
    h.listed_clean = listed_clean;
    h.out_of_handles = out_of_handles;
  });
  if (out_of_handles || stage.Stopped() || shared_list->Count() == 0) return;
  const std::shared_ptr<const digest::DigestList> list = shared_list;
  const auto verification = std::make_shared<Verification>(
      list, listed, threads, provider, stage.SharedStop());
  handed.Give([&](Handed& h) { h.verification = verification; });
  verification->Watch(
      stage, progress::Unit::kRecords,
      [list](std::size_t slot, std::uint8_t reading) {
        return reading == kCodePageReading ? list->At(slot)->GetName()
                                           : list->At(slot)->GetOtherName();
      },
      [list](std::size_t slot, std::uint64_t* size) {
        const digest::DigestEntry& entry = *list->At(slot);
        return run::SizeOfFile(entry.GetName(), size) ||
               (!entry.GetOtherName().IsAbsent() &&
                run::SizeOfFile(entry.GetOtherName(), size));
      });
  ReportInTurn(*verification);
}

}  // namespace

int VerifyDigests(desktop::Desktop& desktop, hash::CryptProvider& provider,
                  const run::Settings& settings) {
  // A low soft limit (ulimit -Sn) would leave the run without descriptors
  // where the hard one has plenty: as many as creation asks for.
  platform::RaiseOpenFileLimit(8192);
  const run::RanHanding<Handed> ran = run::RunPassHanding<Handed>(
      desktop, provider, settings, common::WideString(kProgressTitle),
      ReadAndCheck);
  const std::shared_ptr<Verification>& verification = ran.handed.verification;
  if (ran.handed.out_of_handles) return 0;
  // Cancelled while the lists were read: no line, and the records read so
  // far are the ones not checked.
  const bool unread = verification == nullptr && ran.stage->Stopped();
  if (verification == nullptr && !unread) {
    desktop.ShowMessageBox(common::WideString(kNothingToVerify),
                           common::WideString::Absent(), desktop::MB_ICONERROR);
    return 0;
  }
  ShowReport(desktop, unread ? Reported() : verification->so_far.Take(),
             unread ? ran.stage->records.load() : verification->list->Count(),
             unread, ran.handed.listed_clean);
  return 0;
}

}  // namespace verify

#include "verify/verify_report.h"

#include "desktop/show_system_error.h"
#include "progress/progress_texts.h"

namespace verify {
namespace {

const char16_t kLineEnd[] = u"\r\n";
const char16_t kFailedCaption[] = u"検証に失敗しました。";
const char16_t kSucceededCaption[] = u"検証に成功しました。";
const char16_t kCancelledBefore[] = u"検証を中止しました。残りの";
const char16_t kCancelledAfter[] = u"件は検証していません。";
// Cancelled while the lists were read: how many records they hold is not
// known, and none was checked.
const char16_t kCancelledUnread[] =
    u"検証を中止しました。1件も検証していません。";

}  // namespace

void ShowReport(desktop::Desktop& desktop, Reported reported, std::size_t count,
                bool unread, bool listed_clean) {
  if (reported.hash_failed) {
    // No report: what was gathered so far is dropped with the run.
    desktop::ShowSystemError(desktop, reported.error);
    return;
  }
  common::WideString& report = reported.text;
  bool failed = reported.failed;
  // A cancelled run never reads as a success; it warns where nothing
  // before the cancel failed.
  const bool cancelled = unread || reported.checked < count;
  if (unread) {
    report.Append(kCancelledUnread);
    report.Append(kLineEnd);
  } else if (cancelled) {
    report.Append(kCancelledBefore);
    report.Append(progress::Count(count - reported.checked));
    report.Append(kCancelledAfter);
    report.Append(kLineEnd);
  }
  if (report.IsEmpty()) return;
  const common::WideString caption(failed || cancelled ? kFailedCaption
                                                       : kSucceededCaption);
  report.Append(kLineEnd);
  report.Append(caption);
  const std::uint32_t icon = failed || (cancelled && !listed_clean)
                                 ? desktop::MB_ICONERROR
                             : cancelled ? desktop::MB_ICONWARNING
                                         : desktop::MB_ICONINFORMATION;
  desktop.ShowMessageBox(report, caption, icon);
}

}  // namespace verify

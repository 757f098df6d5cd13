#include "verify/check_record.h"

#include <utility>

#include "hash/file_hash.h"
#include "platform/file.h"

namespace verify {
namespace {

bool IsNotFound(platform::ErrorCode error) {
  return error == platform::kErrorFileNotFound ||
         error == platform::kErrorPathNotFound ||
         error == platform::kErrorInvalidName;
}

// One reading of a record's name, hashed and compared with its digest.
struct Reading {
  Check check = Check::kUnreadable;
  platform::ErrorCode error = 0;
  hash::Opened opened;
};

Reading CheckReading(hash::CryptProvider& provider, hash::HashContext& context,
                     const digest::DigestEntry& entry,
                     const common::WideString& name, hash::Ahead* ahead,
                     bool identify, const hash::Opened& asked, std::uint8_t as,
                     Outcome* outcome) {
  Reading reading;
  reading.opened = asked;
  reading.opened.identify = identify;
  reading.opened.as = as;
  hash::FileHash hash(provider, context);
  if (!hash.Create(entry.GetAlgorithm())) {
    reading.check = Check::kHashFailed;
    reading.error = platform::GetLastErrorCode();
    return reading;
  }
  if (!hash::HashFile(name, hash, ahead, &reading.opened)) {
    reading.error = platform::GetLastErrorCode();
    if (platform::IsOutOfHandles(reading.error)) {
      outcome->out_of_handles = true;
      outcome->handles_error = reading.error;
    }
    return reading;
  }
  std::uint8_t computed[hash::kMaxDigestSize];
  const std::uint32_t size = hash.GetSize();
  if (!hash.GetValue(computed, size)) {
    reading.check = Check::kHashFailed;
    reading.error = platform::GetLastErrorCode();
    return reading;
  }
  reading.check = entry.Matches(computed, size) ? Check::kOk : Check::kMismatch;
  return reading;
}

// The window names, from now on, the reading the line names where it
// opened.
void Report(const Reading& reading, common::WideString&& name,
            Outcome* outcome) {
  if (reading.opened.opened && reading.opened.tell != nullptr) {
    reading.opened.tell->store(reading.opened.as, std::memory_order_relaxed);
  }
  outcome->check = reading.check;
  outcome->error = reading.error;
  outcome->shown = std::move(name);
}

// Whether a file, not a folder, stands under the reading, opened or not.
bool Exists(const Reading& reading, const common::WideString& name) {
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
void CheckEntry(hash::CryptProvider& provider, hash::HashContext& context,
                const digest::DigestEntry& entry, hash::Ahead* ahead,
                const hash::Opened& asked, Outcome* outcome) {
  // Converted once here, on the thread that checks the record. Which file
  // a reading opened is asked only where there are two readings.
  common::WideString name = entry.GetName();
  common::WideString other = entry.GetOtherName();
  const bool two = !other.IsAbsent();
  const Reading first = CheckReading(provider, context, entry, name, ahead, two,
                                     asked, kCodePageReading, outcome);
  if (context.Stopped() || first.check == Check::kHashFailed || !two) {
    Report(first, std::move(name), outcome);
    return;
  }
  const Reading second = CheckReading(provider, context, entry, other, ahead,
                                      two, asked, kOtherReading, outcome);
  const bool first_exists = Exists(first, name);
  const bool second_exists = Exists(second, other);
  const bool one_file = first.opened.identified && second.opened.identified &&
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

}  // namespace

pipeline::JobEnd CheckOne(hash::CryptProvider& provider,
                          const digest::DigestEntry& entry,
                          platform::Listed listed, hash::HashContext& context,
                          std::atomic<std::uint8_t>* mark, Outcome* outcome,
                          bool on_worker) {
  hash::Ahead ahead;
  hash::Opened asked;
  asked.tell = mark;
  asked.listed = listed;
  CheckEntry(provider, context, entry, on_worker ? &ahead : nullptr, asked,
             outcome);
  return pipeline::EndOfJob(on_worker, context.Stopped(),
                            outcome->out_of_handles);
}

}  // namespace verify

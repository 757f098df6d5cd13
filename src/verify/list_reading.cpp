#include "verify/list_reading.h"

#include <algorithm>

#include "common/job_context.h"
#include "digest/list_feed.h"
#include "platform/file.h"
#include "platform/last_error.h"

namespace verify {

namespace {

ListEnd Unreadable(platform::ErrorCode error) {
  ListEnd end;
  end.kind = ListEnd::kUnreadable;
  end.error = error;
  end.out_of_handles = platform::IsOutOfHandles(error);
  return end;
}

// The list's bytes up to its size at open, or false where a read failed.
bool ReadWhole(platform::InputFile& file, hash::HashContext& context,
               std::vector<char>* bytes) {
  const auto size = static_cast<std::size_t>(file.SizeAtOpen());
  bytes->resize(size);
  std::size_t have = 0;
  while (have < size) {
    std::uint32_t read = 0;
    const common::BlockingCall call(context);
    if (!file.Read(bytes->data() + have,
                   static_cast<std::uint32_t>(size - have), &read)) {
      return false;
    }
    if (read == 0) break;
    have += read;
  }
  bytes->resize(have);
  return true;
}

}  // namespace

pipeline::JobEnd ReadListAhead(const common::WideString& name,
                               platform::Listed listed,
                               hash::HashContext& context, ReadAhead* out,
                               bool ahead) {
  out->read = false;
  out->bytes.clear();
  if (!ahead) return pipeline::JobEnd::kDone;
  platform::InputFile file;
  bool opened = false;
  {
    const common::BlockingCall call(context);
    opened = file.Open(name, context.Platform(), listed);
  }
  if (!opened) {
    return platform::IsOutOfHandles(platform::GetLastErrorCode())
               ? pipeline::JobEnd::kOutOfHandles
               : pipeline::JobEnd::kToThePass;
  }
  if (file.SizeAtOpen() > kAheadSize || context.Stopped() ||
      !ReadWhole(file, context, &out->bytes)) {
    return pipeline::JobEnd::kToThePass;
  }
  out->read = true;
  return pipeline::JobEnd::kDone;
}

ListEnd ParseReadAhead(ReadAhead& read, common::AlgorithmId algorithm,
                       digest::DigestParser& parser, run::Stage& stage) {
  digest::ListFeed feed(parser, algorithm);
  stage.list_bytes.fetch_add(read.bytes.size());
  const bool well_formed =
      (read.bytes.empty() || feed.Feed(read.bytes.data(), read.bytes.size())) &&
      feed.Finish();
  stage.records.store(parser.Mark());
  std::vector<char>().swap(read.bytes);
  ListEnd end;
  if (!well_formed) end.kind = ListEnd::kMalformed;
  return end;
}

ListEnd ReadList(const common::WideString& name, platform::Listed listed,
                 common::AlgorithmId algorithm, digest::DigestParser& parser,
                 std::vector<char>& piece, platform::WorkerContext& context,
                 run::Stage& stage,
                 const std::function<bool()>& free_descriptors) {
  platform::InputFile file;
  bool opened = file.Open(name, context, listed);
  if (!opened && platform::IsOutOfHandles(platform::GetLastErrorCode()) &&
      free_descriptors()) {
    opened = file.Open(name, context, listed);
  }
  if (!opened) return Unreadable(platform::GetLastErrorCode());
  const std::size_t mark = parser.Mark();
  digest::ListFeed feed(parser, algorithm);
  ListEnd end;
  for (std::uint64_t left = file.SizeAtOpen();;) {
    std::uint32_t read = 0;
    const auto ask =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(left, kPieceSize));
    if (ask > 0 && !file.Read(piece.data(), ask, &read)) {
      const platform::ErrorCode error = platform::GetLastErrorCode();
      parser.DropFrom(mark);
      return Unreadable(error);
    }
    if (read == 0) {
      if (!feed.Finish()) end.kind = ListEnd::kMalformed;
      break;
    }
    left -= read;
    stage.list_bytes.fetch_add(read);
    const bool fed = feed.Feed(piece.data(), read);
    stage.records.store(parser.Mark());
    if (!fed) {
      end.kind = ListEnd::kMalformed;  // the rest is never read
      break;
    }
    // A cancel ends the reading; the records read so far are counted.
    if (stage.Stopped()) {
      end.kind = ListEnd::kStopped;
      return end;
    }
  }
  stage.records.store(parser.Mark());
  return end;
}

}  // namespace verify

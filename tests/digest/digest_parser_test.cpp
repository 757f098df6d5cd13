#include "digest/digest_parser.h"

#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "common/wide_string.h"
#include "digest/digest_record.h"
#include "digest/hex_to_bytes.h"
#include "digest/list_feed.h"

namespace {

const std::string kMd5 = "d41d8cd98f00b204e9800998ecf8427e";
const std::string kSha1 = "da39a3ee5e6b4b0d3255bfef95601890afd80709";

struct Parsed {
  bool ok;
  std::vector<std::unique_ptr<digest::DigestEntry>> entries;
};

// A digest file's bytes, taken as the scan takes them.
Parsed ParseText(const std::string& text,
                 common::AlgorithmId algorithm = common::CALG_MD5) {
  digest::DigestList list;
  digest::DigestParser parser(list);
  digest::ListFeed whole(parser, algorithm);
  Parsed parsed{whole.Feed(text.data(), text.size()) && whole.Finish(), {}};
  // The same bytes a piece at a time, as a file is read, make the same list,
  // whether a piece ends inside a digest or a name or not.
  for (const std::size_t piece : {std::size_t{1}, std::size_t{7}}) {
    digest::DigestList list_by_pieces;
    digest::DigestParser by_pieces(list_by_pieces);
    digest::ListFeed feed(by_pieces, algorithm);
    bool ok = true;
    for (std::size_t i = 0; i < text.size() && ok; i += piece) {
      ok = feed.Feed(&text[i], std::min(piece, text.size() - i));
    }
    EXPECT_EQ(ok && feed.Finish(), parsed.ok) << text;
    EXPECT_EQ(list_by_pieces.Count(), list.Count()) << text;
    for (std::size_t i = 0; i < std::min(list.Count(), list_by_pieces.Count());
         ++i) {
      EXPECT_EQ(list_by_pieces.At(i)->GetName(), list.At(i)->GetName());
      EXPECT_EQ(list_by_pieces.At(i)->GetDigest(), list.At(i)->GetDigest());
    }
  }
  for (std::size_t i = 0; i < list.Count(); ++i) {
    parsed.entries.push_back(
        std::make_unique<digest::DigestEntry>(*list.At(i)));
  }
  return parsed;
}

std::u16string Ascii(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

// A record keeps its digest decoded, as HexToBytes decodes its text.
std::vector<std::uint8_t> Decoded(const std::u16string& text) {
  std::uint8_t bytes[digest::kMaxListedDigest];
  return std::vector<std::uint8_t>(
      bytes, bytes + digest::HexToBytes(text.c_str(), bytes,
                                        digest::kMaxListedDigest));
}

// ASCII text as Notepad saves it in "Unicode": a mark, then UTF-16LE.
std::string Utf16Le(const std::string& text) {
  std::string bytes = "\xFF\xFE";
  for (const char c : text) bytes.append({c, '\0'});
  return bytes;
}

TEST(DigestParserTest, TextWithoutRecords) {
  for (const char* text : {"", " ", "\r\n\r\n", " \t\n \r "}) {
    const Parsed parsed = ParseText(text);
    EXPECT_TRUE(parsed.ok) << text;
    EXPECT_TRUE(parsed.entries.empty()) << text;
  }
}

TEST(DigestParserTest, ARecordNeedsABlankAndMoreAfterItsDigest) {
  EXPECT_FALSE(ParseText(kMd5).ok);
  EXPECT_FALSE(ParseText(kMd5 + " \r\n\n\t").ok);
  EXPECT_TRUE(ParseText(kMd5 + " x").ok);
}

TEST(DigestParserTest, WrittenRecordParsesBack) {
  const std::uint8_t digest[16] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00,
                                   0xb2, 0x04, 0xe9, 0x80, 0x09, 0x98,
                                   0xec, 0xf8, 0x42, 0x7e};
  std::string record;
  ASSERT_TRUE(digest::FormatDigestRecord(
      digest, 16, common::WideString(u"a b.txt"), &record));
  EXPECT_EQ(record, kMd5 + " *a b.txt\n");

  const Parsed parsed = ParseText(record);
  ASSERT_TRUE(parsed.ok);
  ASSERT_EQ(parsed.entries.size(), 1u);
  EXPECT_EQ(parsed.entries[0]->GetDigest(), Decoded(Ascii(kMd5)));
  EXPECT_EQ(parsed.entries[0]->GetName().View(), u"a b.txt");
  EXPECT_EQ(parsed.entries[0]->GetStar(), 1);
  EXPECT_EQ(parsed.entries[0]->GetAlgorithm(), common::CALG_MD5);
}

TEST(DigestParserTest, SeveralRecordsBlankLinesAndCrLf) {
  const Parsed parsed =
      ParseText("\r\n" + kSha1 + " *one\r\n\r\n  \r\n" + kSha1 + "  two\r\n",
                common::CALG_SHA1);
  ASSERT_TRUE(parsed.ok);
  ASSERT_EQ(parsed.entries.size(), 2u);
  EXPECT_EQ(parsed.entries[0]->GetName().View(), u"one");
  EXPECT_EQ(parsed.entries[0]->GetStar(), 1);
  EXPECT_EQ(parsed.entries[1]->GetName().View(), u"two");
  EXPECT_EQ(parsed.entries[1]->GetStar(), 0);
  EXPECT_EQ(parsed.entries[1]->GetAlgorithm(), common::CALG_SHA1);
}

TEST(DigestParserTest, WhatBelongsToTheName) {
  struct Case {
    std::string text;
    std::u16string digest;
    std::u16string name;
    bool name_absent;
    int star;
  };
  const Case cases[] = {
      // An asterisk then a space: the space starts the name.
      {kMd5 + " * spaced\n", Ascii(kMd5), u" spaced", false, 1},
      // Glued to the digest, the asterisk is part of the token.
      {"00*1 name\n", u"00*1", u"name", false, 0},
      // The name may stand on a later line, a star there still counting.
      {kMd5 + "\n\n  *later name\n", Ascii(kMd5), u"later name", false, 1},
      {kMd5 + " *\n", Ascii(kMd5), u"", true, 1},
      {kMd5 + " *", Ascii(kMd5), u"", true, 1},
      {kMd5 + " trailing  \t\n", Ascii(kMd5), u"trailing  \t", false, 0},
      {kMd5 + "00 long\n", Ascii(kMd5 + "00"), u"long", false, 0},
      // What is kept of a long digest, and of a name past the longest path.
      {std::string(130, 'a') + " *n\n", Ascii(std::string(130, 'a')), u"n",
       false, 1},
      {kMd5 + " *" + std::string(100000, 'n') + "\n", Ascii(kMd5),
       std::u16string(32767 * 3 + 1, u'n'), false, 1},
      // Notepad's marks: UTF-8, and UTF-16LE ("Unicode").
      {"\xEF\xBB\xBF" + kMd5 + " *x\r\n", Ascii(kMd5), u"x", false, 1},
      {Utf16Le(kMd5 + " *x\r\n"), Ascii(kMd5), u"x", false, 1},
  };
  for (const Case& c : cases) {
    const Parsed parsed = ParseText(c.text);
    ASSERT_TRUE(parsed.ok) << c.text;
    ASSERT_EQ(parsed.entries.size(), 1u) << c.text;
    const digest::DigestEntry& entry = *parsed.entries[0];
    EXPECT_EQ(entry.GetDigest(), Decoded(c.digest)) << c.text;
    EXPECT_EQ(entry.GetName().View(), c.name) << c.text;
    EXPECT_EQ(entry.GetName().IsAbsent(), c.name_absent) << c.text;
    EXPECT_EQ(entry.GetStar(), c.star) << c.text;
  }
}

// A zero byte, a UTF-16LE file's odd last byte or an odd token makes the
// file malformed where it stands, none after is read, the records before
// stay. The text ends at a zero: a name that runs up to it is kept, a record
// cut before its name or in its digest is dropped.
TEST(DigestParserTest, OddTokensAndZeroBytesAreMalformedEarlierRecordsStay) {
  const std::string zero(1, '\0');
  for (const std::string& bad :
       {std::string("abc *second\n"), kMd5 + " *" + zero + "x\n",
        kMd5 + zero + " *x\n", kMd5.substr(2) + zero + "00 *x\n", zero + "\n",
        kMd5 + " *cut" + zero + "rest\n",
        Utf16Le(kMd5 + " *cut") + std::string(2, '\0') + "r\0\n\0"}) {
    const bool utf16 = bad[0] == '\xFF';
    const bool kept = utf16 || bad.find("cut") != std::string::npos;
    const Parsed parsed =
        ParseText((utf16 ? "" : kMd5 + " *first\n") + bad + kMd5 + " *third\n");
    EXPECT_FALSE(parsed.ok) << bad;
    std::vector<std::u16string> names;
    for (const auto& entry : parsed.entries) {
      names.emplace_back(entry->GetName().View());
    }
    std::vector<std::u16string> expected;
    if (!utf16) expected.emplace_back(u"first");
    if (kept) expected.emplace_back(u"cut");
    EXPECT_EQ(names, expected) << bad;
  }
  EXPECT_FALSE(ParseText(Utf16Le(kMd5 + " *x\n") + "\n").ok);
  EXPECT_FALSE(ParseText(kMd5.substr(1) + " *x\n").ok);
}

// A list whose reading failed gives its records up, and the next list's
// take their places whole, past the blocks records are kept in too.
TEST(DigestParserTest, DroppedRecordsLeaveNothingToTheNextList) {
  digest::DigestList list;
  digest::DigestParser parser(list);
  std::string first;
  for (int i = 0; i < 4096; ++i) first += kMd5 + " *k\n";
  digest::ListFeed kept(parser, common::CALG_MD5);
  ASSERT_TRUE(kept.Feed(first.data(), first.size()) && kept.Finish());
  const std::size_t mark = parser.Mark();
  const std::string failed =
      "\xEF\xBB\xBF" + std::string(40, 'f') + " *\xC3\xA9\n";
  digest::ListFeed dropped(parser, common::CALG_SHA1);
  ASSERT_TRUE(dropped.Feed(failed.data(), failed.size()));
  parser.DropFrom(mark);
  const std::string next = kMd5 + " n\n";
  digest::ListFeed after(parser, common::CALG_MD5);
  ASSERT_TRUE(after.Feed(next.data(), next.size()) && after.Finish());
  ASSERT_EQ(list.Count(), 4097u);
  const digest::DigestEntry& entry = *list.At(4096);
  EXPECT_EQ(entry.GetName().View(), u"n");
  EXPECT_TRUE(entry.GetOtherName().IsAbsent());
  EXPECT_EQ(entry.GetStar(), 0);
  EXPECT_EQ(entry.GetAlgorithm(), common::CALG_MD5);
  EXPECT_EQ(entry.GetDigest(), Decoded(Ascii(kMd5)));
  EXPECT_EQ(list.At(4095)->GetName().View(), u"k");
}

// A million records of short names must verify in 200 MB, the report's
// line and the runtime included: a record's own share is 100 bytes.
TEST(DigestParserTest, AHundredThousandRecordsFitTheirShareOfMemory) {
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__)
  constexpr std::size_t kRecords = 100000;
  constexpr std::size_t kShare = 100;
  std::string text;
  for (std::size_t i = 0; i < kRecords; ++i) {
    const std::string digits = std::to_string(1000000 + i);
    text += kMd5 + " *m" + digits.substr(1) + ".dat\n";
  }
  // Blocks of records may be mapped on their own: counted too.
  const auto in_use = [] { return mallinfo2().uordblks + mallinfo2().hblkhd; };
  const std::size_t before = in_use();
  digest::DigestList list;
  digest::DigestParser parser(list);
  digest::ListFeed feed(parser, common::CALG_MD5);
  ASSERT_TRUE(feed.Feed(text.data(), text.size()) && feed.Finish());
  ASSERT_EQ(list.Count(), kRecords);
  const std::size_t used = in_use() - before;
  EXPECT_LE(used, 2 * kShare * kRecords)
      << used / kRecords << " bytes a record";
#else
  GTEST_SKIP() << "the heap is measured with glibc's own allocator";
#endif
}

// Two million records of 32-character names, read into one list within a
// 32-bit program's address space: the program is large-address-aware, and
// so is this suite. Where pointers are wider nothing is at stake.
TEST(DigestParserTest, TwoMillionRecordsFitA32BitAddressSpace) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "a 32-bit program's limit";
  constexpr std::size_t kRecords = 2000000;
  digest::DigestList list;
  digest::DigestParser parser(list);
  digest::ListFeed feed(parser, common::CALG_MD5);
  std::string text;
  for (std::size_t i = 0; i < kRecords; ++i) {
    const std::string digits = std::to_string(100000000 + i);
    text += kMd5 + " *missing-record-file-" + digits.substr(1) + ".dat\n";
    if (text.size() > (1u << 20) || i + 1 == kRecords) {
      ASSERT_TRUE(feed.Feed(text.data(), text.size())) << i;
      text.clear();
    }
  }
  ASSERT_TRUE(feed.Finish());
  ASSERT_EQ(list.Count(), kRecords);
  EXPECT_EQ(list.At(kRecords - 1)->GetName().View(),
            u"missing-record-file-01999999.dat");
}

}  // namespace

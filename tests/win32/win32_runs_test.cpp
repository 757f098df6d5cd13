// Creation and verification over what only Windows has: sharing modes,
// device names, read-only files and the ANSI code pages.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hash/file_hash.h"
#include "platform/system_error.h"
#include "platform/win32/code_page_win32.h"
#include "support/run_test.h"
#include "support/texts.h"
#include "support/utf.h"

#include <windows.h>

namespace {

class Win32RunsTest : public RunTest {
 protected:
  std::u16string TextOf(DWORD code) {
    common::WideString text;
    EXPECT_TRUE(platform::SystemErrorText(code, &text));
    return std::u16string(text.View());
  }
};

TEST_F(Win32RunsTest, AFileHeldOpenForWritingStopsCreation) {
  WriteBytes("held.txt", "x");
  const HANDLE held = CreateFileW(L"held.txt", GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  Create();
  CloseHandle(held);
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].text, TextOf(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(desktop_.boxes[0].style, MB_ICONERROR);
  EXPECT_FALSE(Exists("held.txt.md5"));
}

// A name the code page cannot hold is written in UTF-8 and verifies; where
// those bytes, read in the code page, name another file, the run stops.
TEST_F(Win32RunsTest, NamesOutsideTheCodePageAreWrittenInUtf8) {
  if (GetACP() != 1252) GTEST_SKIP() << "expects code page 1252";
  const std::string name = "\xE6\x97\xA5\xE6\x9C\xAC.txt";  // 日本.txt
  WriteBytes(name, "");
  Create();
  EXPECT_EQ(ReadBytes(name + ".md5"),
            std::string(kEmptyMd5) + " *" + name + "\n");
  Verify();
  EXPECT_EQ(LastBox().caption, kSucceededCaptionText);

  // "æ—¥æœ¬.txt": the same bytes read in code page 1252.
  WriteBytes("\xC3\xA6\xE2\x80\x94\xC2\xA5\xC3\xA6\xC5\x93\xC2\xAC.txt", "");
  DeleteFileW(L"\u65E5\u672C.txt.md5");
  desktop_.boxes.clear();
  Create();
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].text,
            u"\u65E5\u672C.txt - " + TextOf(ERROR_FILE_EXISTS));
}

// Nor do the bytes written in the code page, read as UTF-8, name another
// file: such a name goes in UTF-8 where those bytes name nothing in the code
// page, else it is refused. A folder under either reading does not count.
TEST_F(Win32RunsTest, NoWrittenNameReadsAsAnotherFile) {
  const std::string e_acute = "\xC3\xA9.txt";  // é.txt
  const std::u16string decoys[] = {u"\u00C3\u00A9.txt", u"\uFF83\uFF69.txt"};
  for (const std::string& name : {e_acute, U8(decoys[0]), U8(decoys[1])}) {
    WriteBytes(name, "x");
  }
  std::filesystem::create_directory(PathOf(U8(u"caf\uFF83\uFF69.txt")));
  std::string bytes;
  using platform::win32::WideToAnsiIn;
  ASSERT_TRUE(WideToAnsiIn(1252, common::WideString(decoys[0]), &bytes));
  EXPECT_EQ(bytes, U8(decoys[0]));
  ASSERT_TRUE(WideToAnsiIn(1252, common::WideString(U16(e_acute)), &bytes));
  EXPECT_EQ(bytes, "\xE9.txt");
  ASSERT_TRUE(WideToAnsiIn(932, common::WideString(decoys[1]), &bytes));
  EXPECT_EQ(bytes, U8(decoys[1]));
  EXPECT_FALSE(WideToAnsiIn(932, common::WideString(U16(e_acute)), &bytes));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  ASSERT_TRUE(WideToAnsiIn(932, common::WideString(u"caf\u00E9.txt"), &bytes));
  EXPECT_EQ(bytes, "caf" + e_acute);
}

// A record from elsewhere whose two readings name two files: both weigh the
// same, and the one that stands but cannot be read fails the line, named.
TEST_F(Win32RunsTest, AReadingThatCannotBeReadFailsTheLine) {
  if (GetACP() == CP_UTF8) GTEST_SKIP() << "one reading only";
  const std::string utf8 = "\xC3\xA9.txt";  // é.txt; Ã©.txt in 1252
  wchar_t read[16];
  const int units = MultiByteToWideChar(
      CP_ACP, 0, utf8.data(), static_cast<int>(utf8.size()), read, 16);
  const std::u16string readings[] = {
      std::u16string(reinterpret_cast<char16_t*>(read), units), U16(utf8)};
  const std::string x_md5 = "9dd4e461268c8034f5c8564e155c67a6";
  WriteBytes("list.md5", x_md5 + " *" + utf8 + "\n");
  for (const std::u16string& name : readings) WriteBytes(U8(name), "x");
  for (const std::u16string& locked : readings) {
    const HANDLE held =
        CreateFileW(reinterpret_cast<const wchar_t*>(locked.c_str()),
                    GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    desktop_.boxes.clear();
    Verify();
    CloseHandle(held);
    EXPECT_EQ(LastText(), locked + u" - " + kUnreadableText + u"\r\n\r\n" +
                              kFailedCaptionText);
  }
  desktop_.boxes.clear();
  Verify();
  EXPECT_EQ(LastBox().caption, kSucceededCaptionText);
}

// Each code page reads back the names it writes, 65001 (which Wine cannot
// be set to) with no second reading.
TEST(CodePageTest, EveryCodePageReadsBackTheNamesItWrites) {
  for (const unsigned page : {932u, 1252u, unsigned{CP_UTF8}}) {
    for (const char* name : {"日本.txt", "café.txt", "\U0001F600.txt"}) {
      std::string bytes;
      ASSERT_TRUE(platform::win32::WideToAnsiIn(
          page, common::WideString(U16(name)), &bytes));
      const std::u16string read(
          platform::win32::AnsiToWideIn(page, bytes.data(), bytes.size())
              .View());
      const common::WideString other =
          platform::win32::OtherReadingIn(page, bytes.data(), bytes.size());
      EXPECT_TRUE(read == U16(name) || other.View() == U16(name)) << page;
      EXPECT_TRUE(page != CP_UTF8 || (bytes == name && other.IsAbsent()));
    }
  }
}

TEST_F(Win32RunsTest, DeviceNamesAreNotHashed) {
  for (const char16_t* name : {u"CON", u"NUL", u"\\\\.\\pipe\\nothing"}) {
    hash::FileHash hash(provider_);
    ASSERT_TRUE(hash.Create(common::CALG_MD5));
    EXPECT_FALSE(hash::HashFile(common::WideString(name), hash)) << name[0];
  }
  WriteBytes("a.md5", std::string(kEmptyMd5) + " *CON\n");
  Verify();
  EXPECT_EQ(LastText(), u"CON - " + std::u16string(kUnreadableText) +
                            u"\r\n\r\n" + kFailedCaptionText);
}

// A killed run's temporary file (a cut record) goes with the next creation;
// one a live run holds open (without sharing), a folder of that form and a
// user's file of that form stay, the last hashed as any other.
TEST_F(Win32RunsTest, OnlyADeadRunsTemporaryFilesAreRemoved) {
  WriteBytes(".~digestbox-1-0.tmp", "0123456789abcdef0123456789abcdef *vic");
  WriteBytes(".~digestbox-1-3.tmp", "a user's file of that name");
  WriteBytes(".~digestbox-1-1.tmp", "a live run's");
  CreateDirectoryW(L".~digestbox-1-2.tmp", nullptr);
  const HANDLE held =
      CreateFileW(L".~digestbox-1-1.tmp", GENERIC_WRITE | DELETE, 0, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  Create();
  CloseHandle(held);
  EXPECT_EQ(LastText(), kDoneText);
  EXPECT_FALSE(Exists(".~digestbox-1-0.tmp"));
  EXPECT_EQ(ReadBytes(".~digestbox-1-1.tmp"), "a live run's");
  EXPECT_NE(GetFileAttributesW(L".~digestbox-1-2.tmp"),
            INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(Exists(".~digestbox-1-3.tmp.md5"));
}

TEST_F(Win32RunsTest, ADigestFileReplacesAHardLinkAtItsNameNotItsTarget) {
  ASSERT_TRUE(CreateDirectoryW(L"keep", nullptr));
  WriteBytes("keep/shared", "shared");
  ASSERT_TRUE(CreateHardLinkW(L"c.md5", L"keep\\shared", nullptr));
  WriteBytes("c", "");
  Create();
  EXPECT_EQ(LastText(), kDoneText);
  EXPECT_EQ(ReadBytes("keep/shared"), "shared");
  EXPECT_EQ(ReadBytes("c.md5"), std::string(kEmptyMd5) + " *c\n");
}

// A digest file that could not be written in place before (read-only, or
// held open by another process) still stops the run with the same message,
// and stays as it was; no temporary file is left, even for a moment.
TEST_F(Win32RunsTest, ADigestFileThatCannotBeReplacedStopsCreationIntact) {
  WriteBytes("a", "");
  WriteBytes("a.md5", "old\n");
  ASSERT_TRUE(SetFileAttributesW(L"a.md5", FILE_ATTRIBUTE_READONLY));
  // What opening it for writing gives, creation gives: Windows refuses;
  // Wine run as root lets root write, as before.
  const HANDLE probe = CreateFileW(L"a.md5", GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
  const DWORD refused = probe == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
  Create();
  ASSERT_FALSE(desktop_.boxes.empty());
  if (refused != 0) {
    EXPECT_EQ(LastText(), TextOf(refused));
    EXPECT_EQ(ReadBytes("a.md5"), "old\n");
  } else {
    EXPECT_EQ(LastText(), kDoneText);
    WriteBytes("a.md5.new", "old\n");
    ASSERT_TRUE(SetFileAttributesW(L"a.md5", FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(MoveFileExW(L"a.md5.new", L"a.md5", MOVEFILE_REPLACE_EXISTING));
  }
  ASSERT_TRUE(SetFileAttributesW(L"a.md5", FILE_ATTRIBUTE_NORMAL));
  const HANDLE held = CreateFileW(L"a.md5", GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  desktop_.boxes.clear();
  Create();
  CloseHandle(held);
  ASSERT_FALSE(desktop_.boxes.empty());
  EXPECT_EQ(LastText(), TextOf(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(ReadBytes("a.md5"), "old\n");
  WIN32_FIND_DATAW found;
  const HANDLE scan = FindFirstFileW(L".~digestbox-*", &found);
  EXPECT_EQ(scan, INVALID_HANDLE_VALUE) << "a temporary file left";
  if (scan != INVALID_HANDLE_VALUE) FindClose(scan);
}

TEST_F(Win32RunsTest, PathsPastMaxPathAreHashedOrRefusedAloud) {
  std::vector<std::wstring> levels = {dir_.path().wstring()};
  while (levels.back().size() < 300) {
    levels.push_back(levels.back() + L"\\" + std::wstring(40, L'd'));
    CreateDirectoryW((L"\\\\?\\" + levels.back()).c_str(), nullptr);
  }
  // Taken down by hand: the runtime's own removal stops at MAX_PATH.
  struct Cleanup {
    std::vector<std::wstring>& levels;
    ~Cleanup() {
      SetCurrentDirectoryW(levels.front().c_str());
      const std::wstring deepest = L"\\\\?\\" + levels.back();
      DeleteFileW((deepest + L"\\file.txt").c_str());
      DeleteFileW((deepest + L"\\file.txt.md5").c_str());
      for (std::size_t i = levels.size() - 1; i > 0; --i) {
        RemoveDirectoryW((L"\\\\?\\" + levels[i]).c_str());
      }
    }
  } cleanup{levels};
  if (!SetCurrentDirectoryW(levels.back().c_str())) {
    GTEST_SKIP() << "this system keeps the current directory under MAX_PATH";
  }
  WriteBytes("file.txt", "abc");
  Create();
  const bool written = Exists("file.txt.md5");
  RecordProperty("outcome", written ? "hashed" : "refused");
  ScriptedDesktop verifier;
  if (written) verify::VerifyDigests(verifier, provider_);
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  if (written) {
    EXPECT_EQ(desktop_.boxes[0].text, kDoneText);
    ASSERT_EQ(verifier.boxes.size(), 1u);
    EXPECT_EQ(verifier.boxes[0].text,
              u"file.txt - OK\r\n\r\n" + std::u16string(kSucceededCaptionText));
  } else {
    EXPECT_EQ(desktop_.boxes[0].style, MB_ICONERROR) << "never silent";
  }
}

}  // namespace

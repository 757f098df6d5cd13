#pragma once

// The program's own texts, written out again so that a changed byte in the
// program shows up as a failing test.
inline constexpr char16_t kMd5QuestionText[] =
    u"カレントディレクトリ上のファイルのMD5ハッシュを作成しますか？\r\n("
    u"SHA1ハッシュを作成する場合はSHIFT+CTRLキーを押しながら起動します。)";
inline constexpr char16_t kSha1QuestionText[] =
    u"カレントディレクトリ上のファイルのSHA1ハッシュを作成しますか？\r\n("
    u"MD5ハッシュを作成する場合はSHIFTキーのみ押しながら起動します。)";
inline constexpr char16_t kQuestionCaptionText[] = u"ハッシュ作成の確認";
inline constexpr char16_t kDoneText[] = u"作成が終了しました。";
inline constexpr char16_t kDoneCaptionText[] = u"ハッシュの作成";
inline constexpr char16_t kCreateCancelledHead[] =
    u"作成を中止しました。残りの";
inline constexpr char16_t kCreateCancelledTail[] = u"件は作成していません。";
inline constexpr char16_t kNothingToVerifyText[] =
    u"ダイジェストファイル(*.md5/"
    u"*.sha1)"
    u"がカレントディレクトリに1つも存在しないため検証できません。\r\n\r\n("
    u"検証するのではなく、ダイジェストファイルを新規に作成する場合は\r\nSHIFTキ"
    u"ー、もしくはSHIFT+CTRLキーを押しながら起動します。)";
inline constexpr char16_t kMalformedFileText[] =
    u"ファイルのフォーマットが不正であるか解析に失敗しました。";
inline constexpr char16_t kMismatchText[] = u"ハッシュ値が一致しません。";
inline constexpr char16_t kUnreadableText[] =
    u"ファイルが見つからないか、読み込みに失敗しました。";
inline constexpr char16_t kFailedCaptionText[] = u"検証に失敗しました。";
inline constexpr char16_t kSucceededCaptionText[] = u"検証に成功しました。";
// The last line of a report its box cannot take whole: the count of lines
// left out stands between the two.
inline constexpr char16_t kTruncatedBeforeText[] =
    u"表示しきれないため、以降の";
inline constexpr char16_t kTruncatedAfterText[] = u"行を省略しました。";

inline constexpr char kEmptyMd5[] = "d41d8cd98f00b204e9800998ecf8427e";
inline constexpr char kEmptySha1[] = "da39a3ee5e6b4b0d3255bfef95601890afd80709";

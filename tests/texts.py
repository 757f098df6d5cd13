"""The system's own texts, stated once for every Python suite: an
independent statement of the bytes the program must show, never read from
the sources. Line breaks are the boxes' own CR LF; `shown` gives them as the
terminal and the GTK dialogs show them, `escaped` as the Wine transcript
writes them."""

MD5_QUESTION = ("カレントディレクトリ上のファイルのMD5ハッシュを作成しますか？\r\n"
                "(SHA1ハッシュを作成する場合はSHIFT+CTRLキーを押しながら起動します。)")
SHA1_QUESTION = ("カレントディレクトリ上のファイルのSHA1ハッシュを作成しますか？\r\n"
                 "(MD5ハッシュを作成する場合はSHIFTキーのみ押しながら起動します。)")
QUESTION_CAPTION = "ハッシュ作成の確認"
DONE = "作成が終了しました。"
DONE_CAPTION = "ハッシュの作成"
NOTHING = ("ダイジェストファイル(*.md5/*.sha1)がカレントディレクトリに1つも存在しないため検証できません。"
           "\r\n\r\n(検証するのではなく、ダイジェストファイルを新規に作成する場合は\r\n"
           "SHIFTキー、もしくはSHIFT+CTRLキーを押しながら起動します。)")
MALFORMED = "ファイルのフォーマットが不正であるか解析に失敗しました。"
OK_CAPTION = "検証に成功しました。"
FAILED_CAPTION = "検証に失敗しました。"
MISMATCH = "ハッシュ値が一致しません。"
UNREADABLE = "ファイルが見つからないか、読み込みに失敗しました。"
VERIFY_TITLE = "ハッシュの検証"
# Counts (%s) by count(): a comma every three digits, whatever the locale.
CANCELLED = "検証を中止しました。残りの%s件は検証していません。"
CREATE_CANCELLED = "作成を中止しました。残りの%s件は作成していません。"
# Cancelled while the folder was listed, or the lists read: the count is
# not known.
CREATE_CANCELLED_UNLISTED = "作成を中止しました。ハッシュは1件も作成していません。"
CANCELLED_UNREAD = "検証を中止しました。1件も検証していません。"
# Cancelled while the last flush went unanswered.
CREATE_CANCELLED_UNFLUSHED = ("作成を中止しました。すべてのファイルのハッシュを作成しましたが、"
                              "ディスクへの保存は確認できていません。")
# The last line of a report the Windows box cannot take whole.
TRUNCATED = "表示しきれないため、以降の%d行を省略しました。"


def count(number):
    """A count as the boxes and the progress window write it: "28,998"."""
    return format(number, ",")


def shown(text):
    """As the terminal boxes and the GTK dialogs show it."""
    return text.replace("\r\n", "\n")


def escaped(text):
    """As the Wine driver's transcript writes it: a backslash doubled, CR and
    LF as \\r and \\n. (The Windows boxes write a name's escapes as <U+202E>,
    the Linux ones as \\u202e.)"""
    return text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")


# The progress window's words beside the title (DONE_CAPTION or
# VERIFY_TITLE): the counts of creation and of verification, the percentage,
# a size's speed (sizes in each platform's own form, which holds no
# Japanese) and the time left.
PROGRESS_FILES = "%s / %s ファイル"
PROGRESS_RECORDS = "%s / %s 件"
# Before the counts: the files of the folder listed so far in creation,
# and the digest files read of all in verification.
PROGRESS_LISTED = "%s ファイル"
PROGRESS_DIGEST_FILES = "%s / %s ダイジェストファイル"
PROGRESS_PERCENT = "%d%"  # filled in by +, not %
PROGRESS_SPEED = "%s/秒"
PROGRESS_LEFT_SECONDS = "残り約%d秒"
PROGRESS_LEFT_MINUTES = "残り約%d分"
PROGRESS_LEFT_HOURS = "残り約%d時間%d分"
PROGRESS_LEFT_WHOLE_HOURS = "残り約%d時間"
# At the terminal: a box's icon as a word (error, information, question,
# warning), and the Japanese Yes to a question.
ICON_WORDS = ("エラー", "情報", "確認", "警告")
YES = "はい"

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
CANCELLED = "検証を中止しました。残りの%d件は検証していません。"
CREATE_CANCELLED = "作成を中止しました。残りの%d件は作成していません。"


def shown(text):
    """As the terminal boxes and the GTK dialogs show it."""
    return text.replace("\r\n", "\n")


def escaped(text):
    """As the Wine driver's transcript writes it."""
    return text.replace("\r\n", "\\r\\n")

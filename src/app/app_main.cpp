#include "app/app_main.h"

#include "common/out_of_memory.h"
#include "create/create_digests.h"
#include "desktop/show_system_error.h"
#include "digest/digest_record.h"
#include "hash/crypt_provider.h"
#include "verify/verify_digests.h"

namespace app {

namespace {

const char16_t kQuestionCaption[] = u"ハッシュ作成の確認";
const char16_t kMd5Question[] =
    u"カレントディレクトリ上のファイルのMD5ハッシュを作成しますか？\r\n"
    u"(SHA1ハッシュを作成する場合はSHIFT+CTRLキーを押しながら起動します。)";
const char16_t kSha1Question[] =
    u"カレントディレクトリ上のファイルのSHA1ハッシュを作成しますか？\r\n"
    u"(MD5ハッシュを作成する場合はSHIFTキーのみ押しながら起動します。)";

}  // namespace

namespace {

int Run(desktop::Desktop& desktop) {
  hash::CryptProvider provider;
  if (!provider.Acquire()) {
    desktop::ShowSystemError(desktop, platform::GetLastErrorCode());
    return 1;
  }
  const bool shift = desktop.IsKeyDown(desktop::VK_SHIFT);
  const bool ctrl = desktop.IsKeyDown(desktop::VK_CONTROL);
  if (!shift) return verify::VerifyDigests(desktop, provider);

  const common::WideString question(ctrl ? kSha1Question : kMd5Question);
  const int answer =
      desktop.ShowMessageBox(question, common::WideString(kQuestionCaption),
                             desktop::MB_YESNO | desktop::MB_ICONQUESTION);
  if (answer != desktop::IDYES) return 0;
  const common::AlgorithmId algorithm = common::CALG_MD5 + (ctrl ? 1 : 0);
  return create::CreateDigests(desktop, provider, algorithm,
                               digest::DigestExtension(algorithm));
}

}  // namespace

// Memory that runs out ends the run, not the process: the digest files
// written so far stay, the platform's own text says why, and the exit code
// is a failed run's, 0. The run's memory is free again by the box.
int AppMain(desktop::Desktop& desktop) {
  int code = 0;
  if (common::RunOrOutOfMemory([&] { code = Run(desktop); })) return code;
  common::RunOrOutOfMemory([&] {
    desktop::ShowSystemError(desktop, platform::kErrorNotEnoughMemory);
  });
  return 0;
}

}  // namespace app

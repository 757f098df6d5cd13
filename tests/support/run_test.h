#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "create/create_digests.h"
#include "digest/digest_record.h"
#include "hash/crypt_provider.h"
#include "run/settings.h"
#include "support/scripted_desktop.h"
#include "support/temp_dir.h"
#include "verify/verify_digests.h"

// A run's settings with `workers` files hashed at once, and `clock`'s
// times where given.
inline run::Settings On(unsigned workers, progress::Clock* clock = nullptr) {
  return run::Settings{pipeline::Threads(workers), clock};
}

// A creation or verification run in a fresh current directory, with the
// real provider and a scripted desktop.
class RunTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(provider_.Acquire()); }

  void Create(common::AlgorithmId algorithm = common::CALG_MD5) {
    EXPECT_EQ(create::CreateDigests(desktop_, provider_, algorithm,
                                    digest::DigestExtension(algorithm)),
              0);
  }
  void Verify() { EXPECT_EQ(verify::VerifyDigests(desktop_, provider_), 0); }

  // The last box, which is the report or the completion box when there is one.
  const RecordedBox& LastBox() const { return desktop_.boxes.back(); }
  const std::u16string& LastText() const { return LastBox().text; }

  TempDirectory dir_;
  hash::CryptProvider provider_;
  ScriptedDesktop desktop_;
};

// How many times `piece` stands in `text`.
inline std::size_t CountOf(const std::u16string& text,
                           const std::u16string& piece) {
  std::size_t count = 0;
  for (std::size_t at = text.find(piece); at != std::u16string::npos;
       at = text.find(piece, at + piece.size())) {
    ++count;
  }
  return count;
}

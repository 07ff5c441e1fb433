// SHA-256 through the seam against the published test vectors, fed whole and in uneven pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/platform.h"

namespace {

std::string Hex(const unsigned char* d) {
  std::string s;
  for (std::size_t i = 0; i < plat::kSha256Size; ++i)
    s += "0123456789abcdef"[d[i] >> 4], s += "0123456789abcdef"[d[i] & 15];
  return s;
}

std::string Digest(const std::string& data, std::size_t piece) {
  plat::Sha256* h = plat::BeginSha256();
  EXPECT_NE(h, nullptr);
  for (std::size_t at = 0; at < data.size(); at += piece)
    EXPECT_EQ(plat::AddSha256(h, data.data() + at, std::min(piece, data.size() - at)), 0);
  unsigned char d[plat::kSha256Size];
  EXPECT_EQ(plat::FinishSha256(h, d), 0);
  return Hex(d);
}

TEST(Sha256, KnownVectors) {
  const struct {
    std::string data, digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases)
    for (std::size_t piece : {std::size_t{1} << 20, std::size_t{7}, std::size_t{64}}) {
      EXPECT_EQ(Digest(c.data, piece), c.digest) << c.data.size() << " bytes in pieces of " << piece;
    }
  plat::AbandonSha256(plat::BeginSha256());
  plat::AbandonSha256(nullptr);
}

}  // namespace

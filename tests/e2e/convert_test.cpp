// The seam on the real system: its one conversion between code page 932 and UTF-16 (the
// same whatever the system's code page is, nothing guessed, nothing lost without a word),
// and its hash.
#include <gtest/gtest.h>

#include <string>

#include "platform/files_win32.h"
#include "platform/platform.h"

using plat::win32::ToCp932;
using plat::win32::ToWide;
using plat::win32::WidePath;

TEST(Convert, Cp932AndUtf16BothWays) {
  const struct {
    const char* cp932;    // nullptr: no code page 932 form
    const wchar_t* wide;  // nullptr: not code page 932
  } cases[] = {
      {"", L""},
      {"C:\\ゲーム\\星の灯台\\ソ表.txt",
       L"C:\\\x30B2\x30FC\x30E0\\\x661F\x306E\x706F\x53F0\\\x30BD\x8868.txt"},
      {"\x83", nullptr},           // a lead byte without its trail byte
      {nullptr, L"\x6D4B\x8BD5"},  // 测试, simplified Chinese
      {nullptr, L"wave\x301C"},    // 〜 has only a look-alike (～) in code page 932
      {nullptr, L"caf\x00E9"},     // é
  };
  for (const auto& c : cases) {
    if (c.cp932) {
      std::wstring w;
      EXPECT_EQ(ToWide(c.cp932, &w), c.wide != nullptr) << c.cp932;
      EXPECT_EQ(w, c.wide ? c.wide : L"") << c.cp932;
    }
    if (c.wide) {
      char out[64] = "untouched";
      EXPECT_EQ(ToCp932(c.wide, out, sizeof out), c.cp932 != nullptr);
      EXPECT_STREQ(out, c.cp932 ? c.cp932 : "");
    }
  }
  char small[4] = "xyz";
  EXPECT_FALSE(ToCp932(L"abcd", small, sizeof small));  // does not fit: nothing half written
  EXPECT_STREQ(small, "");
}

TEST(Convert, LongPathsTakeThePrefix) {
  const std::string folder = "C:\\" + std::string(300, 'x');
  WidePath absolute(folder.c_str()), relative(folder.c_str() + 3), bad("C:\\\x83");
  EXPECT_TRUE(absolute.ok);
  EXPECT_EQ(std::wstring(absolute.text).substr(0, 7), L"\\\\?\\C:\\");
  EXPECT_FALSE(relative.ok);
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(std::wstring(WidePath("a/b").text), L"a/b");
}

// SHA-256 through the system's own provider, in pieces across a block boundary.
TEST(Convert, Sha256OfTheSystem) {
  const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  plat::Sha256* h = plat::BeginSha256();
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(plat::AddSha256(h, text.data(), 7), 0);
  ASSERT_EQ(plat::AddSha256(h, text.data() + 7, text.size() - 7), 0);
  unsigned char d[plat::kSha256Size];
  ASSERT_EQ(plat::FinishSha256(h, d), 0);
  std::string hex;
  for (unsigned char b : d) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
  EXPECT_EQ(hex, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

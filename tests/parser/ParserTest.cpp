// The parser object: defaults, configuration, copying and the conversions.
#include <clocale>
#include <cstring>

#include "BaseParser.h"
#include "TestSupport.h"

class CBaseParserTestAccess {
 public:
  static const std::string& Work(const CBaseParser& p) { return p.m_workFolder; }
  static const std::string& Scope(const CBaseParser& p) { return p.m_scopeFile; }
  static const std::string& Coords(const CBaseParser& p) { return p.m_coordsFile; }
  static const wchar_t* CrsText(const CBaseParser& p) { return p.m_coordSysText; }
  static void SetCrsText(CBaseParser& p, const wchar_t* t) { p.m_coordSysText = t; }
};
using Access = CBaseParserTestAccess;

TEST(Parser, SetRequireFileAppendsExactlyOneBackslash) {
  CBaseParser p;
  p.SetRequireFile("/data/work", "/data/scope.txt", "c:\\x\\coords.txt");
  EXPECT_EQ(Access::Work(p), "/data/work\\");
  EXPECT_EQ(Access::Scope(p), "/data/scope.txt");
  EXPECT_EQ(Access::Coords(p), "c:\\x\\coords.txt");
  p.SetRequireFile("C:\\work\\", "", "");
  EXPECT_EQ(Access::Work(p), "C:\\work\\");
  EXPECT_EQ(Access::Scope(p), "");
  p.SetRequireFile("", "s\\", "c/");
  EXPECT_EQ(Access::Work(p), "\\");
  EXPECT_EQ(Access::Scope(p), "s\\");  // no backslash handling for the file paths
  EXPECT_EQ(Access::Coords(p), "c/");
}

TEST(Parser, CopiesShareTheCallerOwnedTexts) {
  static const wchar_t kText[] = L"EPSG:4527";
  CBaseParser a;
  a.SetRequireFile("w", "s", "c");
  Access::SetCrsText(a, kText);
  CBaseParser b(a);
  EXPECT_EQ(Access::CrsText(b), kText);
  EXPECT_EQ(Access::Work(b), "w\\");
  CBaseParser c;
  c = a;
  EXPECT_EQ(Access::CrsText(c), kText);
  EXPECT_EQ(Access::Coords(c), "c");
}

TEST(Parser, TestPrintsTheGreetingAndChangesNothing) {
  CBaseParser p;
  testing::internal::CaptureStdout();
  p.Test();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Test OK !\n\n");
  EXPECT_EQ(Access::Work(p), "folder");
}

TEST(Conversions, StringToBSTRRoundTripsUtf8) {
  CBaseParser p;
  wchar_t* empty = p.StringToBSTR("");
  EXPECT_EQ(empty[0], L'\0');
  delete[] empty;

  const std::string text = "Noël 高斯－克里格 \xF0\x9F\x8F\xA0";
  wchar_t* wide = p.StringToBSTR(text);
  EXPECT_EQ(std::wstring(wide), std::wstring(L"Noël 高斯－克里格 \U0001F3E0"));
  EXPECT_EQ(p.BSTRToString(wide), text);
  delete[] wide;
}

TEST(Conversions, MalformedUtf8BecomesReplacementCharacters) {
  CBaseParser p;
  wchar_t* wide = p.StringToBSTR(std::string("a\xFF" "b\xC3", 4));
  EXPECT_EQ(std::wstring(wide), std::wstring(L"a\uFFFDb\uFFFD"));
  delete[] wide;
}

TEST(Conversions, BSTRToStringOfNullIsEmpty) {
  CBaseParser p;
  EXPECT_EQ(p.BSTRToString(nullptr), "");
}

TEST(Conversions, S2wsLeavesTheCLocaleAndWs2sRestoresTheFormerOne) {
  CBaseParser p;
  ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
  EXPECT_EQ(p.s2ws("Straße 高"), L"Straße 高");
  EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");

  ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
  EXPECT_EQ(p.ws2s(L"高斯－克里格投影"), "高斯－克里格投影");
  EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C.UTF-8");
  std::setlocale(LC_ALL, "C");
}

TEST(Conversions, S2wsStopsAtAnUnconvertibleCharacter) {
  CBaseParser p;
  const std::wstring w = p.s2ws(std::string("ab\xFF" "cd"));
  EXPECT_EQ(w.substr(0, 2), L"ab");
  EXPECT_LE(w.size(), 2u);
}

// The user's default locale never makes a data operation die on a bad LANG.
#include <cstdlib>

#include "TestSupport.h"
#include "platform/Locale.h"

TEST(Locale, MissingLocaleInTheEnvironmentFallsBackToClassic) {
  const char* old = std::getenv("LC_ALL");
  const std::string saved = old ? old : "";
  ::setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
  EXPECT_NO_THROW(kmztile::platform::InstallUserDefaultLocale());
  EXPECT_EQ(kmztile::platform::UserDefaultLocale(), std::locale::classic());
  if (old) ::setenv("LC_ALL", saved.c_str(), 1); else ::unsetenv("LC_ALL");
  std::locale::global(std::locale::classic());
}

TEST(Locale, ChsMapsToAnInstalledUtf8Locale) {
  const std::string name = kmztile::platform::RuntimeLocaleName("chs");
  EXPECT_NE(name.find("UTF"), std::string::npos);
  EXPECT_EQ(kmztile::platform::RuntimeLocaleName("C"), "C");
}

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

// The locale installed is the one the environment names at the time of the
// call, also when a host changes the environment between operations.
TEST(Locale, InstalledLocaleFollowsTheEnvironment) {
  const char* old = std::getenv("LC_ALL");
  const std::string saved = old ? old : "";
  std::string names[3];
  const char* wanted[3] = {"C.UTF-8", "C", "C.UTF-8"};
  for (int i = 0; i < 3; ++i) {
    ::setenv("LC_ALL", wanted[i], 1);
    kmztile::platform::InstallUserDefaultLocale();
    names[i] = std::locale().name();
  }
  if (old) ::setenv("LC_ALL", saved.c_str(), 1); else ::unsetenv("LC_ALL");
  std::locale::global(std::locale::classic());
  EXPECT_EQ(names[0], "C.UTF-8");
  EXPECT_EQ(names[1], "C");
  EXPECT_EQ(names[2], "C.UTF-8");
}

TEST(Locale, ChsMapsToAnInstalledUtf8Locale) {
  const std::string name = kmztile::platform::RuntimeLocaleName("chs");
  EXPECT_NE(name.find("UTF"), std::string::npos);
  EXPECT_EQ(kmztile::platform::RuntimeLocaleName("C"), "C");
}

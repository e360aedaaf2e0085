#include "cfg/Config.h"

#include "Files.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QUrl>

using namespace TestSupport;

TEST(Locales, ExactLocaleWinsElseTheLastOfTheSameLanguageElseBritishEnglish)
{
  QTemporaryDir home;
  QTemporaryDir install;
  ScopedEnv dataHome("XDG_DATA_HOME", home.path());
  const Config none(install.path());
  EXPECT_TRUE(none.locales.isEmpty()) << "no translations folder";
  EXPECT_EQ(none.suitableLocale("de_DE"), QStringLiteral("en_GB"));
  for (const char* file : {"fr_FR.qm", "fr_CA.qm", "en_US.qm", "de_DE.qm", "it_IT.txt", "readme"})
    ASSERT_TRUE(WriteFile(install.path() + "/res/translations/" + file, "qm"));
  const Config config(install.path());
  QStringList names;
  for (const QLocale& locale : config.locales)
    names += locale.name();
  EXPECT_EQ(names, (QStringList{"de_DE", "en_US", "fr_CA", "fr_FR"})) << "only translation files";
  const std::pair<const char*, const char*> cases[] = {
      {"fr_CA", "fr_CA"}, {"fr_BE", "fr_FR"}, // fr_FR comes after fr_CA by name
      {"en-US", "en_US"}, {"de-AT", "de_DE"}, // system names with a dash
      {"en-AU", "en_US"}, {"it_IT", "en_GB"}, {"nonsense", "en_GB"}, {"", "en_GB"}};
  for (const auto& [asked, found] : cases)
    EXPECT_EQ(config.suitableLocale(asked), QLatin1String(found)) << asked;
  EXPECT_EQ(config.translationFile("de_DE"), config.translationsDir + "/de_DE");
}

// Pages follow the locale's language where the site has one, else English,
// always on secure addresses.
TEST(Links, PagesFollowTheLanguageOfTheLocaleOnSecureAddresses)
{
  using Link = Config::Link;
  EXPECT_TRUE(Config::LinkForLocale(Link::Copyright, "es_MX").endsWith("/es/terms-and-conditions/"));
  EXPECT_TRUE(Config::LinkForLocale(Link::Help, "de_DE").endsWith("_de.pdf"));
  EXPECT_TRUE(Config::LinkForLocale(Link::Help, "it_IT").endsWith("_en.pdf"));
  for (const char* locale : {"en_GB", "fr_CA", "xx_YY"})
    EXPECT_EQ(Config::LinkForLocale(Link::Legal, locale), Config::LinkForLocale(Link::Legal, "en_US"));
  EXPECT_TRUE(Config::LinkForLocale(Link::ReportMapShare, "it_IT").endsWith("/it_IT/account/login.html"));
  for (const Link link : {Link::Legal, Link::Copyright, Link::Help, Link::ReportMapShare}) {
    const QUrl url(Config::LinkForLocale(link, "de_DE"), QUrl::TolerantMode);
    EXPECT_TRUE(url.isValid());
    EXPECT_EQ(url.scheme(), QStringLiteral("https"));
    EXPECT_FALSE(url.path().contains("//")) << url.toString().toStdString();
  }
}

#include "cfg/Config.h"

#include "FrameTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <QUrl>

using namespace FrameTest;

namespace {

// A configuration whose translations folder holds the given files.
class InstalledTranslations : public ::testing::Test
{
protected:
  QTemporaryDir home;
  QTemporaryDir install;
  ScopedEnv dataHome{"XDG_DATA_HOME", home.path()};

  std::unique_ptr<Config> With(std::initializer_list<const char*> files)
  {
    const QString folder = install.path() + QStringLiteral("/res/translations/");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    for (const char* file : files)
      WriteFile(folder + QLatin1String(file), "qm");
    return std::make_unique<Config>(install.path());
  }
};

} // namespace

TEST_F(InstalledTranslations, ExactLocaleWinsElseTheLastOfTheSameLanguage)
{
  auto config = With({"fr_FR.qm", "fr_CA.qm"});
  EXPECT_EQ(config->suitableLocale("fr_CA"), QStringLiteral("fr_CA"));
  EXPECT_EQ(config->suitableLocale("fr_FR"), QStringLiteral("fr_FR"));
  EXPECT_EQ(config->suitableLocale("fr_BE"), QStringLiteral("fr_FR")) << "fr_FR comes after fr_CA by name";
  EXPECT_EQ(config->suitableLocale("ja_JP"), QStringLiteral("en_GB"));
  EXPECT_EQ(config->suitableLocale("nonsense"), QStringLiteral("en_GB"));
  EXPECT_EQ(config->suitableLocale(""), QStringLiteral("en_GB"));
}

TEST_F(InstalledTranslations, SystemDashNamesFindTheInstalledUnderscoreNames)
{
  auto config = With({"en_GB.qm", "en_US.qm", "de_DE.qm"});
  EXPECT_EQ(config->suitableLocale("en-GB"), QStringLiteral("en_GB"));
  EXPECT_EQ(config->suitableLocale("en-US"), QStringLiteral("en_US"));
  EXPECT_EQ(config->suitableLocale("de-AT"), QStringLiteral("de_DE"));
  EXPECT_EQ(config->suitableLocale("en-AU"), QStringLiteral("en_US"));
}

TEST_F(InstalledTranslations, WithoutTranslationsEverythingFallsBackToBritishEnglish)
{
  auto config = With({});
  EXPECT_TRUE(config->locales.isEmpty());
  EXPECT_EQ(config->suitableLocale("de_DE"), QStringLiteral("en_GB"));
  EXPECT_EQ(config->suitableLocale("en_GB"), QStringLiteral("en_GB"));
}

TEST_F(InstalledTranslations, TranslationFileIsThePathWithoutSuffix)
{
  auto config = With({"de_DE.qm"});
  EXPECT_EQ(config->translationFile("de_DE"), config->translationsDir + QStringLiteral("/de_DE"));
  EXPECT_EQ(config->translationFile(""), config->translationsDir + QStringLiteral("/"));
}

TEST(Links, PagesFollowTheLanguageOfTheLocale)
{
  using Link = Config::Link;
  const QString copyright = Config::LinkForLocale(Link::Copyright, "es_MX");
  EXPECT_TRUE(copyright.endsWith("/es/terms-and-conditions/")) << copyright.toStdString();
  const QString help = Config::LinkForLocale(Link::Help, "it_IT");
  EXPECT_EQ(help, Config::LinkForLocale(Link::Help, "en_GB"));
  EXPECT_TRUE(help.endsWith("/media/downloads/zev_guideline/zev_user_guideline_en.pdf"))
      << help.toStdString();
  EXPECT_TRUE(Config::LinkForLocale(Link::Help, "de_DE").endsWith("_de.pdf"));
  EXPECT_TRUE(Config::LinkForLocale(Link::Copyright, "pt_PT").endsWith("/pt/terms-and-conditions/"));

  for (const char* locale : {"en_GB", "fr_CA", "tr_TR", "xx_YY"})
    EXPECT_EQ(Config::LinkForLocale(Link::Legal, locale), Config::LinkForLocale(Link::Legal, "en_US"));
  EXPECT_TRUE(Config::LinkForLocale(Link::Legal, "en_GB").endsWith("/en_gb/thirdpartyproductterms/"));

  EXPECT_TRUE(Config::LinkForLocale(Link::ReportMapShare, "fr_CA").endsWith("/fr_CA/account/login.html"));
  EXPECT_TRUE(Config::LinkForLocale(Link::ReportMapShare, "it_IT").endsWith("/it_IT/account/login.html"));
}

TEST(Links, AreSecureAddressesOnReservedHosts)
{
  using Link = Config::Link;
  for (const Link link : {Link::Legal, Link::Copyright, Link::Help, Link::ReportMapShare}) {
    const QUrl url(Config::LinkForLocale(link, "de_DE"), QUrl::TolerantMode);
    EXPECT_TRUE(url.isValid());
    EXPECT_EQ(url.scheme(), QStringLiteral("https"));
    EXPECT_TRUE(url.host().endsWith(".invalid")) << url.toString().toStdString();
    EXPECT_FALSE(url.path().contains("//")) << url.toString().toStdString();
  }
  // The maker's pages and the map supplier's pages live on two sites.
  EXPECT_NE(QUrl(Config::LinkForLocale(Link::Help, "de_DE")).host(),
            QUrl(Config::LinkForLocale(Link::Legal, "de_DE")).host());
}

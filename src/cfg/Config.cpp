#include "cfg/Config.h"

#include "Log.h"
#include "cfg/Settings.h"
#include "platform/Platform.h"
#include "util/Filesystem.h"

#include <boost/log/core/core.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QStandardPaths>

#include <cstdint>
#include <iostream>
#include <sstream>

namespace pt = boost::property_tree;

namespace {

const char* const ProductionName = "ArvelNet-Prod";
const char* const PreproductionName = "ArvelNet-Preprod";

// The built-in service environments, fixed before main runs.
const std::string g_productionUrl = "https://tesk.arvel.invalid/tesk/v1";
const std::string g_preproductionUrl = "https://tesk-preprod.arvel.invalid/tesk/v1";

// A service key: 32 hexadecimal digits drawn from a fixed seed, so that the
// key itself never appears as one string in the program.
std::string BuildKey(std::uint32_t seed)
{
  static const char digits[] = "0123456789abcdef";
  std::string key;
  key.reserve(32);
  std::uint32_t state = seed;
  for (int i = 0; i < 32; ++i) {
    state = state * 1664525u + 1013904223u;
    key += digits[(state >> 27) & 0xF];
  }
  return key;
}

// Joins two stick paths with "/", inserting one only when needed.
std::string Join(const std::string& left, const std::string& right)
{
  if (left.empty() || left.back() == '/')
    return left + right;
  return left + "/" + right;
}

// The severity named by the first word of `text`. A word that names no
// severity fails the read: the level is never left undefined.
Log::Severity ParseSeverity(const std::string& text)
{
  std::istringstream in(text);
  std::string word;
  in >> word;
  if (const auto severity = Log::SeverityNamed(word))
    return *severity;
  throw std::runtime_error("Unknown log level: \"" + text + "\"");
}

template <typename T>
std::optional<T> ToStd(const boost::optional<T>& value)
{
  return value ? std::optional<T>(*value) : std::nullopt;
}

} // namespace

const std::string& Config::ProductionUrl()
{
  return g_productionUrl;
}

const std::string& Config::PreproductionUrl()
{
  return g_preproductionUrl;
}

std::string Config::ProductionKey()
{
  return BuildKey(0x5EED0001u);
}

std::string Config::PreproductionKey()
{
  return BuildKey(0x5EED0002u);
}

Config& Config::get()
{
  static Config instance;
  return instance;
}

QString Config::DataFolder()
{
  // The per-user data folder of the organisation and application names.
  return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

Config::Config() : Config(InstallationDirectory()) {}

Config::Config(const QString& installationDirectory)
    : appName(QCoreApplication::applicationName()), version(QStringLiteral("%1.%2.%3").arg(2).arg(0).arg(74)),
      copyrightYear(QStringLiteral("%1").arg(2023)), dataDir(DataFolder()),
      logsDir(dataDir + QDir::separator() + QStringLiteral("Logs")),
      resDir(installationDirectory + QDir::separator() + QStringLiteral("res")),
      translationsDir(resDir + QDir::separator() + QStringLiteral("translations")),
      usbUpdateDir("OrvaneNDSUpdate"), usbMetadataDir(Join(usbUpdateDir, "meta_data")),
      usbChecksumFile(Join(usbUpdateDir, "CHECKSUMS.MD5")),
      usbHeadUnitFile(Join(usbMetadataDir, "GENERAL.JSON")), usbFullMapDir("OrvaneNDSFull"),
      serviceUrl(ProductionUrl()), serviceKey(ProductionKey())
{
  QDir().mkpath(dataDir);

  const QString path = dataDir + QStringLiteral("/config.json");
  try {
    ReadConfig(path);
  } catch (const std::runtime_error& e) {
    const std::string failure = "Failed to read: " + path.toStdString() + ", " + e.what();
    // A missing file is the first start's normal case; a file that is there
    // but refused is the user's, who must learn why it is replaced.
    if (QFile::exists(path))
      ReportError(failure);
    else
      LOG(Error) << failure;
    WriteConfig(path);
  }

  const QStringList files = QDir(translationsDir).entryList(QStringList(QStringLiteral("*.qm")));
  for (const QString& file : files)
    locales.append(QLocale(file.left(file.lastIndexOf(QLatin1Char('.')))));
}

void Config::ReportError(const std::string& text)
{
  if (!boost::log::core::get()->get_logging_enabled())
    std::cerr << "Lumora: " << text << std::endl;
  LOG(Error) << text;
  errors.push_back(text);
}

void Config::ReadConfig(const QString& path)
{
  LOG(Info) << "Reading configuration from file: " << path;

  pt::ptree tree;
  pt::read_json(QFile::encodeName(path).toStdString(), tree);

  const pt::ptree& application = tree.get_child("Application");
  if (const auto level = application.get_optional<std::string>("LogLevel"))
    logLevel = ParseSeverity(*level);

  const pt::ptree& update = tree.get_child("FullMapUpdate");
  updateType = ToStd(update.get_optional<std::string>("UpdateType"));
  if (updateType == ProductionName) {
    serviceUrl = ProductionUrl();
    serviceKey = ProductionKey();
  } else if (updateType == PreproductionName) {
    serviceUrl = PreproductionUrl();
    serviceKey = PreproductionKey();
  } else {
    // Address and key are taken together or not at all, so that a built-in
    // key is never sent to a host the user named.
    const auto source = update.get_optional<std::string>("UpdateSource");
    const auto key = update.get_optional<std::string>("UpdateKey");
    if (source && !key)
      throw std::runtime_error("\"UpdateSource\" is given without \"UpdateKey\"");
    if (key && !source)
      throw std::runtime_error("\"UpdateKey\" is given without \"UpdateSource\"");
    if (!source)
      throw std::runtime_error((updateType
                                    ? "\"UpdateType\" \"" + *updateType + "\" names no built-in service"
                                    : "no \"UpdateType\"") +
                               " (\"" + ProductionName + "\" or \"" + PreproductionName +
                               "\") and no \"UpdateSource\" and \"UpdateKey\"");
    serviceUrl = *source;
    serviceKey = *key;
  }

  retryDuration = tree.get<std::string>("MapDownload.RetryDuration");
}

void Config::WriteConfig(const QString& path)
{
  LOG(Info) << "Writing configuration to file: " << path;

  if (dataDir.isEmpty()) {
    ReportError("Failed to write configuration: no data folder");
    return;
  }

  // Every value is a string; an empty section is an empty object.
  QJsonObject application;
  if (logLevel) {
    std::ostringstream level;
    level << *logLevel;
    application.insert(QStringLiteral("LogLevel"), QString::fromStdString(level.str()));
  }
  QJsonObject update;
  if (serviceUrl == ProductionUrl()) {
    update.insert(QStringLiteral("UpdateType"), QLatin1String(ProductionName));
  } else if (serviceUrl == PreproductionUrl()) {
    update.insert(QStringLiteral("UpdateType"), QLatin1String(PreproductionName));
  } else {
    update.insert(QStringLiteral("UpdateSource"), QString::fromStdString(serviceUrl));
    update.insert(QStringLiteral("UpdateKey"), QString::fromStdString(serviceKey));
  }
  const QJsonObject download{{QStringLiteral("RetryDuration"), QStringLiteral("3")}};
  const QJsonObject root{{QStringLiteral("Application"), application},
                         {QStringLiteral("FullMapUpdate"), update},
                         {QStringLiteral("MapDownload"), download}};
  const QByteArray text = QJsonDocument(root).toJson(QJsonDocument::Indented);

  // A file that exists but could not be read is kept beside the new one; when
  // it cannot be kept it is not overwritten either.
  QFile existing(path);
  if (existing.exists()) {
    const QString backup = path + QStringLiteral(".bak");
    QString error;
    if (!existing.open(QIODevice::ReadOnly)) {
      ReportError("Failed to keep " + backup.toStdString() + ": " + existing.errorString().toStdString() +
                  "; the configuration file is left as it is");
      return;
    }
    const QByteArray content = existing.readAll();
    existing.close();
    if (!WriteFileAtomically(backup, content, &error)) {
      ReportError("Failed to keep " + backup.toStdString() + ": " + error.toStdString() +
                  "; the configuration file is left as it is");
      return;
    }
  }

  QString error;
  if (!WriteFileAtomically(path, text, &error))
    ReportError("Failed to write configuration: " + error.toStdString());
}

// Locales and web links.

namespace {

// The two web sites the links lead to, without a trailing separator.
const char* const MakerSite = "https://www.arvel.invalid";
const char* const MapSupplierSite = "https://www.orvane.invalid";

const char* const FallbackLocale = "en_GB";

// The UI locales that have pages of their own, with the language segment of
// their addresses, in the order the tables list them.
const std::pair<const char*, const char*> PageLanguages[] = {
    {"en_GB", "en"}, {"en_US", "en"}, {"de_DE", "de"}, {"fr_FR", "fr"}, {"fr_CA", "fr"},
    {"es_ES", "es"}, {"es_MX", "es"}, {"pt_PT", "pt"}, {"tr_TR", "tr"},
};

template <typename MakeUrl>
QMap<QString, QString> BuildTable(MakeUrl makeUrl)
{
  QMap<QString, QString> table;
  for (const auto& entry : PageLanguages)
    table.insert(QLatin1String(entry.first), makeUrl(QLatin1String(entry.second)));
  return table;
}

const QMap<QString, QString>& LegalTable()
{
  static const QMap<QString, QString> table = BuildTable([](const QString&) {
    return QLatin1String(MapSupplierSite) + QStringLiteral("/en_gb/thirdpartyproductterms/");
  });
  return table;
}

const QMap<QString, QString>& CopyrightTable()
{
  static const QMap<QString, QString> table = BuildTable([](const QString& language) {
    return QLatin1String(MakerSite) + QLatin1Char('/') + language + QStringLiteral("/terms-and-conditions/");
  });
  return table;
}

const QMap<QString, QString>& HelpTable()
{
  static const QMap<QString, QString> table = BuildTable([](const QString& language) {
    return QLatin1String(MakerSite) + QStringLiteral("/media/downloads/zev_guideline/zev_user_guideline_") +
           language + QStringLiteral(".pdf");
  });
  return table;
}

QString Lookup(const QMap<QString, QString>& table, const QString& locale)
{
  return table.value(locale, table.value(QLatin1String(FallbackLocale)));
}

} // namespace

QString Config::translationFile(const QString& locale) const
{
  return translationsDir + QDir::separator() + locale;
}

QString Config::suitableLocale(const QString& name) const
{
  // The system names locales with a dash ("en-GB"), the translation files
  // with an underscore ("en_GB"); compare both in the one form QLocale gives.
  const QLocale requested(name);
  if (requested.language() == QLocale::C)
    return QString::fromLatin1(FallbackLocale);
  const QString normal = requested.name();
  QString candidate;
  for (const QLocale& installed : locales) {
    if (installed.name() == normal)
      return normal;
    if (installed.language() == requested.language())
      candidate = installed.name();
  }
  return candidate.isEmpty() ? QString::fromLatin1(FallbackLocale) : candidate;
}

QString Config::LinkForLocale(Link link, const QString& locale)
{
  switch (link) {
  case Link::Legal:
    return Lookup(LegalTable(), locale);
  case Link::Copyright:
    return Lookup(CopyrightTable(), locale);
  case Link::Help:
    return Lookup(HelpTable(), locale);
  case Link::ReportMapShare:
    return QLatin1String(MapSupplierSite) + QLatin1Char('/') + locale + QStringLiteral("/account/login.html");
  }
  return QString();
}

QString Config::legalLink() const
{
  return LinkForLocale(Link::Legal, Settings::get().Locale());
}

QString Config::copyrightLink() const
{
  return LinkForLocale(Link::Copyright, Settings::get().Locale());
}

QString Config::helpLink() const
{
  return LinkForLocale(Link::Help, Settings::get().Locale());
}

QString Config::reportMapShareLink() const
{
  return LinkForLocale(Link::ReportMapShare, Settings::get().Locale());
}

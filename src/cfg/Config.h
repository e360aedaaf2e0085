#pragma once

#include "GlobalLogger.h"

#include <QList>
#include <QLocale>
#include <QString>

#include <optional>
#include <string>
#include <vector>

// The application's configuration: identity strings, the folders used on the
// computer and on the stick, the map-update service's base URL and key, and
// what config.json names (log level, service environment, retry duration).
// Built once by Config::get at start-up and read-only afterwards.
//
// The data folder is QStandardPaths' DataLocation, on Linux
// $XDG_DATA_HOME/Arvel/Lumora (~/.local/share/Arvel/Lumora by default); tests
// point XDG_DATA_HOME at a temporary folder.
class Config
{
public:
  // The single instance; the first call builds it (and reads config.json).
  static Config& get();
  // The data folder for the application's organisation and name, without
  // building the configuration (dataDir holds the same path).
  static QString DataFolder();

  // Builds a configuration from config.json in the data folder, with the
  // translations looked up under `installationDirectory` + "/res". Only
  // Config::get and tests build one.
  Config();
  explicit Config(const QString& installationDirectory);

  Config(const Config&) = delete;
  Config& operator=(const Config&) = delete;

  // The path of a language's translation file, without its ".qm" suffix.
  QString translationFile(const QString& locale) const;
  // An installed locale name for `name` ("de_DE", or "de-DE" as the system
  // names it): the exact one, else the last installed one of the same
  // language, else "en_GB".
  QString suitableLocale(const QString& name) const;

  // Web pages for the current UI language (Settings::Locale()).
  QString legalLink() const;
  QString copyrightLink() const;
  QString helpLink() const;
  QString reportMapShareLink() const;

  enum class Link
  {
    Legal,
    Copyright,
    Help,
    ReportMapShare
  };
  // The page of `link` for the UI language `locale`.
  static QString LinkForLocale(Link link, const QString& locale);

  // The built-in service environments.
  static const std::string& ProductionUrl();
  static const std::string& PreproductionUrl();
  static std::string ProductionKey();
  static std::string PreproductionKey();

  const QString appName;
  const QString version;
  const QString copyrightYear;
  const QString dataDir;
  const QString logsDir;
  const QString resDir;
  const QString translationsDir;
  std::optional<Log::Severity> logLevel;
  const std::string usbUpdateDir;
  const std::string usbMetadataDir;
  const std::string usbChecksumFile;
  const std::string usbHeadUnitFile;
  const std::string usbFullMapDir;
  std::string serviceUrl;
  std::string serviceKey;
  std::optional<std::string> updateType;
  std::string retryDuration;
  QList<QLocale> locales;
  // Why config.json was refused or could not be written, in order. They
  // happen before the log exists: each is written to standard error at once
  // (unless logging is already on), and main logs them once its log is open.
  std::vector<std::string> errors;

private:
  void ReadConfig(const QString& path);
  void WriteConfig(const QString& path);
  void ReportError(const std::string& text);
};

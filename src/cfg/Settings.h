#pragma once

#include <QString>
#include <QTranslator>

#include <memory>
#include <mutex>

class Config;

// The user's lasting choices: the UI language and start at login, kept in
// settings.json in the data folder. Built once by Settings::get at start-up;
// Locale() and RunAtStartup() may be called from any thread.
class Settings
{
public:
  // The single instance; the first call reads settings.json and installs the
  // translation of the stored language.
  static Settings& get();

  // Reads the settings file of `config`'s data folder and applies it. Only
  // Settings::get and tests build one.
  Settings();
  explicit Settings(const Config& config);
  ~Settings();

  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  // Switches the UI language to `locale` ("de_DE"). True when its translation
  // was loaded and installed; on any failure the current language and its
  // translation stay in place.
  bool SetLocale(const QString& locale);
  // True when the value changed; the start-up file has then been written. A
  // file that cannot be written (logged) leaves the value in effect.
  bool SetRunAtStartup(bool enabled);
  // Writes settings.json (replacing it in one step). False, with the failure
  // logged, when it could not be written.
  bool Save();

  QString Locale() const;
  bool RunAtStartup() const;

private:
  const Config& config;
  const QString filePath;
  std::unique_ptr<QTranslator> translator;
  QString locale;
  bool runAtStartup;
  mutable std::mutex mutex;
};

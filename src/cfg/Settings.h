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
  // Switches start at login to `enabled` and writes the start-up entry to
  // match; true when the value changed. A change whose entry cannot be
  // written (logged as an error) is not taken: the value and the entry stay
  // as they were. An entry that an earlier write left behind the value is
  // written again, also when the value does not change.
  bool SetRunAtStartup(bool enabled);
  // Makes `enabled`, the value settings.json holds (or the default without a
  // readable file), the one in effect: loading and a save that could not be
  // stored use it. The value is taken whatever the entry's write does; an
  // entry that could not be written (logged as an error) is written again by
  // the next SetRunAtStartup, and at the next start when the value is on.
  void ApplyStoredRunAtStartup(bool enabled);
  // Writes settings.json (replacing it in one step). False, with the failure
  // logged, when it could not be written; the values in memory then stay as
  // they are, and putting back what the file holds is the caller's business.
  bool Save();

  QString Locale() const;
  bool RunAtStartup() const;

private:
  // Both ways of changing start at login; `keepOnFailure` leaves the value as
  // it was when the entry cannot be written.
  bool ChangeRunAtStartup(bool enabled, bool keepOnFailure);

  const Config& config;
  const QString filePath;
  std::unique_ptr<QTranslator> translator;
  QString locale;
  bool runAtStartup;
  // The start-up entry could not be written for the value in effect and may
  // not match it.
  bool entryBehind = false;
  mutable std::mutex mutex;
};

#include "cfg/Settings.h"

#include "Log.h"
#include "cfg/Config.h"
#include "platform/Platform.h"
#include "util/Filesystem.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <QCoreApplication>
#include <QFile>
#include <QLocale>

#include <sstream>

namespace pt = boost::property_tree;

namespace {

const char* BoolText(bool value)
{
  return value ? "true" : "false";
}

} // namespace

Settings& Settings::get()
{
  static Settings instance;
  return instance;
}

Settings::Settings() : Settings(Config::get()) {}

Settings::Settings(const Config& config)
    : config(config), filePath(config.dataDir + QStringLiteral("/settings.json")),
      translator(std::make_unique<QTranslator>()), locale(QStringLiteral("en_GB")), runAtStartup(false)
{
  LOG(Info) << "Reading settings from file: " << filePath;
  try {
    pt::ptree tree;
    pt::read_json(QFile::encodeName(filePath).toStdString(), tree);
    SetLocale(QString::fromStdString(tree.get<std::string>("language")));
    // The stored value is the one in effect, also when the start-up entry
    // cannot be written now.
    ApplyStoredRunAtStartup(tree.get<bool>("run at startup"));
    LOG(Info) << "Current language: " << locale << ", run at startup: " << BoolText(runAtStartup);
  } catch (const std::runtime_error& e) {
    LOG(Error) << "Failed to read: " << filePath << ", : " << e.what();
    ApplyStoredRunAtStartup(true);
    SetLocale(locale);
  }
}

Settings::~Settings()
{
  if (QCoreApplication::instance())
    QCoreApplication::removeTranslator(translator.get());
}

bool Settings::SetLocale(const QString& newLocale)
{
  std::lock_guard<std::mutex> lock(mutex);
  if (newLocale == locale) {
    LOG(Warning) << "locale: " << newLocale << " is already in use";
    return false;
  }
  LOG(Info) << "Changing language from: " << locale << " to: " << newLocale;

  // The new translation is loaded aside and swapped in only when it works, so
  // a failure leaves the current language fully in place.
  auto loaded = std::make_unique<QTranslator>();
  const QString file = config.translationFile(newLocale);
  if (!loaded->load(file)) {
    LOG(Error) << "Failed to load translation file: " << file;
    return false;
  }
  if (!QCoreApplication::installTranslator(loaded.get())) {
    LOG(Error) << "Failed to install translator";
    return false;
  }
  QCoreApplication::removeTranslator(translator.get());
  translator = std::move(loaded);

  locale = newLocale;
  QLocale::setDefault(QLocale(newLocale));
  return true;
}

bool Settings::SetRunAtStartup(bool enabled)
{
  return ChangeRunAtStartup(enabled, true);
}

void Settings::ApplyStoredRunAtStartup(bool enabled)
{
  ChangeRunAtStartup(enabled, false);
}

bool Settings::ChangeRunAtStartup(bool enabled, bool keepOnFailure)
{
  std::lock_guard<std::mutex> lock(mutex);
  const bool change = enabled != runAtStartup;
  if (!change && !entryBehind)
    return false;
  if (change)
    LOG(Info) << "Changing run at startup from: " << BoolText(runAtStartup) << " to: " << BoolText(enabled);
  // An entry that cannot be written stays whole as it was (the failure is
  // logged as an error).
  const bool written = SetRunAtStartupOS(enabled);
  if (!written && change && keepOnFailure)
    return false;
  runAtStartup = enabled;
  entryBehind = !written;
  return change;
}

bool Settings::Save()
{
  LOG(Info) << "Writing settings to file: " << filePath;
  try {
    pt::ptree tree;
    tree.put("language", Locale().toStdString());
    tree.put("run at startup", RunAtStartup());
    std::ostringstream text;
    pt::write_json(text, tree, true);
    QString error;
    if (!WriteFileAtomically(filePath, QByteArray::fromStdString(text.str()), &error))
      throw std::runtime_error(error.toStdString());
    return true;
  } catch (const std::runtime_error& e) {
    LOG(Error) << "Failed to write settings to file: " << filePath << ", : " << e.what();
    return false;
  }
}

QString Settings::Locale() const
{
  std::lock_guard<std::mutex> lock(mutex);
  return locale;
}

bool Settings::RunAtStartup() const
{
  std::lock_guard<std::mutex> lock(mutex);
  return runAtStartup;
}

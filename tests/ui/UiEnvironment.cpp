#include "cfg/Config.h"
#include "util/Fonts.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

// The configuration and the fonts are process-wide. Every widget test of this
// executable runs with one data folder, home and config folder of its own,
// made before the configuration is first built, and with the built-in fonts
// loaded before the first window (which would otherwise settle on a
// fallback font).
class UiEnvironment : public testing::Environment
{
public:
  void SetUp() override
  {
    ASSERT_TRUE(home.isValid());
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    Config::get();
    Fonts::Load();
  }

private:
  QTemporaryDir home;
};

testing::Environment* const environment = testing::AddGlobalTestEnvironment(new UiEnvironment);

} // namespace

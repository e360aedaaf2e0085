#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

// Built twice: with LUMORA_TEST_WIDGETS for the tests of libraries that draw
// (a QApplication), without it for the others (a QCoreApplication, so that
// they link neither QtGui nor QtWidgets).
#ifdef LUMORA_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv)
{
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  // Every run works in a home of its own, set before anything reads it: what
  // a test writes there (the start-at-login entry, the data folder, what the
  // programs it starts keep) never reaches the real home.
  const QTemporaryDir home;
  if (!home.isValid()) {
    std::fprintf(stderr, "No temporary home: %s\n", qPrintable(home.errorString()));
    return 1;
  }
  qputenv("HOME", QFile::encodeName(home.path()));
  const char* const folders[][2] = {{"XDG_CONFIG_HOME", "/.config"},
                                    {"XDG_DATA_HOME", "/.local/share"},
                                    {"XDG_CACHE_HOME", "/.cache"},
                                    {"XDG_STATE_HOME", "/.local/state"},
                                    {"XDG_RUNTIME_DIR", ""}};
  for (const auto& [name, folder] : folders)
    qputenv(name, QFile::encodeName(home.path() + QLatin1String(folder)));

  testing::InitGoogleTest(&argc, argv);
  TestApplication app(argc, argv);
  TestApplication::setOrganizationName("Arvel");
  TestApplication::setApplicationName("Lumora");
  return RUN_ALL_TESTS();
}

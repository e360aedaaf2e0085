#include <gtest/gtest.h>

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
  testing::InitGoogleTest(&argc, argv);
  TestApplication app(argc, argv);
  TestApplication::setOrganizationName("Arvel");
  TestApplication::setApplicationName("Lumora");
  return RUN_ALL_TESTS();
}

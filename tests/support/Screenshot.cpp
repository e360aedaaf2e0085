#include "Screenshot.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLayout>
#include <QPixmap>
#include <QWidget>

QString ScreenshotFolder()
{
  const QString chosen = qEnvironmentVariable("LUMORA_TEST_OUTPUT");
  if (!chosen.isEmpty())
    return chosen;
  return QStringLiteral(LUMORA_TEST_OUTPUT_ROOT "/") +
         QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

QString SaveScreenshot(QWidget* widget, const QString& name)
{
  const QString folder = ScreenshotFolder();
  if (!QDir().mkpath(folder))
    return {};
  widget->ensurePolished();
  if (QLayout* layout = widget->layout())
    layout->activate();
  QApplication::processEvents();
  QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
  return widget->grab().save(path) ? path : QString();
}

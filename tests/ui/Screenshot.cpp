#include "Screenshot.h"

#include <QApplication>
#include <QDir>
#include <QLayout>
#include <QPixmap>
#include <QWidget>

QString SaveScreenshot(QWidget* widget, const QString& name)
{
  QString folder = qEnvironmentVariable("LUMORA_TEST_OUTPUT", QStringLiteral(LUMORA_TEST_OUTPUT));
  if (!QDir().mkpath(folder))
    return {};
  widget->ensurePolished();
  if (QLayout* layout = widget->layout())
    layout->activate();
  QApplication::processEvents();
  QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
  return widget->grab().save(path) ? path : QString();
}

#include "util/Stylesheet.h"

#include "Log.h"

#include <QFile>
#include <QWidget>

void LoadStylesheet(const QString& path, QWidget* widget)
{
  LOG(Debug) << "Loading stylesheet from: " << path;
  if (!widget)
    return;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    LOG(Warning) << "Could not open file: " << path;
    return;
  }
  const QByteArray content = file.readAll();
  file.close();
  const int end = content.indexOf('\0');
  widget->setStyleSheet(QString::fromUtf8(end < 0 ? content : content.left(end)));
}

#include "util/Format.h"

#include <QCoreApplication>
#include <QRegExp>

#include <cmath>

QString MemorySizeToString(qint64 bytes, int decimals)
{
  static const char* const units[] = {QT_TRANSLATE_NOOP("global", "B"), QT_TRANSLATE_NOOP("global", "KB"),
                                      QT_TRANSLATE_NOOP("global", "MB"), QT_TRANSLATE_NOOP("global", "GB"),
                                      QT_TRANSLATE_NOOP("global", "TB")};

  QString unit;
  float value = static_cast<float>(bytes);
  for (int index = 4; index >= 0; --index) {
    const double power = std::pow(2.0, 10.0 * index);
    if (power <= static_cast<double>(bytes)) {
      unit = QCoreApplication::translate("global", units[index]);
      value = static_cast<float>(static_cast<double>(bytes) / power);
      break;
    }
  }
  if (unit.isNull())
    unit = QCoreApplication::translate("global", units[0]);

  return QStringLiteral("%1 %2").arg(QString::number(value, 'f', decimals), unit);
}

QString StripNonAlphaNumeric(const QString& text)
{
  QString result = text;
  result.remove(QRegExp(QStringLiteral("[^a-zA-Z\\d\\s]")));
  result.replace(QRegExp(QStringLiteral("\\s")), QStringLiteral("_"));
  return result;
}

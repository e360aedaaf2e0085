#include "util/Fonts.h"

#include "Log.h"

#include <QFontDatabase>

#include <stdexcept>

namespace Fonts {

void Load()
{
  LOG(Info) << "Loading application fonts";
  for (const char* path :
       {":/fonts/ArvelSans-Bold.ttf", ":/fonts/ArvelSans-Medium.ttf", ":/fonts/ArvelSans-Regular.ttf"}) {
    if (QFontDatabase::addApplicationFont(QString::fromLatin1(path)) < 0)
      LOG(Error) << "Failed to load font from: " << path;
  }
}

QFont Get(Type type, int pixelSize)
{
  QFont font;
  font.setPixelSize(pixelSize);
  font.setFamily(QStringLiteral("Arvel Sans"));
  switch (type) {
  case Regular:
    font.setStyleName(QStringLiteral("Regular"));
    break;
  case Medium:
    font.setStyleName(QStringLiteral("Medium"));
    break;
  case Bold:
    font.setStyleName(QStringLiteral("Bold"));
    break;
  default:
    throw std::logic_error("Unsupported font type");
  }
  return font;
}

} // namespace Fonts

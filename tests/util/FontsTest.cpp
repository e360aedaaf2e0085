#include "util/Fonts.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QRawFont>

TEST(Fonts, EachTypeIsDrawnWithTheBuiltInFontOfItsWeight)
{
  Fonts::Load();

  const std::tuple<Fonts::Type, const char*, int> cases[] = {
      {Fonts::Regular, "Regular", 400}, {Fonts::Medium, "Medium", 500}, {Fonts::Bold, "Bold", 700}};
  for (const auto& [type, style, weightClass] : cases) {
    SCOPED_TRACE(style);
    const QFont font = Fonts::Get(type, 16);
    // What the font database resolved the request to, and the file the text is drawn with.
    const QFontInfo resolved(font);
    EXPECT_EQ(resolved.family(), QStringLiteral("Arvel Sans"));
    EXPECT_EQ(resolved.styleName(), QLatin1String(style));
    EXPECT_EQ(resolved.pixelSize(), 16);
    const QRawFont raw = QRawFont::fromFont(font);
    EXPECT_EQ(raw.familyName(), QStringLiteral("Arvel Sans"));
    const QByteArray os2 = raw.fontTable("OS/2");
    ASSERT_GE(os2.size(), 6);
    EXPECT_EQ((static_cast<uchar>(os2[4]) << 8) | static_cast<uchar>(os2[5]), weightClass);
  }
  EXPECT_THROW(Fonts::Get(static_cast<Fonts::Type>(3), 12), std::logic_error);
}

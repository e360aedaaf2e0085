#include "util/Fonts.h"

#include "FrameTestSupport.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QRawFont>

#include <stdexcept>

using namespace FrameTest;

TEST(Fonts, LoadRegistersTheThreeStylesOfTheFamily)
{
  CapturedLog log;
  Fonts::Load();
  EXPECT_EQ(log.Matching("Loading application fonts").size(), 1);
  EXPECT_TRUE(log.Matching("Failed to load font from: ").isEmpty());

  const QFontDatabase database;
  EXPECT_TRUE(database.families().contains(QStringLiteral("Arvel Sans")));
  const QStringList styles = database.styles(QStringLiteral("Arvel Sans"));
  for (const char* style : {"Regular", "Medium", "Bold"})
    EXPECT_TRUE(styles.contains(QLatin1String(style))) << style << " in " << styles.join(", ").toStdString();
}

TEST(Fonts, GetMatchesTheBuiltInFontOfEachWeight)
{
  Fonts::Load();
  const struct
  {
    Fonts::Type type;
    const char* style;
    int weightClass;
  } cases[] = {{Fonts::Regular, "Regular", 400}, {Fonts::Medium, "Medium", 500}, {Fonts::Bold, "Bold", 700}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.style);
    const QFont font = Fonts::Get(c.type, 16);
    EXPECT_EQ(font.family(), QStringLiteral("Arvel Sans"));
    EXPECT_EQ(font.styleName(), QLatin1String(c.style));
    EXPECT_EQ(font.pixelSize(), 16);
    // What the font database actually resolved the request to.
    const QFontInfo resolved(font);
    EXPECT_EQ(resolved.family(), QStringLiteral("Arvel Sans"));
    EXPECT_EQ(resolved.styleName(), QLatin1String(c.style));
    EXPECT_EQ(resolved.pixelSize(), 16);
    // The font file the text is drawn with, and its weight class.
    const QRawFont raw = QRawFont::fromFont(font);
    EXPECT_EQ(raw.familyName(), QStringLiteral("Arvel Sans"));
    EXPECT_EQ(raw.styleName(), QLatin1String(c.style));
    const QByteArray os2 = raw.fontTable("OS/2");
    ASSERT_GE(os2.size(), 6);
    const int weightClass = (static_cast<uchar>(os2[4]) << 8) | static_cast<uchar>(os2[5]);
    EXPECT_EQ(weightClass, c.weightClass);
  }
}

TEST(Fonts, UnknownTypeIsALogicError)
{
  try {
    Fonts::Get(static_cast<Fonts::Type>(3), 12);
    FAIL() << "no exception";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "Unsupported font type");
  }
}

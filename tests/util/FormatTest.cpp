#include "util/Format.h"

#include <gtest/gtest.h>

TEST(MemorySizeToString, PicksTheLargestUnitReached)
{
  const struct
  {
    qint64 bytes;
    int decimals;
    const char* text;
  } cases[] = {
      {0, 2, "0.00 B"},
      {1, 2, "1.00 B"},
      {1023, 2, "1023.00 B"},
      {1024, 2, "1.00 KB"},
      {1536, 2, "1.50 KB"},
      {1048575, 2, "1024.00 KB"},
      {1048576, 2, "1.00 MB"},
      {1073741824, 2, "1.00 GB"},
      {1099511627776LL * 3 / 2, 1, "1.5 TB"},
      {1099511627776LL * 2048, 2, "2048.00 TB"},
      {-5, 2, "-5.00 B"},
      {1536, 0, "2 KB"},
      {7516192768LL, 2, "7.00 GB"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MemorySizeToString(c.bytes, c.decimals), QString::fromLatin1(c.text)) << c.bytes;
}

TEST(StripNonAlphaNumeric, KeepsAsciiLettersDigitsAndTurnsSpaceIntoUnderscores)
{
  EXPECT_EQ(StripNonAlphaNumeric("a b-c.d"), QStringLiteral("a_bcd"));
  EXPECT_EQ(StripNonAlphaNumeric("a  b"), QStringLiteral("a__b"));
  EXPECT_EQ(StripNonAlphaNumeric("a\tb\n"), QStringLiteral("a_b_"));
  EXPECT_EQ(StripNonAlphaNumeric(QStringLiteral("Straße 9/ü")), QStringLiteral("Strae_9"));
  EXPECT_EQ(StripNonAlphaNumeric(""), QString());
}

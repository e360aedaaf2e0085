#include "util/Format.h"

#include <gtest/gtest.h>

TEST(MemorySizeToString, PicksTheLargestUnitReached)
{
  const std::tuple<qint64, int, const char*> cases[] = {{1023, 2, "1023.00 B"},
                                                        {1024, 2, "1.00 KB"},
                                                        {1048575, 2, "1024.00 KB"},
                                                        {1073741824, 2, "1.00 GB"},
                                                        {1099511627776LL * 3 / 2, 1, "1.5 TB"},
                                                        {1099511627776LL * 2048, 2, "2048.00 TB"},
                                                        {-5, 2, "-5.00 B"},
                                                        {1536, 0, "2 KB"}};
  for (const auto& [bytes, decimals, text] : cases)
    EXPECT_EQ(MemorySizeToString(bytes, decimals), QString::fromLatin1(text)) << bytes;
}

TEST(StripNonAlphaNumeric, KeepsAsciiLettersDigitsAndTurnsSpaceIntoUnderscores)
{
  EXPECT_EQ(StripNonAlphaNumeric("a  b-c.d\t\n"), QStringLiteral("a__bcd__"));
  EXPECT_EQ(StripNonAlphaNumeric(QStringLiteral("Straße 9/ü")), QStringLiteral("Strae_9"));
}

#include "ui/OpenLink.h"

#include <gtest/gtest.h>

// Only http and https links with a host reach the browser; a refusal or a
// browser that does not start is a failure.
TEST(OpenLinkTest, OnlyWebPagesReachTheBrowserAndARefusedOrUnopenedLinkFails)
{
  // The link, whether a browser starts, and what reaches it (nothing of a
  // refused link).
  // clang-format off
  struct Case { const char* link; bool browserStarts; QString opened; } const cases[] = {
      {"https://www.arvel.invalid/terms/", true, "https://www.arvel.invalid/terms/"},
      {"HTTP://WWW.Arvel.invalid/a b", true, "http://www.arvel.invalid/a%20b"},
      {"https://www.arvel.invalid/", false, "https://www.arvel.invalid/"},
      {"file:///etc/passwd", true, ""},
      {"javascript:alert(1)", true, ""},
      {"lumora://settings", true, ""},
      {"https://", true, ""},
      {"www.arvel.invalid/help", true, ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    QString given;
    const auto previous = Ui::SetLinkOpener(
        [&](const QUrl& url) { return given = url.toString(QUrl::FullyEncoded), c.browserStarts; });
    EXPECT_EQ(Ui::OpenLink(c.link), !c.opened.isEmpty() && c.browserStarts);
    Ui::SetLinkOpener(previous);
    EXPECT_EQ(given, c.opened);
  }
}

#include "ui/OpenLink.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

// Only http and https links with a host reach the browser; a refusal or a
// browser that does not start is a warning and a failure.
TEST(OpenLinkTest, OnlyWebPagesReachTheBrowserAndEveryRefusalOrFailureIsAWarning)
{
  const std::string refused = "Refusing to open link that is not a web page: ";
  // clang-format off
  struct Case { const char* link; bool browserStarts; QString opened; std::string warning; } const cases[] = {
      {"https://www.arvel.invalid/terms/", true, "https://www.arvel.invalid/terms/", ""},
      {"HTTP://WWW.Arvel.invalid/a b", true, "http://www.arvel.invalid/a%20b", ""},
      {"https://www.arvel.invalid/", false, "https://www.arvel.invalid/",
       "Could not start a browser for link: https://www.arvel.invalid/"},
      {"file:///etc/passwd", true, "", refused + "file:///etc/passwd"},
      {"javascript:alert(1)", true, "", refused + "javascript:alert(1)"},
      {"lumora://settings", true, "", refused + "lumora://settings"},
      {"https://", true, "", refused + "https://"},
      {"www.arvel.invalid/help", true, "", refused + "www.arvel.invalid/help"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    QString given;
    const auto previous = Ui::SetLinkOpener(
        [&](const QUrl& url) { return given = url.toString(QUrl::FullyEncoded), c.browserStarts; });
    LogCapture log;
    EXPECT_EQ(Ui::OpenLink(c.link), !c.opened.isEmpty() && c.browserStarts);
    Ui::SetLinkOpener(previous);
    EXPECT_EQ(given, c.opened);
    std::string warnings;
    for (const std::string& line : log.Lines())
      if (line.find(" Warning | ") != std::string::npos)
        warnings += line.substr(line.rfind(" | ") + 3);
    EXPECT_EQ(warnings, c.warning);
  }
}

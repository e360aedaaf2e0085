#include "ui/OpenLink.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <string>
#include <vector>

TEST(OpenLinkTest, OnlyWebPagesReachTheBrowserAndEveryRefusalOrFailureIsAWarning)
{
  struct Case
  {
    const char* link;
    bool browserStarts;
    const char* opened; // what the browser is given, empty for nothing
    const char* warning;
  };
  const Case cases[] = {
      {"https://www.arvel.invalid/en/terms-and-conditions/", true,
       "https://www.arvel.invalid/en/terms-and-conditions/", nullptr},
      {"http://www.orvane.invalid/en_GB/account/login.html", true,
       "http://www.orvane.invalid/en_GB/account/login.html", nullptr},
      {"HTTPS://WWW.Arvel.invalid/a b", true, "https://www.arvel.invalid/a%20b", nullptr},
      {"https://www.arvel.invalid/", false, "https://www.arvel.invalid/",
       "Could not start a browser for link: https://www.arvel.invalid/"},
      {"file:///etc/passwd", true, "", "Refusing to open link that is not a web page: file:///etc/passwd"},
      {"javascript:alert(1)", true, "", "Refusing to open link that is not a web page: javascript:alert(1)"},
      {"mailto:someone@arvel.invalid", true, "",
       "Refusing to open link that is not a web page: mailto:someone@arvel.invalid"},
      {"ftp://ftp.arvel.invalid/map.tar", true, "",
       "Refusing to open link that is not a web page: ftp://ftp.arvel.invalid/map.tar"},
      {"lumora://settings", true, "", "Refusing to open link that is not a web page: lumora://settings"},
      {"https://", true, "", "Refusing to open link that is not a web page: https://"},
      {"www.arvel.invalid/help", true, "",
       "Refusing to open link that is not a web page: www.arvel.invalid/help"},
      {"", true, "", "Refusing to open link that is not a web page: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    QStringList given;
    Ui::LinkOpener previous = Ui::SetLinkOpener([&](const QUrl& url) {
      given << url.toString(QUrl::FullyEncoded);
      return c.browserStarts;
    });
    LogCapture log;
    const bool result = Ui::OpenLink(QString::fromUtf8(c.link));
    Ui::SetLinkOpener(previous);

    EXPECT_EQ(result, *c.opened && c.browserStarts);
    EXPECT_EQ(given, *c.opened ? QStringList(c.opened) : QStringList());
    std::vector<std::string> warnings;
    for (const std::string& line : log.Lines())
      if (line.find(" Warning | ") != std::string::npos)
        warnings.push_back(line.substr(line.rfind(" | ") + 3));
    EXPECT_EQ(warnings, c.warning ? std::vector<std::string>{c.warning} : std::vector<std::string>{});
  }
}

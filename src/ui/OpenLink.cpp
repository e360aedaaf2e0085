#include "ui/OpenLink.h"

#include "Log.h"

#include <QDesktopServices>

namespace Ui {

namespace {

LinkOpener& Opener()
{
  static LinkOpener opener;
  return opener;
}

bool IsWebPage(const QUrl& url)
{
  // QUrl keeps schemes in lower case, so "HTTPS:" arrives as "https".
  const QString scheme = url.scheme();
  return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
         !url.host().isEmpty();
}

} // namespace

bool OpenLink(const QString& link)
{
  return OpenLink(QUrl(link, QUrl::TolerantMode));
}

bool OpenLink(const QUrl& url)
{
  const QString shown = url.toDisplayString();
  if (!IsWebPage(url)) {
    LOG(Warning) << "Refusing to open link that is not a web page: " << shown;
    return false;
  }
  LOG(Debug) << "Opening link: " << shown;
  const LinkOpener& opener = Opener();
  const bool opened = opener ? opener(url) : QDesktopServices::openUrl(url);
  if (!opened)
    LOG(Warning) << "Could not start a browser for link: " << shown;
  return opened;
}

LinkOpener SetLinkOpener(LinkOpener opener)
{
  LinkOpener previous = std::move(Opener());
  Opener() = std::move(opener);
  return previous;
}

} // namespace Ui

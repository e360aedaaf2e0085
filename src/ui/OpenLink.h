#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace Ui {

// Opens a web page in the system's browser. Every widget that opens a link
// goes through here, so that only http and https addresses ever leave the
// application: any other scheme (file, mailto, javascript, a custom handler),
// an address without a host and an unparsable one are refused with a Warning.
// The text is parsed tolerantly, as typed addresses are. Returns true when a
// browser took the page; a browser that could not be started is logged as a
// Warning and gives false. Main thread only.
bool OpenLink(const QString& link);
bool OpenLink(const QUrl& url);

// What hands an accepted address to the system; QDesktopServices::openUrl
// unless replaced. Tests put their own in place to see what would be opened.
using LinkOpener = std::function<bool(const QUrl&)>;

// Replaces the opener (an empty function restores QDesktopServices::openUrl)
// and returns the one in place before.
LinkOpener SetLinkOpener(LinkOpener opener);

} // namespace Ui

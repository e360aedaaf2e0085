#include "Client.h"

#include "AsyncRequest.h"
#include "Log.h"
#include "Request.h"

#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QProcessEnvironment>
#include <QUrl>

#include <utility>

namespace Tesk {

namespace {

const QString Xml = QStringLiteral("application/xml");

QString FromUtf8(const std::string& text)
{
  return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

} // namespace

IClient* CreateClient(std::string baseUrl, std::string key)
{
  return new Client(std::move(baseUrl), std::move(key));
}

Client::Client(std::string baseUrl, std::string key) : baseUrl(std::move(baseUrl)), key(std::move(key))
{
  SetUpProxy();
}

void Client::SetUpProxy()
{
  const QString value =
      QProcessEnvironment::systemEnvironment().value(QStringLiteral("https_proxy")).trimmed();
  if (!value.isEmpty()) {
    // "proxy:3128" has no scheme; read as a URL it would be the scheme "proxy".
    const QString text = value.contains(QLatin1String("://")) ? value : QStringLiteral("http://") + value;
    const QUrl url(text, QUrl::TolerantMode);
    const QString host = url.host(QUrl::FullyDecoded);
    if (url.isValid() && !host.isEmpty()) {
      LOG(Info) << "Setting proxy to: " << host;
      manager.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, host,
                                     static_cast<quint16>(url.port(DefaultProxyPort)),
                                     url.userName(QUrl::FullyDecoded), url.password(QUrl::FullyDecoded)));
      return;
    }
    LOG(Warning) << "Ignoring https_proxy: it names no proxy host; using the system proxy";
  }

  const auto proxies = QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery());
  for (const auto& proxy : proxies) {
    if (!proxy.hostName().isEmpty()) {
      LOG(Info) << "Setting proxy to: " << proxy.hostName();
      manager.setProxy(proxy);
      return;
    }
  }
}

IRequest* Client::XmlRequest(const char* path, std::ostream& stream, const std::string* id,
                             const std::string* locale, IResponse& response)
{
  QMap<QString, QString> headers;
  headers.insert(QStringLiteral("Content-type"), Xml);
  headers.insert(QStringLiteral("Accept"), Xml);
  if (locale)
    headers.insert(QStringLiteral("Accept-Language"), FromUtf8(*locale));

  QMap<QString, QString> arguments;
  arguments.insert(QStringLiteral("key"), FromUtf8(key));
  if (id)
    arguments.insert(QStringLiteral("id"), FromUtf8(*id));

  return new Request(manager, FromUtf8(baseUrl + path), headers, arguments, response, stream, nullptr);
}

IRequest* Client::GetAllNewest(std::ostream& stream, const std::string& id, IResponse& response)
{
  LOG(Info) << "Creating AllNewest request for package: " << id;
  return XmlRequest("/package/allnewest", stream, &id, nullptr, response);
}

IRequest* Client::GetAllRelated(std::ostream& stream, const std::string& id, IResponse& response)
{
  LOG(Info) << "Creating AllRelated request for package: " << id;
  return XmlRequest("/package/allrelated", stream, &id, nullptr, response);
}

IRequest* Client::GetAllRoots(std::ostream& stream, IResponse& response)
{
  LOG(Info) << "Creating AllRoots request for package";
  return XmlRequest("/package/allroots", stream, nullptr, nullptr, response);
}

IRequest* Client::GetDownloadInfo(std::ostream& stream, const std::string& id, IResponse& response)
{
  LOG(Info) << "Creating DownloadInfo request for package: " << id;
  return XmlRequest("/package/downloadinfo", stream, &id, nullptr, response);
}

IRequest* Client::GetLocaleContentData(std::ostream& stream, const std::string& id, const std::string& locale,
                                       IResponse& response)
{
  LOG(Info) << "Creating LocaleContentData request for package: " << id << " and locale: " << locale;
  return XmlRequest("/package/localecontentdata", stream, &id, &locale, response);
}

IRequest* Client::GetLocaleData(std::ostream& stream, const std::string& id, const std::string& locale,
                                IResponse& response)
{
  LOG(Info) << "Creating LocaleData request for package: " << id << " and locale: " << locale;
  return XmlRequest("/package/localedata", stream, &id, &locale, response);
}

IRequest* Client::GetMapContent(std::ostream& stream, IResponse& response)
{
  LOG(Info) << "Creating MapContent request";
  QMap<QString, QString> headers;
  headers.insert(QStringLiteral("Accept"), QStringLiteral("application/x-tar"));
  return new AsyncRequest(manager, FromUtf8(baseUrl), headers, {}, response, stream, nullptr);
}

IRequest* Client::GetMetadata(std::ostream& stream, const std::string& id, IResponse& response)
{
  LOG(Info) << "Creating Metadata request for package: " << id;
  return XmlRequest("/package/metadata", stream, &id, nullptr, response);
}

} // namespace Tesk

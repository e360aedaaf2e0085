#pragma once

#include "IClient.h"

#include <QNetworkAccessManager>

#include <string>

namespace Tesk {

// The service client of one endpoint: a network access manager with the proxy
// set up, the base URL and the service key. It builds the requests of the
// eight operations; the caller sends them.
//
// Proxy: `https_proxy` from the environment (only this lower-case name), when
// not empty, is used as an HTTP proxy for every request, whatever its scheme.
// "host:port" without a scheme means an HTTP proxy on that host and port; a
// value without a port uses port 1080; a value without a usable host is logged
// as a Warning and ignored. Otherwise the first system proxy with a host name
// is used, if any.
//
// The client lives on one thread, on which its requests are sent; it must
// outlive them (destroying it destroys their replies).
class Client : public IClient
{
public:
  Client(std::string baseUrl, std::string key);
  ~Client() override = default;

  IRequest* GetAllNewest(std::ostream& stream, const std::string& id, IResponse& response) override;
  IRequest* GetAllRelated(std::ostream& stream, const std::string& id, IResponse& response) override;
  IRequest* GetAllRoots(std::ostream& stream, IResponse& response) override;
  IRequest* GetDownloadInfo(std::ostream& stream, const std::string& id, IResponse& response) override;
  IRequest* GetLocaleContentData(std::ostream& stream, const std::string& id, const std::string& locale,
                                 IResponse& response) override;
  IRequest* GetLocaleData(std::ostream& stream, const std::string& id, const std::string& locale,
                          IResponse& response) override;
  IRequest* GetMapContent(std::ostream& stream, IResponse& response) override;
  IRequest* GetMetadata(std::ostream& stream, const std::string& id, IResponse& response) override;

  // The port of an https_proxy value that names none.
  static constexpr int DefaultProxyPort = 1080;

private:
  void SetUpProxy();
  IRequest* XmlRequest(const char* path, std::ostream& stream, const std::string* id,
                       const std::string* locale, IResponse& response);

  QNetworkAccessManager manager;
  const std::string baseUrl;
  const std::string key;
};

} // namespace Tesk

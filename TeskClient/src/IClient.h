#pragma once

#include "IRequest.h"
#include "IResponse.h"

#include <memory>
#include <ostream>
#include <string>

namespace Tesk {

// Builds the requests of the map-update service for one endpoint. Every
// operation returns a new, unsent request that the caller owns; the body of
// the reply goes to `stream`, progress and the result to `response`. Both must
// outlive the request, and the client must outlive every request it built.
class IClient
{
public:
  virtual ~IClient() = default;

  // GET <base>/package/allnewest?id=<id>&key=<key>
  virtual IRequest* GetAllNewest(std::ostream& stream, const std::string& id, IResponse& response) = 0;
  // GET <base>/package/allrelated?id=<id>&key=<key>
  virtual IRequest* GetAllRelated(std::ostream& stream, const std::string& id, IResponse& response) = 0;
  // GET <base>/package/allroots?key=<key>
  virtual IRequest* GetAllRoots(std::ostream& stream, IResponse& response) = 0;
  // GET <base>/package/downloadinfo?id=<id>&key=<key>
  virtual IRequest* GetDownloadInfo(std::ostream& stream, const std::string& id, IResponse& response) = 0;
  // GET <base>/package/localecontentdata?id=<id>&key=<key>, Accept-Language: <locale>
  virtual IRequest* GetLocaleContentData(std::ostream& stream, const std::string& id,
                                         const std::string& locale, IResponse& response) = 0;
  // GET <base>/package/localedata?id=<id>&key=<key>, Accept-Language: <locale>
  virtual IRequest* GetLocaleData(std::ostream& stream, const std::string& id, const std::string& locale,
                                  IResponse& response) = 0;
  // GET <base> itself (the map archive URL), Accept: application/x-tar, no key.
  virtual IRequest* GetMapContent(std::ostream& stream, IResponse& response) = 0;
  // GET <base>/package/metadata?id=<id>&key=<key>
  virtual IRequest* GetMetadata(std::ostream& stream, const std::string& id, IResponse& response) = 0;
};

// A new client for `baseUrl` (the service base URL, or the archive URL of a
// download) and `key` (empty for a download). The caller owns it.
IClient* CreateClient(std::string baseUrl, std::string key);

} // namespace Tesk

#pragma once

#include "fmu/MapInfo.h"
#include "usb/UsbInfo.h"

#include "IClient.h"
#include "IRequest.h"
#include "IResponse.h"

#include <boost/filesystem/path.hpp>

#include <QDate>
#include <QMetaType>
#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

// Asks the map-update service which maps the vehicle may receive and fills
// the map store with them.
//
// A root check (no stick, or a stick without map metadata) offers the newest
// map of every map line. A related check reads the head-unit file and the
// installed map's metadata from the stick, stores the installed map, and
// offers the newer releases of its map line and region that the subscription
// covers, as mandatory or optional updates. Each check reports exactly one
// Result through the callback it was given (names fetched again after it
// report it once more, see UpdateLocale); failures found on the stick are
// reported before CheckRelatedUpdates returns, everything else later, from
// the event loop of the thread that runs the checker.
//
// Threading: the checker, its service client and all its requests belong to
// one thread, the one that calls its operations (in the application the
// update manager's worker thread). The client is made at the first request,
// so the checker may be built on another thread and used after it (or its
// owner) has been moved. A check that starts, and Abort, drop every request
// of the earlier check: no late reply refills the store or reports.
// Do not destroy the checker from inside its callback.
class MetadataChecker
{
public:
  enum Result : std::int32_t
  {
    Ok = 0,
    InvalidMetadata = 1,
    NoConnection = 2,
    NoSubscription = 3,
    ServerError = 4,
    SubscriptionExpired = 5,
    UsbRemoved = 6,
    NoMetadata = 7
  };

  using Callback = std::function<void(Result)>;

  // The response sink of one service request: it owns the transport request,
  // the reply body and the completion that it calls with the request's result.
  class Request : public Tesk::IResponse
  {
  public:
    using Completion = std::function<void(Tesk::IResponse::Result)>;

    // Bodies larger than this fail the request (IOError): no reply the check
    // reads is that large.
    static constexpr std::size_t MaxBodySize = 4 * 1024 * 1024;

    explicit Request(Completion done);
    ~Request() override;

    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // The stream that the transport request writes the body into.
    std::ostream& Body() { return body; }
    // Moves the body out.
    std::string TakeBody();

    // Takes the transport request, sets its inactivity time-out and sends it.
    void Send(std::unique_ptr<Tesk::IRequest> transport, std::chrono::milliseconds timeout);

    void OnResult(Tesk::IResponse::Result result) override;

  private:
    // A string buffer that refuses to grow beyond MaxBodySize.
    class BodyBuffer : public std::stringbuf
    {
    public:
      BodyBuffer() : std::stringbuf(std::ios::out) {}

    protected:
      std::streamsize xsputn(const char* data, std::streamsize count) override;
      int_type overflow(int_type c) override;

    private:
      std::size_t Written() const { return static_cast<std::size_t>(pptr() - pbase()); }
    };

    BodyBuffer buffer;
    std::ostream body;
    Completion completion;
    // Last, so that it goes first: it refers to the body and to this sink.
    std::unique_ptr<Tesk::IRequest> request;
  };

  // Where the checker finds the service, the stick's files and the UI language.
  struct Setup
  {
    std::string serviceUrl;
    std::string serviceKey;
    std::string metadataDir;         // the stick's metadata folder, relative to its mount path
    std::string headUnitFile;        // the head-unit file, relative to the mount path
    std::function<QString()> locale; // the UI language, as "de_DE"

    // The configuration's service and stick layout and the user's language.
    static Setup FromConfig();
  };

  // Takes its setup from the configuration and the user settings.
  MetadataChecker();
  explicit MetadataChecker(Setup where);
  // Destroys the outstanding requests without calling any callback.
  ~MetadataChecker();

  MetadataChecker(const MetadataChecker&) = delete;
  MetadataChecker& operator=(const MetadataChecker&) = delete;

  // Empties the map store and asks the service for the newest map of every
  // root. Reports Ok, NoConnection or ServerError. Throws std::logic_error
  // for an empty callback.
  void CheckRootUpdates(Callback report);

  // Checks the stick `usb` and asks for the maps related to its installed map.
  // A stick in state InvalidMetadata is reported as such at once. Failures
  // found on the stick (UsbRemoved, NoMetadata, InvalidMetadata,
  // NoSubscription) are reported before the call returns. Throws
  // std::logic_error for an empty callback.
  void CheckRelatedUpdates(const UsbInfo& usb, Callback report);

  // Asks again for the name of every stored map in the current UI language;
  // a name still asked for in the former language is asked for anew. While a
  // check runs the names are part of it, and it reports once. Otherwise,
  // when the last check came to its end with every answer (Ok or
  // SubscriptionExpired), the callback of that check is called once more
  // after the last name has arrived, with the result its end gives now. No
  // map stored, a last check that failed, names that all failed to arrive,
  // or a check started before the last answer: nothing is reported. The
  // callback of a check that came to its end is kept for this until the
  // next check or Abort. `beforeReport`, when given, is called just before
  // that result is reported again, so that its receiver can tell it from the
  // result of a check it has asked for since.
  void UpdateLocale(std::function<void()> beforeReport = nullptr);

  // Drops every outstanding request; the running check reports nothing.
  void Abort();

  static constexpr std::chrono::milliseconds RequestTimeout{5000};

private:
  using Table = std::map<MapInfo::Id, std::unique_ptr<Request>>;
  using Handler = void (MetadataChecker::*)(MapInfo::Id, Tesk::IResponse::Result);
  using Build = std::function<Tesk::IRequest*(Tesk::IClient&, std::ostream&, const MapInfo::Id&, Request&)>;

  enum class Check
  {
    None,
    Root,
    Related
  };

  Tesk::IClient& Client();

  void GetAllRoots();
  void GetAllNewest(const MapInfo::Id& id);
  void GetAllRelated(const MapInfo::Id& id);
  void GetMetadata(const MapInfo::Id& id);
  void GetDownloadInfo(const MapInfo::Id& id);
  void GetLocaleData(const MapInfo::Id& id);
  void Get(Table& table, const char* kind, const MapInfo::Id& id, Handler handler, const Build& build);

  void OnAllRoots(Tesk::IResponse::Result result);
  void OnAllNewest(MapInfo::Id id, Tesk::IResponse::Result result);
  void OnAllRelated(MapInfo::Id id, Tesk::IResponse::Result result);
  void OnMetadata(MapInfo::Id id, Tesk::IResponse::Result result);
  void OnDownloadInfo(MapInfo::Id id, Tesk::IResponse::Result result);
  void OnLocaleData(MapInfo::Id id, Tesk::IResponse::Result result);

  // Runs a handler for a reply that the event loop delivered.
  void Deliver(const std::function<void()>& handle);
  // Takes the reply body of the request for `id` out of `table`; the sink is
  // kept until the delivery that runs now has returned.
  bool TakeReply(Table& table, const MapInfo::Id& id, std::string& body);
  // The related check's filters; true keeps the map.
  bool Accept(const MapInfo& map) const;
  // Reads the stick of a related check: its metadata files, the installed
  // map among them, and the head-unit file. Ok, or the failure to report.
  Result ReadStick(const std::string& mountPath);
  static Result ListMetadataFiles(const boost::filesystem::path& folder,
                                  std::vector<boost::filesystem::path>& files);
  Result ReadInstalledMap(const boost::filesystem::path& folder,
                          const std::vector<boost::filesystem::path>& files);
  Result ReadHeadUnit(const boost::filesystem::path& mount);

  // The parsed reply, or nothing when the request failed or its reply cannot
  // be used; either ends the running check.
  template <typename Parse>
  auto Parsed(const char* kind, const MapInfo::Id& id, Tesk::IResponse::Result result,
              const std::string& body, Parse parse) -> std::optional<decltype(parse(body))>;
  void RequestFailed(const char* kind, const MapInfo::Id& id, Tesk::IResponse::Result result);
  void ReplyUnusable(const char* kind, const MapInfo::Id& id, const std::string& reason);
  // Reports the running check's result once every request has been answered;
  // outside a check, the names fetched again (see UpdateLocale).
  void CheckComplete();
  // The result at the end of a check of that kind that had all its answers.
  Result CompleteResult(Check kind) const;
  void Finish(Result result);
  // Forgets the check that came to its end: a new one starts, or all stops.
  void Forget();
  void DropRequests();
  void ReleaseRetired();

  // Destroyed last, after every request built through it.
  std::unique_ptr<Tesk::IClient> client;
  Setup setup;
  MapInfo installed; // the related check's installed map
  QDate subscriptionEnd;
  Callback callback;
  Check check = Check::None;
  // The last check, when it came to its end with every answer, and its
  // callback: names fetched again are reported through it.
  Check completed = Check::None;
  Callback completedReport;
  // Names are fetched again outside a check; one of them has arrived.
  bool renaming = false;
  bool renamed = false;
  std::function<void()> beforeRenamedReport;
  int delivering = 0;
  // Sinks whose reply was taken while their delivery may still be running.
  std::vector<std::unique_ptr<Request>> retired;
  std::unique_ptr<Request> allRoots;
  Table allNewest;
  Table allRelated;
  Table metadata;
  Table downloadInfo;
  Table localeData;
};

// Writes the value's name ("Ok", "InvalidMetadata", ...); nothing for any other value.
std::ostream& operator<<(std::ostream& os, MetadataChecker::Result result);

Q_DECLARE_METATYPE(MetadataChecker::Result)

#include "fmu/MetadataChecker.h"

#include "fmu/HeadUnitFile.h"
#include "fmu/MapStorage.h"

#include "Models/ContentError.h"
#include "Models/DownloadInfo.h"
#include "Models/LocaleData.h"
#include "Models/Metadata.h"
#include "Models/PackageList.h"

#include "cfg/Config.h"
#include "cfg/Settings.h"

#include "EnumNames.h"
#include "Log.h"

#include <boost/algorithm/string/predicate.hpp>
#include <boost/filesystem.hpp>

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace fs = boost::filesystem;

namespace {

std::wstring Decoded(const std::string& utf8)
{
  return QString::fromUtf8(utf8.data(), static_cast<int>(utf8.size())).toStdWString();
}

// An available map as a metadata document describes it; its type is the
// caller's to set.
MapInfo MapFromHeader(const Tesk::MetadataHeader& header)
{
  MapInfo map;
  map.state = MapInfo::Available;
  map.id = header.id;
  map.name = Decoded(header.name);
  map.mapLineId = header.mapLineId;
  map.release = header.release;
  map.region = header.region;
  return map;
}

MetadataChecker::Result CheckResult(Tesk::IResponse::Result result)
{
  return result == Tesk::IResponse::NoConnection ? MetadataChecker::NoConnection
                                                 : MetadataChecker::ServerError;
}

// Changes the stored map with that id, unless it is no longer stored.
template <typename Change>
void Refresh(const MapInfo::Id& id, Change change)
{
  MapStorage::Get().ModifyMap(id, change);
}

// The builder of a request that the client makes from the map's id alone.
using ClientCall = Tesk::IRequest* (Tesk::IClient::*)(std::ostream&, const std::string&, Tesk::IResponse&);
auto Call(ClientCall call)
{
  return [call](Tesk::IClient& client, std::ostream& body, const MapInfo::Id& id, Tesk::IResponse& sink) {
    return (client.*call)(body, id, sink);
  };
}

// Counts a scope in and out.
struct Counter
{
  explicit Counter(int& value) : value(value) { ++value; }
  ~Counter() { --value; }
  int& value;
};

} // namespace

// ---------------------------------------------------------------------------
// The response sink

std::streamsize MetadataChecker::Request::BodyBuffer::xsputn(const char* data, std::streamsize count)
{
  if (count > 0 && static_cast<std::size_t>(count) > MaxBodySize - std::min(Written(), MaxBodySize))
    return 0;
  return std::stringbuf::xsputn(data, count);
}

MetadataChecker::Request::BodyBuffer::int_type MetadataChecker::Request::BodyBuffer::overflow(int_type c)
{
  if (!traits_type::eq_int_type(c, traits_type::eof()) && Written() >= MaxBodySize)
    return traits_type::eof();
  return std::stringbuf::overflow(c);
}

MetadataChecker::Request::Request(Completion done) : body(&buffer), completion(std::move(done)) {}

MetadataChecker::Request::~Request() = default;

std::string MetadataChecker::Request::TakeBody()
{
  std::string text = buffer.str();
  buffer.str(std::string());
  return text;
}

void MetadataChecker::Request::Send(std::unique_ptr<Tesk::IRequest> transport,
                                    std::chrono::milliseconds timeout)
{
  request = std::move(transport);
  request->SetTimeout(timeout);
  request->Send();
}

void MetadataChecker::Request::OnResult(Tesk::IResponse::Result result)
{
  // The completion's handler takes this sink out of its table; nothing of the
  // sink is used after the call.
  if (completion)
    completion(result);
}

// ---------------------------------------------------------------------------
// Construction

MetadataChecker::Setup MetadataChecker::Setup::FromConfig()
{
  const Config& config = Config::get();
  Setup setup;
  setup.serviceUrl = config.serviceUrl;
  setup.serviceKey = config.serviceKey;
  setup.metadataDir = config.usbMetadataDir;
  setup.headUnitFile = config.usbHeadUnitFile;
  setup.locale = [] { return Settings::get().Locale(); };
  return setup;
}

MetadataChecker::MetadataChecker() : MetadataChecker(Setup::FromConfig()) {}

MetadataChecker::MetadataChecker(Setup where) : setup(std::move(where)) {}

MetadataChecker::~MetadataChecker()
{
  DropRequests();
  retired.clear();
}

Tesk::IClient& MetadataChecker::Client()
{
  // Made on first use, on the thread that sends the requests, so that its
  // network access belongs to that thread.
  if (!client)
    client.reset(Tesk::CreateClient(setup.serviceUrl, setup.serviceKey));
  return *client;
}

// ---------------------------------------------------------------------------
// The checks

void MetadataChecker::CheckRootUpdates(Callback report)
{
  LOG(Debug) << "Checking root updates";
  if (!report)
    throw std::logic_error("Failed to check root updates: callback is empty");
  ReleaseRetired();
  DropRequests();
  Forget();
  callback = std::move(report);
  check = Check::Root;
  installed.Clear();
  subscriptionEnd = QDate();
  MapStorage::Get().Clear();
  GetAllRoots();
}

void MetadataChecker::CheckRelatedUpdates(const UsbInfo& usb, Callback report)
{
  LOG(Debug) << "Checking related updates";
  if (!report)
    throw std::logic_error("Failed to check related updates: callback is empty");
  ReleaseRetired();
  DropRequests();
  Forget();
  check = Check::None;
  callback = nullptr;

  if (usb.state == UsbInfo::InvalidMetadata) {
    LOG(Warning) << "Usb metadata is invalid";
    report(InvalidMetadata);
    return;
  }

  installed.Clear();
  subscriptionEnd = QDate();
  MapStorage::Get().Clear();

  const Result stick = ReadStick(usb.path);
  if (stick != Ok) {
    LOG(Info) << "Map update check finished with result: " << stick;
    report(stick);
    return;
  }

  callback = std::move(report);
  check = Check::Related;
  // The installed map is offered too, so that it can be put back.
  MapStorage::Get().UpdateMap(installed);
  GetDownloadInfo(installed.id);
  GetLocaleData(installed.id);
  GetAllRelated(installed.id);
}

MetadataChecker::Result MetadataChecker::ReadStick(const std::string& mountPath)
{
  boost::system::error_code error;
  const fs::path mount(mountPath);
  if (mountPath.empty() || !fs::is_directory(mount, error)) {
    LOG(Warning) << "Usb was removed: " << mount;
    return UsbRemoved;
  }

  const fs::path folder = mount / setup.metadataDir;
  if (!fs::is_directory(folder, error)) {
    LOG(Warning) << "Metadata folder is missing: " << folder;
    return NoMetadata;
  }

  std::vector<fs::path> files;
  Result result = ListMetadataFiles(folder, files);
  if (result == Ok)
    result = ReadInstalledMap(folder, files);
  if (result == Ok)
    result = ReadHeadUnit(mount);
  return result;
}

MetadataChecker::Result MetadataChecker::ListMetadataFiles(const fs::path& folder,
                                                           std::vector<fs::path>& files)
{
  // The installed map's metadata is the .xml file named after the map it holds.
  boost::system::error_code error;
  fs::directory_iterator entry(folder, error);
  for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
    const fs::path& path = entry->path();
    boost::system::error_code statusError;
    if (boost::iequals(path.extension().string(), ".xml") && fs::is_regular_file(path, statusError))
      files.push_back(path);
  }
  if (error) {
    LOG(Warning) << "Failed to read metadata folder: " << folder << ", " << error.message();
    return InvalidMetadata;
  }
  std::sort(files.begin(), files.end());
  return Ok;
}

MetadataChecker::Result MetadataChecker::ReadInstalledMap(const fs::path& folder,
                                                          const std::vector<fs::path>& files)
{
  bool unusable = false;
  bool found = false;
  for (const auto& file : files) {
    try {
      const Tesk::Metadata content = Tesk::ReadMetadataFile(file);
      const Tesk::MetadataHeader& header = Tesk::Header(content);
      if (header.id != file.stem().string()) {
        LOG(Debug) << "Metadata file " << file << " holds map: " << header.id;
        continue;
      }
      installed = MapFromHeader(header);
      installed.type = MapInfo::Installed;
      found = true;
      break;
    } catch (const Tesk::ContentError& contentError) {
      LOG(Warning) << contentError.what() << " (" << file << ")";
      unusable = true;
    }
  }
  if (!found) {
    LOG(Warning) << "Installed map metadata is " << (unusable ? "unusable" : "missing") << " in: " << folder;
    return unusable ? InvalidMetadata : NoMetadata;
  }
  LOG(Info) << "Installed map: " << installed.id << ", release: " << installed.release;
  return Ok;
}

MetadataChecker::Result MetadataChecker::ReadHeadUnit(const fs::path& mount)
{
  HeadUnitInfo headUnit;
  try {
    headUnit = HeadUnitFile::Read(mount / setup.headUnitFile);
  } catch (const HeadUnitFile::Error& headUnitError) {
    LOG(Warning) << "Failed to read head unit file: " << headUnitError.what();
    return InvalidMetadata;
  }
  MapStorage::Get().UpdateHeadUnit(headUnit);
  subscriptionEnd = headUnit.subscriptionEnd;
  if (!subscriptionEnd.isValid()) {
    LOG(Warning) << "No subscription";
    return NoSubscription;
  }
  return Ok;
}

void MetadataChecker::UpdateLocale(std::function<void()> beforeReport)
{
  beforeRenamedReport = std::move(beforeReport);
  LOG(Debug) << "Updating map names";
  ReleaseRetired();
  for (const auto& entry : MapStorage::Get().GetMaps()) {
    // A request still out asks in the former language: it goes (the sink of
    // a reply being handled has left the table already).
    localeData.erase(entry.first);
    GetLocaleData(entry.first);
  }
  // A running check reports the names with its own result.
  if (check == Check::None && completed != Check::None && !localeData.empty() && !renaming) {
    renaming = true;
    renamed = false;
  }
}

void MetadataChecker::Abort()
{
  LOG(Debug) << "Aborting all requests";
  ReleaseRetired();
  DropRequests();
  Forget();
  check = Check::None;
  callback = nullptr;
}

void MetadataChecker::Forget()
{
  completed = Check::None;
  completedReport = nullptr;
  renaming = false;
}

// ---------------------------------------------------------------------------
// Requests

void MetadataChecker::GetAllRoots()
{
  auto sink = std::make_unique<Request>([checker = this](Tesk::IResponse::Result result) {
    MetadataChecker* self = checker;
    self->Deliver([self, result] { self->OnAllRoots(result); });
  });
  LOG(Debug) << "Sending AllRoots request";
  std::unique_ptr<Tesk::IRequest> request(Client().GetAllRoots(sink->Body(), *sink));
  allRoots = std::move(sink);
  allRoots->Send(std::move(request), RequestTimeout);
}

void MetadataChecker::Get(Table& table, const char* kind, const MapInfo::Id& id, Handler handler,
                          const Build& build)
{
  const auto inserted = table.emplace(id, nullptr);
  if (!inserted.second) {
    LOG(Warning) << kind << " request is already in progress";
    return;
  }
  auto& sink = inserted.first->second;
  sink = std::make_unique<Request>([checker = this, handler, id](Tesk::IResponse::Result result) {
    // The handler erases the entry, and with it this completion: keep what it
    // needs on the stack.
    MetadataChecker* self = checker;
    const Handler handle = handler;
    MapInfo::Id copy = id;
    self->Deliver([self, handle, &copy, result] { (self->*handle)(std::move(copy), result); });
  });
  LOG(Debug) << "Sending " << kind << " request for map: " << id;
  try {
    std::unique_ptr<Tesk::IRequest> request(build(Client(), sink->Body(), id, *sink));
    sink->Send(std::move(request), RequestTimeout);
  } catch (...) {
    table.erase(id);
    throw;
  }
}

void MetadataChecker::GetAllNewest(const MapInfo::Id& id)
{
  Get(allNewest, "AllNewest", id, &MetadataChecker::OnAllNewest, Call(&Tesk::IClient::GetAllNewest));
}

void MetadataChecker::GetAllRelated(const MapInfo::Id& id)
{
  Get(allRelated, "AllRelated", id, &MetadataChecker::OnAllRelated, Call(&Tesk::IClient::GetAllRelated));
}

void MetadataChecker::GetMetadata(const MapInfo::Id& id)
{
  Get(metadata, "Metadata", id, &MetadataChecker::OnMetadata, Call(&Tesk::IClient::GetMetadata));
}

void MetadataChecker::GetDownloadInfo(const MapInfo::Id& id)
{
  Get(downloadInfo, "DownloadInfo", id, &MetadataChecker::OnDownloadInfo,
      Call(&Tesk::IClient::GetDownloadInfo));
}

void MetadataChecker::GetLocaleData(const MapInfo::Id& id)
{
  const std::string locale =
      (setup.locale ? setup.locale() : QString()).replace(QLatin1Char('_'), QLatin1Char('-')).toStdString();
  Get(localeData, "LocaleData", id, &MetadataChecker::OnLocaleData,
      [locale](Tesk::IClient& service, std::ostream& body, const MapInfo::Id& map, Request& sink) {
        return service.GetLocaleData(body, map, locale, sink);
      });
}

// ---------------------------------------------------------------------------
// Replies

void MetadataChecker::Deliver(const std::function<void()>& handle)
{
  // No delivery is on the stack: the sinks retired by earlier ones can go.
  if (delivering == 0)
    retired.clear();
  Counter depth(delivering);
  bool failed = false;
  try {
    handle();
  } catch (const std::exception& error) {
    LOG(Error) << "Failed to handle reply: " << error.what();
    failed = true;
  } catch (...) {
    LOG(Error) << "Failed to handle reply: unknown error";
    failed = true;
  }
  if (!failed || check == Check::None)
    return;
  try {
    Finish(ServerError);
  } catch (...) {
    LOG(Error) << "Failed to report the map update check's result";
  }
}

bool MetadataChecker::TakeReply(Table& table, const MapInfo::Id& id, std::string& body)
{
  const auto found = table.find(id);
  if (found == table.end() || !found->second) {
    LOG(Warning) << "Got a reply for map " << id << " that no request waits for";
    return false;
  }
  body = found->second->TakeBody();
  // The transport request is still delivering this reply: release it later.
  retired.push_back(std::move(found->second));
  table.erase(found);
  return true;
}

template <typename Parse>
auto MetadataChecker::Parsed(const char* kind, const MapInfo::Id& id, Tesk::IResponse::Result result,
                             const std::string& body, Parse parse) -> std::optional<decltype(parse(body))>
{
  if (result != Tesk::IResponse::Ok) {
    RequestFailed(kind, id, result);
    return std::nullopt;
  }
  try {
    return parse(body);
  } catch (const Tesk::ContentError& error) {
    ReplyUnusable(kind, id, error.what());
    return std::nullopt;
  }
}

void MetadataChecker::OnAllRoots(Tesk::IResponse::Result result)
{
  if (!allRoots) {
    LOG(Warning) << "Got an AllRoots reply that no request waits for";
    return;
  }
  const std::string body = allRoots->TakeBody();
  retired.push_back(std::move(allRoots));
  const auto roots = Parsed("AllRoots", MapInfo::Id(), result, body, Tesk::PackageList::Parse);
  if (!roots)
    return;
  LOG(Info) << "Got " << roots->packageIds.size() << " root maps";
  for (const auto& id : roots->packageIds)
    GetAllNewest(id);
  CheckComplete();
}

void MetadataChecker::OnAllNewest(MapInfo::Id id, Tesk::IResponse::Result result)
{
  std::string body;
  if (!TakeReply(allNewest, id, body))
    return;
  const auto newest = Parsed("AllNewest", id, result, body, Tesk::PackageList::Parse);
  if (!newest)
    return;
  for (const auto& map : newest->packageIds)
    GetMetadata(map);
  CheckComplete();
}

void MetadataChecker::OnAllRelated(MapInfo::Id id, Tesk::IResponse::Result result)
{
  std::string body;
  if (!TakeReply(allRelated, id, body))
    return;
  const auto related = Parsed("AllRelated", id, result, body, Tesk::PackageList::Parse);
  if (!related)
    return;
  LOG(Info) << "Got " << related->packageIds.size() << " related maps";
  for (const auto& map : related->packageIds) {
    // The installed map is already stored and being completed.
    if (map != installed.id)
      GetMetadata(map);
  }
  CheckComplete();
}

void MetadataChecker::OnMetadata(MapInfo::Id id, Tesk::IResponse::Result result)
{
  std::string body;
  if (!TakeReply(metadata, id, body))
    return;
  const auto content = Parsed("Metadata", id, result, body, Tesk::ParseMetadata);
  if (!content)
    return;
  const Tesk::MetadataHeader& header = Tesk::Header(*content);
  if (header.id != id)
    return ReplyUnusable("Metadata", id, "the reply describes map " + header.id);

  MapInfo map = MapFromHeader(header);
  map.type = header.updateType == Tesk::MetadataHeader::Mandatory ? MapInfo::Mandatory : MapInfo::Optional;
  if (check == Check::Root) {
    map.type = MapInfo::Optional;
    map.root = true;
  } else if (!Accept(map)) {
    MapStorage::Get().RemoveMap(id);
    CheckComplete();
    return;
  }
  MapStorage::Get().UpdateMap(map);
  GetDownloadInfo(id);
  GetLocaleData(id);
  CheckComplete();
}

bool MetadataChecker::Accept(const MapInfo& map) const
{
  if (map.region != installed.region) {
    LOG(Info) << "Skipping map " << map.id << ": region " << map.region << " is not " << installed.region;
    return false;
  }
  if (!(map > installed)) {
    LOG(Info) << "Skipping map " << map.id << ": release " << map.release << " is not newer than "
              << installed.release;
    return false;
  }
  if (map.ReleaseMonth() > subscriptionEnd) {
    LOG(Info) << "Skipping map " << map.id << ": release " << map.release << " is after the subscription end "
              << subscriptionEnd.toString(Qt::ISODate);
    return false;
  }
  return true;
}

void MetadataChecker::OnDownloadInfo(MapInfo::Id id, Tesk::IResponse::Result result)
{
  std::string body;
  if (!TakeReply(downloadInfo, id, body))
    return;
  const auto info = Parsed("DownloadInfo", id, result, body, Tesk::DownloadInfo::Parse);
  if (!info)
    return;
  Refresh(id, [&](MapInfo& map) {
    map.url = info->url;
    map.checksum = info->checksum;
    map.size = info->size;
  });
  CheckComplete();
}

void MetadataChecker::OnLocaleData(MapInfo::Id id, Tesk::IResponse::Result result)
{
  std::string body;
  if (!TakeReply(localeData, id, body))
    return;
  const auto data = Parsed("LocaleData", id, result, body, Tesk::LocaleData::Parse);
  if (data) {
    Refresh(id, [&](MapInfo& map) { map.name = Decoded(data->name); });
    renamed = true;
  }
  // A failure has ended a running check already; names fetched again outside
  // a check count as answered either way.
  CheckComplete();
}

// ---------------------------------------------------------------------------
// Outcome

void MetadataChecker::RequestFailed(const char* kind, const MapInfo::Id& id, Tesk::IResponse::Result result)
{
  LOG(Warning) << kind << " request failed" << (id.empty() ? "" : " for map: ") << id
               << " with result: " << result;
  if (check != Check::None)
    Finish(CheckResult(result));
}

void MetadataChecker::ReplyUnusable(const char* kind, const MapInfo::Id& id, const std::string& reason)
{
  LOG(Warning) << kind << " reply" << (id.empty() ? "" : " for map: ") << id << " is unusable: " << reason;
  if (check != Check::None)
    Finish(ServerError);
}

void MetadataChecker::CheckComplete()
{
  if (allRoots || !allNewest.empty() || !allRelated.empty() || !metadata.empty() || !downloadInfo.empty() ||
      !localeData.empty())
    return;
  if (check == Check::None) {
    if (!renaming)
      return;
    renaming = false;
    // Names that all failed leave the list as it is: nothing to show anew.
    if (!renamed || !completedReport)
      return;
    const Result result = CompleteResult(completed);
    LOG(Info) << "Map names updated: reporting the map update check's result again: " << result;
    const Callback report = completedReport;
    if (beforeRenamedReport)
      beforeRenamedReport();
    report(result);
    return;
  }
  const Result result = CompleteResult(check);
  if (result == SubscriptionExpired)
    LOG(Warning) << "Subscription expired on: " << subscriptionEnd.toString(Qt::ISODate);
  completed = check;
  completedReport = callback;
  Finish(result);
}

MetadataChecker::Result MetadataChecker::CompleteResult(Check kind) const
{
  return kind == Check::Related && subscriptionEnd < QDate::currentDate() ? SubscriptionExpired : Ok;
}

void MetadataChecker::Finish(Result result)
{
  // The first failure ends the check: what is still outstanding cannot change it.
  DropRequests();
  check = Check::None;
  Callback report = std::move(callback);
  callback = nullptr;
  LOG(Info) << "Map update check finished with result: " << result;
  if (report)
    report(result);
}

void MetadataChecker::DropRequests()
{
  // None of these is delivering now: the sink of a reply being handled has
  // already been taken out of its table.
  allRoots.reset();
  allNewest.clear();
  allRelated.clear();
  metadata.clear();
  downloadInfo.clear();
  localeData.clear();
}

void MetadataChecker::ReleaseRetired()
{
  if (delivering == 0)
    retired.clear();
}

namespace {

const EnumName<MetadataChecker::Result> ResultNames[] = {
    ENUM_NAME(MetadataChecker, Ok),           ENUM_NAME(MetadataChecker, InvalidMetadata),
    ENUM_NAME(MetadataChecker, NoConnection), ENUM_NAME(MetadataChecker, NoSubscription),
    ENUM_NAME(MetadataChecker, ServerError),  ENUM_NAME(MetadataChecker, SubscriptionExpired),
    ENUM_NAME(MetadataChecker, UsbRemoved),   ENUM_NAME(MetadataChecker, NoMetadata)};

} // namespace

std::ostream& operator<<(std::ostream& os, MetadataChecker::Result result)
{
  return WriteName(os, result, ResultNames);
}

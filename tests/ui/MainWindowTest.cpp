#include "ui/widgets/MainWindow.h"

#include "LogCapture.h"
#include "Screenshot.h"
#include "cfg/Config.h"
#include "fmu/MapStorage.h"
#include "ui/IUi.h"
#include "ui/OpenLink.h"
#include "ui/widgets/MessageScreen.h"
#include "ui/widgets/SettingsScreen.h"
#include "ui/widgets/TableRow.h"
#include "usb/UsbStorage.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QTableWidget>
#include <QTranslator>

#include <functional>
#include <sstream>

namespace {

using Window = Ui::MainWindow;
using Page = Window::PageIndex;
constexpr qint64 GiB = 1024ll * 1024 * 1024;

// The machine's side of the window: every signal a click sends, in order.
class RecordingUi : public Ui::IUi
{
public:
  RecordingUi()
  {
    connect(this, &IUi::DownloadMap, [this](const MapInfo::Id& id) { sent += "download:" + id + " "; });
    connect(this, &IUi::CancelDownload, [this] { sent += "cancel "; });
    connect(this, &IUi::Retry, [this] { sent += "retry "; });
    connect(this, &IUi::ForcedQuit, [this] { sent += "quit "; });
  }
  void Activate() override {}
  void SetState(State) override {}
  void UpdateUsbs() override {}
  void ConfirmQuit() override {}
  std::string sent;
};

MapInfo Map(const std::string& id, MapInfo::Type type, MapInfo::State state,
            const std::string& region = "EUR")
{
  MapInfo map;
  map.id = id;
  map.name = L"Map " + std::wstring(id.begin(), id.end());
  map.type = type;
  map.state = state;
  map.region = region;
  map.root = id.rfind("root", 0) == 0;
  map.release = "2024.03";
  map.size = 2 * GiB;
  map.downloaded = GiB;
  return map;
}
const MapInfo installed = Map("installed", MapInfo::Installed, MapInfo::Available);
const MapInfo optional = Map("optional", MapInfo::Optional, MapInfo::Available);
const MapInfo mandatory = Map("mandatory", MapInfo::Mandatory, MapInfo::Available);
const MapInfo downloading = Map("optional", MapInfo::Optional, MapInfo::Downloading);
const MapInfo pending = Map("optional", MapInfo::Optional, MapInfo::Pending);

void Fill(const std::vector<MapInfo>& maps)
{
  MapStorage::Get().Clear();
  MapStorage::Get().UpdateHeadUnit({QDate(2026, 5, 31), 6 * GiB, 16 * GiB});
  for (const MapInfo& map : maps)
    MapStorage::Get().UpdateMap(map);
}

void SetStick(bool plugged)
{
  for (auto state : {UsbInfo::InvalidMetadata, UsbInfo::NoMetadata, UsbInfo::ValidMetadata})
    for (const auto& usb : UsbStorage::Get().GetUsbs(state))
      UsbStorage::Get().RemoveUsb(usb.first);
  if (plugged)
    UsbStorage::Get().UpdateUsb(
        {7, "/media/driver/MAPSTICK", 32ull << 30, 20ull << 30, UsbInfo::ValidMetadata, true});
}

std::string Name(State state)
{
  std::ostringstream text;
  text << state;
  return text.str();
}

// One window at 800 x 600, with a stick in the store, shown on its maps page.
class MainWindowTest : public testing::Test
{
protected:
  MainWindowTest()
  {
    SetStick(true);
    window.resize(800, 600);
    window.UpdateUsbs();
    window.ShowMapsPage();
  }
  ~MainWindowTest() override
  {
    MapStorage::Get().Clear();
    SetStick(false);
  }

  template <typename T = QWidget>
  T* Find(const QString& name, QWidget* in = nullptr)
  {
    T* child = (in ? in : &window)->findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name.toStdString();
    return child;
  }
  QWidget* MapsMessage() { return Find("widgetMapsMessage"); }
  QWidget* PageMessage() { return Find("widgetMessage"); }
  // The maps page: "message:" and the message's title, or the list's rows.
  QString Content()
  {
    if (Find<QStackedWidget>("stackedWidgetManageMaps")->currentIndex() == 1)
      return "message:" + Find<QLabel>("labelMessageTitle", MapsMessage())->text();
    QStringList rows;
    auto* table = Find<QTableWidget>("tableWidgetMapUpdates");
    for (int row = 0; row < table->rowCount(); ++row) {
      QWidget* cell = table->cellWidget(row, 0);
      rows << (qobject_cast<Ui::TableRow*>(cell) ? "map:" + Find<QLabel>("labelMapTitle", cell)->text()
                                                 : Find<QLabel>("labelTitle", cell)->text());
    }
    return rows.join('|');
  }
  // The banner's title ("-" when hidden), marked when it has no icon.
  QString Banner()
  {
    if (Find("widgetNotificationBanner")->isHidden())
      return "-";
    const bool icon = !Find<QLabel>("labelNotificationIcon")->pixmap(Qt::ReturnByValue).isNull();
    return Find<QLabel>("labelNotificationTitle")->text() + (icon ? "" : " (no icon)");
  }
  std::pair<bool, bool> Header()
  {
    return {Find("pushButtonMapUpdates")->isEnabled(), Find("pushButtonSettings")->isEnabled()};
  }
  // A click a user could make: on a button that is on show and enabled.
  void Click(const char* name, QWidget* in = nullptr, int row = -1)
  {
    if (row >= 0)
      in = Find<QTableWidget>("tableWidgetMapUpdates")->cellWidget(row, 0);
    auto* button = Find<QAbstractButton>(name, in);
    ASSERT_TRUE(button && !button->isHidden() && button->isEnabled()) << name;
    button->click();
  }

  RecordingUi iui;
  Window window{iui};
};

TEST_F(MainWindowTest, EachStateShowsItsContentBannerAndHeaderButtons)
{
  const QString list = "Available maps|No maps available|Optional map updates|map:Map ";
  struct Case
  {
    State state;
    std::vector<MapInfo> maps;
    QString content, banner;
    std::pair<bool, bool> header; // map updates, settings enabled
    bool hidden;
  };
  const QString before = list + "installed", inUse = "Accessing information on the USB stick", no = "-";
  const bool on = true, off = false;
  // clang-format off
  const std::vector<Case> cases = {
      {State::CancelDownload, {Map("optional", MapInfo::Optional, MapInfo::Deleting)},
                                                  "message:Deleting downloaded map update.", inUse, {on, off}, false},
      {State::CancelDownload, {}, before, inUse, {on, off}, false},
      {State::MandatoryUpdate, {installed, mandatory}, "message:Confirm mandatory map update", no, {on, on}, false},
      {State::MandatoryUpdate, {installed}, before, no, {on, on}, false},
      {State::MapDownload, {downloading}, "message:Map update", inUse, {on, off}, false},
      {State::MapDownload, {installed}, before, inUse, {on, off}, false},
      {State::MapUpdateCheck, {}, before, no, {off, off}, true},
      {State::MetadataCorrupt, {}, before, no, {off, on}, true},
      {State::NoConnection, {downloading}, "message:No internet connection", no, {on, on}, false},
      {State::NoConnection, {installed}, before, no, {off, on}, true},
      {State::NoSubscription, {}, before, no, {off, on}, true},
      {State::OptionalUpdate, {installed, optional}, list + "optional", no, {on, on}, false},
      {State::PendingUpdate, {pending}, "Pending map updates|map:Map optional",
                             "Map updates ready to be installed on your vehicle's navigation system", {on, on}, false},
      {State::RootUpdate, {Map("rootN", MapInfo::Optional, MapInfo::Available, "NAM"),
                           Map("rootE", MapInfo::Optional, MapInfo::Available)},
                          "Available maps|map:Map rootE|map:Map rootN", no, {on, on}, false},
      {State::ServerError, {downloading}, "message:Map update server not available", no, {on, on}, false},
      {State::ServerError, {}, before, no, {off, on}, true},
      {State::SubscriptionExpired, {installed}, "message:Map update subscription expired", no, {on, on}, false},
      {State::Unknown, {}, before, no, {on, on}, false},
      {State::UpToDate, {installed}, before, no, {on, on}, false},
      {State::UsbBlocked, {downloading}, "message:Map update download failed", no, {on, on}, false},
      {State::UsbCheck, {}, before, no, {on, off}, false},
      {State::UsbFull, {downloading}, "message:Insufficient memory space available", no, {on, on}, false},
      {State::UsbRemoved, {}, before, no, {off, on}, true},
      {State::UsbTooSmall, {downloading}, "message:Insufficient memory space available", no, {on, on}, false},
      {State::UsbTooSmall, {installed}, before, no, {on, on}, false},
  };
  // clang-format on
  for (const Case& c : cases) {
    const bool again = &c != &cases.front() && (&c - 1)->state == c.state;
    SCOPED_TRACE(Name(c.state) + (again ? " without its map" : ""));
    // From the installed map's list on a shown window, in another state.
    Fill({installed});
    window.SetState(State::UpToDate);
    window.ShowMapsPage();
    window.SetState(c.state == State::Unknown ? State::UsbCheck : State::Unknown);
    Fill(c.maps);
    window.SetState(c.state);
    EXPECT_EQ(Content(), c.content);
    EXPECT_EQ(Banner(), c.banner);
    EXPECT_EQ(Header(), c.header);
    EXPECT_EQ(window.isHidden(), c.hidden);
    EXPECT_EQ(iui.sent, "");
    SaveScreenshot(&window,
                   QString::fromStdString("mainwindow-" + Name(c.state) + (again ? "-without-map" : "")));
  }
  // Set again, a state that hid the window leaves it where the user put it.
  window.ShowMapsPage();
  window.SetState(State::UsbTooSmall);
  EXPECT_FALSE(window.isHidden());
}

TEST_F(MainWindowTest, StateSetThreeTimesOneClickOneSignal)
{
  for (const auto& [state, maps, sent] : std::vector<std::tuple<State, std::vector<MapInfo>, std::string>>{
           {State::MandatoryUpdate, {installed, mandatory}, "download:mandatory "},
           {State::SubscriptionExpired, {installed}, "download:installed "},
           {State::NoConnection, {downloading}, "retry "},
           {State::ServerError, {downloading}, "retry "},
           {State::UsbBlocked, {downloading}, "cancel "},
           {State::UsbFull, {downloading}, "cancel "},
           {State::UsbTooSmall, {downloading}, "cancel "}}) {
    SCOPED_TRACE(Name(state));
    Fill(maps);
    window.SetState(State::Unknown);
    window.SetState(state);
    window.SetState(state);
    emit iui.UpdateLocale(); // a language change sets it once more
    iui.sent.clear();
    Click("pushButtonPrimary", MapsMessage());
    EXPECT_EQ(iui.sent, sent);
  }
}

TEST_F(MainWindowTest, QuestionsOnTheMapsPage)
{
  const QString list = "Available maps|No maps available|Optional map updates|map:Map optional";
  const QString pendingList = "Pending map updates|map:Map optional";
  const QString stop = "Cancel map update download?";
  struct Case
  {
    const char* name;
    State state;
    std::vector<MapInfo> maps;
    std::function<void()> ask;
    QString question;
    std::string yes;           // sent by the primary button
    QString afterYes, afterNo; // the maps page after either button ("" without a second)
  };
  const auto row = [this](const char* button, int at) { return [=] { Click(button, nullptr, at); }; };
  const auto message = [this](const char* button) { return [=] { Click(button, MapsMessage()); }; };
  // clang-format off
  const std::vector<Case> cases = {
      {"update-map", State::OptionalUpdate, {installed, optional}, row("pushButtonMapAction", 3),
       "Confirm optional map update", "download:optional ", "message:Confirm optional map update", list},
      {"no-stick", State::OptionalUpdate, {installed, optional}, [=] { SetStick(false), row("pushButtonMapAction", 3)(); },
       "No USB stick found", "", list, ""},
      {"discard-update", State::PendingUpdate, {pending}, row("pushButtonDiscard", 1),
       "Cancel map update?", "cancel ", "message:Cancel map update?", pendingList},
      {"stop-download", State::MapDownload, {downloading}, message("pushButtonPrimary"),
       stop, "cancel ", "message:" + stop, "message:Map update"},
      {"stop-after-failure", State::NoConnection, {downloading}, message("pushButtonSecondary"),
       stop, "cancel ", "message:" + stop, "message:No internet connection"},
      {"stop-after-download-ended", State::MapDownload, {downloading}, [=] { message("pushButtonPrimary")(), Fill({pending}); },
       stop, "cancel ", "message:" + stop, pendingList},
  };
  // clang-format on
  for (const Case& c : cases) {
    for (const bool yes : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (yes ? " yes" : " no"));
      if (!yes && c.afterNo.isEmpty())
        continue;
      SetStick(true);
      Fill({pending});
      window.SetState(State::PendingUpdate); // a list behind every question
      Fill(c.maps);
      window.SetState(c.state);
      iui.sent.clear();
      c.ask();
      EXPECT_EQ(Content(), "message:" + c.question);
      EXPECT_EQ(iui.sent, "") << "asking sends nothing";
      if (yes)
        SaveScreenshot(&window, QStringLiteral("mainwindow-question-%1").arg(c.name));
      Click(yes ? "pushButtonPrimary" : "pushButtonSecondary", MapsMessage());
      EXPECT_EQ(iui.sent, yes ? c.yes : "");
      EXPECT_EQ(Content(), yes ? c.afterYes : c.afterNo);
      EXPECT_EQ(window.CurrentPage(), Page::Maps);
    }
  }
}

TEST_F(MainWindowTest, QuestionsOnTheMessagePage)
{
  const auto settings = [this] {
    window.ShowSettingsPage(), Click("checkBoxAutoStart", Find("widgetSettings"));
  };
  const auto cancel = [this] { Click("pushButtonCancel", Find("widgetSettings")); };
  const auto quitQuestion = [this] { window.ShowQuitApplicationMessage(); };
  const char *first = "pushButtonPrimary", *second = "pushButtonSecondary"; // quit: "No", "Yes"
  struct Case
  {
    const char* name;
    State state;
    std::function<void()> before, ask; // where the user is, and how the question comes
    const char* button;
    std::string sent;
    Page page;
    bool hidden;
    std::pair<bool, bool> header;
    bool unsaved;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"quit", State::MapDownload, [] {}, quitQuestion, second, "quit ", Page::Message, false, {false, false}, false},
      {"quit-no", State::MapDownload, [] {}, quitQuestion, first, "", Page::Maps, false, {true, false}, false},
      {"quit-settings", State::OptionalUpdate, [this] { window.ShowSettingsPage(); }, quitQuestion, first, "",
       Page::Settings, false, {true, true}, false},
      {"quit-hidden", State::UsbCheck, [this] { window.Hide(); }, quitQuestion, first, "", Page::None, true,
       {true, false}, false},
      {"quit-over-discard", State::UsbFull, [=] { settings(), cancel(); }, quitQuestion, first, "", Page::Maps,
       false, {true, true}, true},
      {"quit-twice", State::OptionalUpdate, [=] { window.ShowSettingsPage(), quitQuestion(); }, quitQuestion, first,
       "", Page::Settings, false, {true, true}, false},
      {"discard-forced", State::OptionalUpdate, settings, [this] { Click("pushButtonMapUpdates"); }, first, "",
       Page::Maps, false, {true, true}, false},
      {"discard-forced-no", State::OptionalUpdate, settings, [this] { window.PopupClicked(PopupLink::ManageMaps); },
       second, "", Page::Settings, false, {true, true}, true},
      {"discard", State::OptionalUpdate, settings, cancel, first, "", Page::Settings, false, {true, true}, false},
  };
  // clang-format on
  auto* screen = Find<Ui::SettingsScreen>(QString(), Find("widgetSettings"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fill({installed, downloading});
    window.SetState(c.state);
    window.ShowMapsPage();
    c.before();
    c.ask();
    EXPECT_EQ(window.CurrentPage(), Page::Message);
    EXPECT_FALSE(window.isHidden());
    if (c.name == std::string("quit") || c.name == std::string("discard"))
      SaveScreenshot(&window, QStringLiteral("mainwindow-question-%1").arg(c.name));
    Click(c.button, PageMessage());
    EXPECT_EQ(iui.sent, c.sent);
    EXPECT_EQ(window.CurrentPage(), c.page);
    EXPECT_EQ(window.isHidden(), c.hidden);
    EXPECT_EQ(Header(), c.header);
    EXPECT_EQ(screen->SettingsChanged(), c.unsaved);
    screen->RestoreSettings();
    iui.sent.clear();
  }
}

TEST_F(MainWindowTest, RequestsReachTheMachineOnceAndNeverWithoutAMap)
{
  LogCapture log;
  // Restore with nothing installed; Continue on a mandatory map without id.
  Fill({});
  window.SetState(State::SubscriptionExpired);
  Click("pushButtonPrimary", MapsMessage());
  Fill({Map("", MapInfo::Mandatory, MapInfo::Available)});
  window.SetState(State::MandatoryUpdate);
  Click("pushButtonPrimary", MapsMessage());
  EXPECT_EQ(iui.sent, "");
  EXPECT_TRUE(log.Contains("No installed map to restore"));
  EXPECT_TRUE(log.Contains("Not starting a download without a map id"));

  // One cancellation per state, none while the removal runs.
  Fill({downloading});
  window.SetState(State::UsbFull);
  window.PopupClicked(PopupLink::Dismiss);
  window.SetState(State::UsbFull);
  window.PopupClicked(PopupLink::Dismiss);
  Click("pushButtonPrimary", MapsMessage());
  window.SetState(State::CancelDownload);
  window.PopupClicked(PopupLink::Dismiss);
  window.SetState(State::UsbBlocked);
  window.PopupClicked(PopupLink::Dismiss);
  EXPECT_EQ(iui.sent, "cancel cancel ");

  // The machine rewires the question while its reaction runs: the click sends
  // the map it showed, the next click the new one.
  Fill({installed, mandatory});
  window.SetState(State::MandatoryUpdate);
  QObject::connect(&iui, &Ui::IUi::DownloadMap, &window, [this] {
    Fill({installed, Map("newer", MapInfo::Mandatory, MapInfo::Available)});
    window.SetState(State::MandatoryUpdate);
  });
  iui.sent.clear();
  Click("pushButtonPrimary", MapsMessage());
  Click("pushButtonPrimary", MapsMessage());
  EXPECT_EQ(iui.sent, "download:mandatory download:newer ");

  // Retry shows the maps page only when the state that follows keeps a download.
  window.SetState(State::NoConnection);
  window.PopupClicked(PopupLink::Retry);
  EXPECT_TRUE(window.isHidden());
  Fill({downloading});
  window.SetState(State::ServerError);
  window.PopupClicked(PopupLink::Retry);
  EXPECT_EQ(window.CurrentPage(), Page::Maps);
  EXPECT_EQ(Content(), "message:Map update server not available");

  // Help opens the guide and leaves the page.
  QStringList opened;
  const auto opener = Ui::SetLinkOpener([&](const QUrl& url) { return opened << url.toString(), true; });
  Click("pushButtonHelp");
  Ui::SetLinkOpener(opener);
  EXPECT_EQ(opened, QStringList{QUrl(Config::get().helpLink(), QUrl::TolerantMode).toString()});
  EXPECT_EQ(window.CurrentPage(), Page::Maps);
}

TEST_F(MainWindowTest, WindowEndedDuringAnEmissionIsNotTouched)
{
  Fill({downloading});
  for (const auto& click : std::vector<std::function<void(Window*)>>{
           [](Window* w) { w->PopupClicked(PopupLink::Retry); },
           [this](Window* w) { Click("pushButtonPrimary", w->findChild<QWidget*>("widgetMapsMessage")); },
           [](Window* w) { w->PopupClicked(PopupLink::Dismiss); }}) {
    auto* doomed = new Window(iui);
    doomed->SetState(State::NoConnection);
    QPointer<QObject> style = doomed->findChild<QStyle*>("windows", Qt::FindDirectChildrenOnly);
    ASSERT_TRUE(style) << "the window owns its scroll bar's style";
    for (auto signal : {&Ui::IUi::Retry, &Ui::IUi::CancelDownload})
      QObject::connect(&iui, signal, doomed, [doomed] { delete doomed; });
    click(doomed);
    EXPECT_FALSE(style) << "gone with the window";
  }
  EXPECT_EQ(iui.sent, "retry retry cancel ");
}

TEST_F(MainWindowTest, LanguageChangeRendersTheStateAnew)
{
  QTranslator german;
  ASSERT_TRUE(german.load(QCoreApplication::applicationDirPath() + "/res/translations/de_DE.qm"));
  Fill({pending});
  window.SetState(State::PendingUpdate);
  QCoreApplication::installTranslator(&german);
  emit iui.UpdateLocale();
  EXPECT_EQ(Find<QPushButton>("pushButtonMapUpdates")->text(), "KARTENUPDATES");
  EXPECT_EQ(Banner(), "Kartenupdates bereit zur Installation im Navigationssystem Ihres Fahrzeugs");
  EXPECT_EQ(Content(), "Ausstehende Kartenupdates|map:Map optional");
  SaveScreenshot(&window, "mainwindow-PendingUpdate-german");
  EXPECT_EQ(window.windowTitle(), "Lumora v2.0.74") << "the title is not translated";
  QCoreApplication::removeTranslator(&german);
}

TEST(MainWindowListTest, SortedMapsAndPrintedIndexes)
{
  const auto sorted = [](std::vector<std::string> regions) {
    std::unordered_map<std::string, MapInfo> maps;
    for (std::size_t i = 0; i < regions.size(); ++i)
      maps[std::to_string(i)].region = regions[i];
    std::string order;
    for (const auto& entry : Ui::GetSortedMaps(maps))
      order += entry.second.region + ",";
    return order;
  };
  EXPECT_EQ(sorted({}), "");
  EXPECT_EQ(sorted({"NAM", "EUR", "EUR"}), "EUR,EUR,NAM,");
  EXPECT_EQ(sorted({"eur", "EUR", "", "\xC3\x9C", "ZZ"}), ",EUR,ZZ,eur,\xC3\x9C,");

  std::ostringstream text;
  text << Page::None << Page::Maps << Page::Settings << Page::Message << static_cast<Page>(3) << "/"
       << Window::ScreenIndex::None << Window::ScreenIndex::MapUpdates << Window::ScreenIndex::Message
       << static_cast<Window::ScreenIndex>(-2);
  EXPECT_EQ(text.str(), "NoneMapsSettingsMessage/NoneMapUpdatesMessage");
}

} // namespace

#include "ui/widgets/MainWindow.h"

#include "WidgetTest.h"
#include "ui/OpenLink.h"
#include "ui/widgets/SettingsScreen.h"

#include <QPointer>
#include <QStackedWidget>
#include <QStyle>
#include <QTableWidget>

using Page = Ui::MainWindow::PageIndex;

// One window at 800 x 600 with a stick, shown on its maps page.
class MainWindowTest : public testing::Test
{
protected:
  MainWindowTest()
  {
    PutSticks({Stick(UsbInfo::ValidMetadata)});
    window.resize(800, 600);
    window.UpdateUsbs();
    window.ShowMapsPage();
  }
  ~MainWindowTest() override { PutSticks(), PutMaps({}); }

  // The message screen of the maps page, or that of the message page.
  QWidget* Message(bool page = false) { return Find(&window, page ? "widgetMessage" : "widgetMapsMessage"); }
  QWidget* Row(int row) { return Find<QTableWidget>(&window, "tableWidgetMapUpdates")->cellWidget(row, 0); }
  // Where the user is: the settings page, "question:" and the message page's
  // title, "message:" and the maps page's message title, or the titles of the
  // map list's rows; then the banner ("B", "b" without its picture), the
  // enabled header buttons ("M" map updates, "S" settings), and whether the
  // window is hidden or settings are unsaved.
  QString Where()
  {
    QStringList where;
    const auto title = [](QWidget* in) { return Find<QLabel>(in, "labelMessageTitle")->text(); };
    if (window.CurrentPage() == Page::Settings || window.CurrentPage() == Page::Message)
      where << (window.CurrentPage() == Page::Settings ? "settings" : "question:" + title(Message(true)));
    else if (Find<QStackedWidget>(&window, "stackedWidgetManageMaps")->currentIndex() == 1)
      where << "message:" + title(Message());
    else
      for (int row = 0; Row(row); ++row)
        for (auto* label : Row(row)->findChildren<QLabel*>(QRegularExpression("^label(Map)?Title$")))
          where << label->text();
    if (!Find(&window, "widgetNotificationBanner")->isHidden())
      where << (Find<QLabel>(&window, "labelNotificationIcon")->pixmap(Qt::ReturnByValue).isNull() ? "b"
                                                                                                   : "B");
    where << QString(Find(&window, "pushButtonMapUpdates")->isEnabled() ? "M" : "-") +
                 (Find(&window, "pushButtonSettings")->isEnabled() ? "S" : "-");
    if (window.isHidden())
      where << "hidden";
    if (window.findChild<Ui::SettingsScreen*>()->SettingsChanged())
      where << "unsaved";
    return where.join('|');
  }

  const MapInfo installed = Map("installed", MapInfo::Installed, MapInfo::Available);
  const MapInfo optional = Map("optional", MapInfo::Optional, MapInfo::Available);
  const MapInfo mandatory = Map("mandatory", MapInfo::Mandatory, MapInfo::Available);
  const MapInfo downloading = Map("optional", MapInfo::Optional, MapInfo::Downloading);
  const MapInfo pending = Map("optional", MapInfo::Optional, MapInfo::Pending);
  const QString list = "Available maps|No maps available|Optional map updates|Map ";
  RecordingUi iui;
  Ui::MainWindow window{iui};
};

// Every state, set three times and once more by a change of language, shows
// its page, banner and header, and one click on its message sends one request.
TEST_F(MainWindowTest, EachStateShowsItsPageBannerAndHeaderAndAClickOnItsMessageSendsOneRequest)
{
  const QString before = list + "installed|";
  // clang-format off
  struct Case { State state; std::vector<MapInfo> maps; QString where; std::string click; } const cases[] = {
      {CancelDownload, {Map("optional", MapInfo::Optional, MapInfo::Deleting)},
       "message:Deleting downloaded map update.|B|M-", ""},
      {MandatoryUpdate, {installed, mandatory}, "message:Confirm mandatory map update|MS", "download:mandatory "},
      {MandatoryUpdate, {installed}, before + "MS", ""},
      {MapDownload, {downloading}, "message:Map update|B|M-", ""},
      {MapDownload, {installed}, before + "B|M-", ""},
      {MapUpdateCheck, {}, before + "--|hidden", ""},
      {MetadataCorrupt, {}, before + "-S|hidden", ""},
      {NoConnection, {downloading}, "message:No internet connection|MS", "retry "},
      {NoConnection, {installed}, before + "-S|hidden", ""},
      {NoSubscription, {}, before + "-S|hidden", ""},
      {OptionalUpdate, {installed, optional}, list + "optional|MS", ""},
      {PendingUpdate, {pending}, "Pending map updates|Map optional|B|MS", ""},
      {RootUpdate, {Map("rootN", MapInfo::Optional, MapInfo::Available, "NAM"),
                    Map("rootE", MapInfo::Optional, MapInfo::Available)}, "Available maps|Map rootE|Map rootN|MS", ""},
      {ServerError, {downloading}, "message:Map update server not available|MS", "retry "},
      {ServerError, {}, before + "-S|hidden", ""},
      {SubscriptionExpired, {installed}, "message:Map update subscription expired|MS", "download:installed "},
      {UpToDate, {installed}, before + "MS", ""},
      {UsbBlocked, {downloading}, "message:Map update download failed|MS", "cancel "},
      {UsbCheck, {}, before + "M-", ""},
      {UsbFull, {downloading}, "message:Insufficient memory space available|MS", "cancel "},
      {UsbRemoved, {}, before + "-S|hidden", ""},
      {UsbTooSmall, {downloading}, "message:Insufficient memory space available|MS", "cancel "},
      {UsbTooSmall, {installed}, before + "MS", ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    const bool again = &c != cases && (&c - 1)->state == c.state;
    const std::string name = testing::PrintToString(c.state) + (again ? "-without-map" : "");
    SCOPED_TRACE(name);
    PutMaps({installed}); // from the installed map's list on a shown window, in another state
    window.SetState(UpToDate);
    window.ShowMapsPage();
    window.SetState(Unknown);
    PutMaps(c.maps);
    for (int times = 0; times < 3; ++times)
      window.SetState(c.state);
    emit iui.UpdateLocale(); // which sets the state once more
    EXPECT_EQ(Where(), c.where);
    SaveScreenshot(&window, QString::fromStdString("mainwindow-" + name));
    if (!c.click.empty())
      Click(Message(), "pushButtonPrimary");
    EXPECT_EQ(iui.sent, c.click);
    iui.sent.clear();
  }
  window.SetState(UsbRemoved); // set again, a state that hid the window leaves it shown
  window.ShowMapsPage();
  window.SetState(UsbRemoved);
  EXPECT_FALSE(window.isHidden());
  PutMaps({pending});
  window.SetState(PendingUpdate);
  German german;
  emit iui.UpdateLocale();
  EXPECT_EQ(Where(), "Ausstehende Kartenupdates|Map optional|B|MS");
  SaveScreenshot(&window, "mainwindow-PendingUpdate-german");
}

// Each question, answered, sends at most its one request and leads back to a
// page the user can work on (the quit question's "No" above all).
TEST_F(MainWindowTest, QuestionsAnsweredYesOrNoLeadBackToWhereTheUserWas)
{
  auto* settings = window.findChild<Ui::SettingsScreen*>();
  const auto stop = [this] { Click(Message(), "pushButtonPrimary"); };
  const auto change = [=] { window.ShowSettingsPage(), Click(settings, "checkBoxAutoStart"); };
  const auto quit = [this] { window.ShowQuitApplicationMessage(); };
  const std::function<void()> none = [] {};
  const QString asked = "message:Cancel map update download?|B|M-", ask = "question:Quit application|",
                discard = "question:Unsaved changes detected|MS|unsaved", optionalList = list + "optional|";
  // The state, what comes before the question and how it is asked, what it
  // shows, its answer (the primary button, "No" on the quit question, or the
  // secondary one), the request sent and where the user is then.
  // clang-format off
  struct Case { const char* name; State state; std::function<void()> before, ask; QString question; bool primary;
                std::string sent; QString after; } const cases[] = {
      {"update-map-no", OptionalUpdate, none, [=] { Click(Row(3), "pushButtonMapAction"); }, "message:Confirm optional map update|MS",
       false, "", optionalList + "MS"},
      {"no-stick", OptionalUpdate, [] { PutSticks(); }, [=] { Click(Row(3), "pushButtonMapAction"); },
       "message:No USB stick found|MS", true, "", optionalList + "MS"},
      {"discard-update-no", PendingUpdate, none, [=] { Click(Row(1), "pushButtonDiscard"); },
       "message:Cancel map update?|B|MS", false, "", "Pending map updates|Map optional|B|MS"},
      {"stop-download", MapDownload, none, stop, asked, true, "cancel ", asked},
      {"stop-download-no", MapDownload, none, stop, asked, false, "", "message:Map update|B|M-"},
      {"stop-after-download-ended-no", MapDownload, [=] { PutMaps({pending}); }, stop, asked, false, "",
       optionalList + "B|M-"},
      {"quit", MapDownload, none, quit, ask + "B|--", false, "quit ", ask + "B|--"},
      {"quit-no", MapDownload, none, quit, ask + "B|--", true, "", "message:Map update|B|M-"},
      {"quit-hidden", UsbCheck, [=] { window.Hide(); }, quit, ask + "--", true, "", optionalList + "M-|hidden"},
      {"quit-over-discard", UsbFull, [=] { change(), Click(settings, "pushButtonCancel"); }, quit, ask + "--|unsaved",
       true, "", "message:Insufficient memory space available|MS|unsaved"},
      {"quit-twice-on-settings", OptionalUpdate, [=] { window.ShowSettingsPage(), quit(); }, quit, ask + "--", true,
       "", "settings|MS"},
      {"discard-forced", OptionalUpdate, change, [=] { window.PopupClicked(ManageMaps); }, discard, true, "",
       optionalList + "MS"},
      {"discard", OptionalUpdate, change, [=] { Click(settings, "pushButtonCancel"); }, discard, true, "", "settings|MS"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PutSticks({Stick(UsbInfo::ValidMetadata)});
    PutMaps({installed, optional});
    window.SetState(OptionalUpdate); // a list behind every question
    PutMaps({installed, c.state == PendingUpdate    ? pending
                        : c.state == OptionalUpdate ? optional
                                                    : downloading});
    window.SetState(c.state);
    window.ShowMapsPage();
    c.before();
    c.ask();
    EXPECT_EQ(Where(), c.question);
    SaveScreenshot(&window, QStringLiteral("mainwindow-question-%1").arg(c.name));
    Click(Message(c.question.startsWith("question")),
          c.primary ? "pushButtonPrimary" : "pushButtonSecondary");
    EXPECT_EQ(iui.sent, c.sent);
    EXPECT_EQ(Where(), c.after);
    settings->RestoreSettings();
    iui.sent.clear();
  }
}

// No request without a map, one cancellation per state and none while the
// removal runs, the map a question showed although the machine rewires it
// during the emission, and nothing touched of a window the machine deletes
// during a request. Retry shows the maps page only when the state that follows
// keeps a download; help opens the guide.
TEST_F(MainWindowTest, RequestsReachTheMachineOncePerStateNeverWithoutAMapAndNeverThroughAnEndedWindow)
{
  window.SetState(SubscriptionExpired); // nothing installed to restore
  Click(Message(), "pushButtonPrimary");
  PutMaps({Map("", MapInfo::Mandatory, MapInfo::Available)});
  window.SetState(MandatoryUpdate);
  Click(Message(), "pushButtonPrimary");
  PutMaps({downloading});
  for (State state : {UsbFull, UsbFull, CancelDownload, UsbBlocked})
    window.SetState(state), window.PopupClicked(Dismiss), window.PopupClicked(Dismiss);
  PutMaps({installed, mandatory});
  window.SetState(MandatoryUpdate);
  QObject::connect(&iui, &Ui::IUi::DownloadMap, &window, [this] {
    PutMaps({installed, Map("newer", MapInfo::Mandatory, MapInfo::Available)});
    window.SetState(MandatoryUpdate);
  });
  Click(Message(), "pushButtonPrimary");
  Click(Message(), "pushButtonPrimary");
  EXPECT_EQ(iui.sent, "cancel cancel download:mandatory download:newer ");
  window.SetState(NoConnection);
  window.PopupClicked(Retry);
  EXPECT_TRUE(window.isHidden());
  PutMaps({downloading});
  window.SetState(ServerError);
  window.PopupClicked(Retry);
  EXPECT_EQ(Where(), "message:Map update server not available|MS");
  QStringList opened;
  const auto opener = Ui::SetLinkOpener([&](const QUrl& url) { return opened << url.toString(), true; });
  Click(&window, "pushButtonHelp");
  Ui::SetLinkOpener(opener);
  EXPECT_EQ(opened, QStringList{QUrl(Config::get().helpLink(), QUrl::TolerantMode).toString()});
  for (int click = 0; click < 3; ++click) {
    auto* doomed = new Ui::MainWindow(iui);
    doomed->SetState(NoConnection);
    QPointer<QObject> style = doomed->findChild<QStyle*>("windows", Qt::FindDirectChildrenOnly);
    for (auto signal : {&Ui::IUi::Retry, &Ui::IUi::CancelDownload})
      QObject::connect(&iui, signal, doomed, [doomed] { delete doomed; });
    if (click == 2)
      Find<QPushButton>(Find(doomed, "widgetMapsMessage"), "pushButtonPrimary")->click();
    else
      doomed->PopupClicked(click ? Dismiss : Retry);
    EXPECT_FALSE(style) << "gone with the window";
  }
}

// A window on show that a check hid comes back once, with the check's result
// when that shows the maps page. Any other result uses the coming back up as
// well, so that the result of a later check leaves the window hidden; and a
// window the user opened and closed again while the check ran stays closed.
TEST_F(MainWindowTest, AWindowACheckHidComesBackOnceWithTheChecksResultUnlessTheUserClosedIt)
{
  PutMaps({installed, optional});
  // clang-format off
  struct Case { const char* what; State hiding; std::function<void()> meanwhile; std::vector<State> then; bool shown; };
  const Case cases[] = {
      {"result", MapUpdateCheck, {}, {OptionalUpdate}, true},
      {"stick pulled", UsbRemoved, {}, {MapUpdateCheck, RootUpdate}, true},
      {"opened while the check ran", MapUpdateCheck, [&] { window.Show(); }, {OptionalUpdate}, true},
      {"opened and closed", MapUpdateCheck, [&] { window.Show(), window.close(); }, {OptionalUpdate}, false},
      {"opened and Escape", MapUpdateCheck, [&] { window.Show(), window.reject(); }, {UpToDate}, false},
      {"server error, then the next check", MapUpdateCheck, {}, {ServerError, MapUpdateCheck, RootUpdate}, false},
      {"no connection, then the next check", MapUpdateCheck, {}, {NoConnection, MapUpdateCheck, OptionalUpdate},
       false},
      {"corrupt metadata, then the next check", MapUpdateCheck, {}, {MetadataCorrupt, MapUpdateCheck, RootUpdate},
       false},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    window.SetState(UpToDate);
    window.ShowMapsPage();
    window.SetState(c.hiding);
    ASSERT_TRUE(window.isHidden());
    if (c.meanwhile)
      c.meanwhile();
    for (State state : c.then)
      window.SetState(state);
    EXPECT_EQ(window.isVisible(), c.shown);
  }
}

// The user interface's share of the application's work, for bench/ui/run.sh:
//
//   UiBench serve ARCHIVE_URL MD5 SIZE
//       the map service on loopback with one root map whose archive is at
//       ARCHIVE_URL; prints the service's address and key, then serves until
//       killed (the application started by run.sh talks to it)
//   UiBench download windows|headless SERVICE_URL KEY STICK_FOLDER
//       the whole application in this process (state machine, managers and
//       either the real windows or no windows), with STICK_FOLDER presented
//       as a USB stick: downloads the root map onto it, through the main
//       window's buttons when there are windows, and prints the seconds from
//       the confirming click to the map waiting on the stick, the throughput,
//       the CPU time and the peak memory
//
// The waits poll a condition every 20 ms on an idle event loop, so that the
// bench itself takes no processor from the windows.

#include "../PeakRss.h"
#include "FakeVolumes.h"
#include "MapService.h"
#include "TestService.h"

#include "cfg/Config.h"
#include "fmu/MapStorage.h"
#include "sm/StateMachine.h"
#include "sm/States/Common.h"
#include "ui/HeadlessUi.h"
#include "ui/Ui.h"
#include "ui/widgets/MainWindow.h"
#include "ui/widgets/TableRow.h"
#include "ui/widgets/TrayIcon.h"
#include "usb/UsbManager.h"
#include "usb/UsbStorage.h"
#include "util/Fonts.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <string>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;
const char* const MapId = "EUR_BENCH";
const char* const MapName = "Europe Bench";

bool Wait(const std::function<bool()>& condition, int timeoutMs)
{
  if (condition())
    return true;
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (condition())
      loop.quit();
  });
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  poll.start(20);
  loop.exec();
  return condition();
}

double CpuSeconds()
{
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int Serve(const QString& archiveUrl, const std::string& md5, std::int64_t size)
{
  TestSupport::TestService service;
  TestSupport::MapService maps(service, "/tesk/v1", "bench-key");
  TestSupport::ServedMap map;
  map.id = MapId;
  map.mapLineId = map.region = "EUR";
  map.release = "2025.06";
  map.name = map.names["en-GB"] = MapName;
  map.url = archiveUrl.toStdString();
  map.checksum = md5;
  map.size = size;
  maps.AddMap(map);
  maps.AddRoot("EUR_ROOT", {MapId});
  std::printf("%s %s\n", maps.Url().c_str(), maps.Key().c_str());
  std::fflush(stdout);
  return QCoreApplication::exec();
}

// Clicks a button of the main window that the user can see and use.
bool Click(QWidget* in, const char* name)
{
  auto* button = in ? in->findChild<QPushButton*>(name) : nullptr;
  if (!button || !button->isVisible() || !button->isEnabled()) {
    std::cerr << "UiBench: cannot click " << name << std::endl;
    return false;
  }
  QTest::mouseClick(button, Qt::LeftButton);
  return true;
}

// Opens the main window and clicks "Download map" on the map's row; returns
// the question's "Continue" button.
QPushButton* AskToDownload(Ui::Ui& ui)
{
  Ui::MainWindow& window = ui.Window();
  emit ui.Tray().OpenApplicationClicked();
  auto* table = window.findChild<QTableWidget*>("tableWidgetMapUpdates");
  QWidget* row = nullptr;
  for (int i = 0; table && i < table->rowCount(); ++i)
    if (auto* cell = qobject_cast<Ui::TableRow*>(table->cellWidget(i, 0)))
      if (cell->findChild<QLabel*>("labelMapTitle")->text() == MapName)
        row = cell;
  if (!Click(row, "pushButtonMapAction"))
    return nullptr;
  QWidget* question = window.findChild<QWidget*>("widgetMapsMessage");
  auto* confirm = question ? question->findChild<QPushButton*>("pushButtonPrimary") : nullptr;
  return confirm && confirm->isVisible() && confirm->isEnabled() ? confirm : nullptr;
}

int Download(bool windows, const QString& serviceUrl, const QString& key, const QString& stick)
{
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_DATA_HOME", home.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
  QDir().mkpath(home.path() + "/Arvel/Lumora");
  QFile config(home.path() + "/Arvel/Lumora/config.json");
  if (!config.open(QIODevice::WriteOnly))
    return 2;
  config.write(R"({"Application": {}, "FullMapUpdate": {"UpdateSource": ")" + serviceUrl.toUtf8() +
               R"(", "UpdateKey": ")" + key.toUtf8() + R"("}, "MapDownload": {"RetryDuration": "3"}})");
  config.close();
  Config::get();
  Fonts::Load();

  FakeVolumes volumes;
  Ui::Ui* facade = nullptr;
  Ui::HeadlessUi* headless = nullptr;
  States::Common::SetUiFactory([&]() -> std::unique_ptr<Ui::IUi> {
    if (windows) {
      auto ui = std::make_unique<Ui::Ui>();
      facade = ui.get();
      return ui;
    }
    auto ui = std::make_unique<Ui::HeadlessUi>();
    headless = ui.get();
    return ui;
  });
  States::Common::SetUsbManagerFactory([] {
    auto manager = std::make_unique<UsbManager>();
    manager->SetDiscoveryInterval(std::chrono::milliseconds(100));
    return manager;
  });
  auto state = [&] {
    return facade ? facade->CurrentState() : headless ? headless->CurrentState() : State::Unknown;
  };

  auto machine = std::make_unique<StateMachine>();
  machine->initiate();
  if (!Wait([&] { return state() == State::RootUpdate; }, 60000)) {
    std::cerr << "UiBench: no root maps from " << serviceUrl.toStdString() << std::endl;
    return 1;
  }
  QDir(stick).removeRecursively();
  QDir().mkpath(stick);
  volumes.AddPartition(8, 17, FakeVolumes::Bus::Usb, true);
  volumes.Mount(8, 17, stick.toStdString());
  if (!Wait([&] { return UsbStorage::Get().GetActiveUsb().Valid() && state() == State::RootUpdate; },
            60000)) {
    std::cerr << "UiBench: the stick did not come" << std::endl;
    return 1;
  }

  // The window is open and the question asked; the clock runs from the
  // confirming click (or the request without windows) to the map on the stick.
  QPushButton* confirm = windows ? AskToDownload(*facade) : nullptr;
  if (windows && !confirm) {
    std::cerr << "UiBench: no download question" << std::endl;
    return 1;
  }
  QCoreApplication::processEvents();
  const double cpuBefore = CpuSeconds();
  const auto begin = Clock::now();
  if (windows)
    QTest::mouseClick(confirm, Qt::LeftButton);
  else
    emit headless->DownloadMap(MapId);
  if (!Wait(
          [&] {
            return state() == State::PendingUpdate || state() == State::ServerError ||
                   state() == State::NoConnection || state() == State::UsbFull;
          },
          30 * 60 * 1000) ||
      state() != State::PendingUpdate) {
    std::cerr << "UiBench: the download did not complete (state " << state() << ")" << std::endl;
    return 1;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  const double cpu = CpuSeconds() - cpuBefore;
  const MapInfo map = MapStorage::Get().GetMap(MapId);
  std::printf("ui: %s\n", windows ? "windows" : "headless");
  std::printf("seconds: %.3f\n", seconds);
  std::printf("throughput_mb_s: %.1f\n", static_cast<double>(map.size) / seconds / 1e6);
  std::printf("cpu_seconds: %.3f\n", cpu);
  std::printf("peak_rss_mib: %.1f\n", PeakRssKib() / 1024.0);
  machine.reset();
  States::Common::SetUiFactory(nullptr);
  States::Common::SetUsbManagerFactory(nullptr);
  QDir(stick + "/OrvaneNDSFull").removeRecursively();
  return 0;
}

} // namespace

int main(int argc, char** argv)
{
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Arvel");
  QApplication::setApplicationName("Lumora");
  QApplication::setQuitOnLastWindowClosed(false);
  const QStringList args = QApplication::arguments();
  if (args.size() == 5 && args[1] == "serve")
    return Serve(args[2], args[3].toStdString(), args[4].toLongLong());
  if (args.size() == 6 && args[1] == "download" && (args[2] == "windows" || args[2] == "headless"))
    return Download(args[2] == "windows", args[3], args[4], args[5]);
  std::cerr << "usage: UiBench serve ARCHIVE_URL MD5 SIZE\n"
               "       UiBench download windows|headless SERVICE_URL KEY STICK_FOLDER\n";
  return 2;
}

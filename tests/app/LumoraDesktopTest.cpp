// Runs the built application on a real X server (Xvfb) with a system tray
// (trayer), against the map service on loopback, and works it as a user
// does, with the pointer and the keyboard (xdotool): the tray icon sits in the
// tray, a click on it opens the popup below it, and "Quit" in the icon's menu
// ends the application. Screenshots of the screen go to the test's output
// folder. Skipped only where no X server can start.

#include "FakeVolumes.h"
#include "MapService.h"
#include "Screenshot.h"
#include "TestService.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

using TestSupport::MapService;
using TestSupport::ServedMap;
using TestSupport::WaitFor;

namespace {

const int Timeout = 60000;

// One window of the X server's window tree.
struct XWindow
{
  QString id;
  int depth = 0; // 0: a child of the root window
  QString name;
  QString windowClass;
  QRect geometry; // on the screen
  QString parent; // empty for a child of the root window
};

// A virtual X server with a system tray, and the tools that look at it and
// work it. Everything it starts ends with it.
class Desktop
{
public:
  ~Desktop()
  {
    for (QProcess* process : {&tray, &server}) {
      if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(10000))
          process->kill();
        process->waitForFinished(10000);
      }
    }
  }

  // Starts the X server on a free display; false with the reason when it
  // cannot start.
  bool StartServer(QString& why)
  {
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) {
      why = "Xvfb is not installed (scripts/install-deps.sh installs it)";
      return false;
    }
    // -displayfd: the server picks a free display and writes its number once
    // it accepts connections.
    server.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"});
    if (!server.waitForStarted(Timeout)) {
      why = "Xvfb did not start: " + server.errorString();
      return false;
    }
    QByteArray number;
    const bool ready = WaitFor(
        [&] {
          number += server.readAllStandardOutput();
          return number.contains('\n') || server.state() == QProcess::NotRunning;
        },
        Timeout);
    if (!ready || !number.contains('\n')) {
      why = "Xvfb could not open a display: " + QString::fromLocal8Bit(server.readAllStandardError());
      return false;
    }
    display = ":" + QString::fromLatin1(number.trimmed());
    return true;
  }

  // Starts the tray in a panel at the top right of the screen and waits
  // until it is on show.
  void StartTray()
  {
    tray.setProcessEnvironment(Environment());
    tray.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "200",
                          "--height", "32", "--SetDockType", "true", "--expand", "false"});
    ASSERT_TRUE(tray.waitForStarted(Timeout))
        << "trayer: " << tray.errorString().toStdString() << " (scripts/install-deps.sh installs it)";
    ASSERT_TRUE(WaitFor([&] { return Panel().has_value(); }, Timeout)) << "the tray's panel never showed";
  }

  QProcessEnvironment Environment() const
  {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    // The tray icon goes through the X11 tray protocol, not a desktop bus.
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "xcb");
    return env;
  }

  // Runs an X tool on the display; its standard output.
  QString Run(const QString& program, const QStringList& arguments, int* exitCode = nullptr) const
  {
    QProcess tool;
    tool.setProcessEnvironment(Environment());
    tool.start(program, arguments);
    if (!tool.waitForStarted(Timeout)) {
      ADD_FAILURE() << program.toStdString() << " did not start: " << tool.errorString().toStdString()
                    << " (scripts/install-deps.sh installs it)";
      return {};
    }
    tool.waitForFinished(Timeout);
    if (exitCode)
      *exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    return QString::fromLocal8Bit(tool.readAllStandardOutput());
  }

  // The whole window tree, parents before their children.
  std::vector<XWindow> Tree() const
  {
    // "     0x400006 "lumora": ("lumora" "Lumora")  22x30+0+0  +1257+1"
    static const QRegularExpression line(
        R"re(^(\s+)(0x[0-9a-f]+) (?:"(.*)"|\(has no name\)):\s*(?:\((.*)\))?\s+(\d+)x(\d+)[+-]-?\d+[+-]-?\d+\s+\+?(-?\d+)\+?(-?\d+)\s*$)re");
    std::vector<XWindow> windows;
    std::vector<QString> ancestors;
    for (const QString& text : Run("xwininfo", {"-root", "-tree"}).split('\n')) {
      const QRegularExpressionMatch match = line.match(text);
      if (!match.hasMatch())
        continue;
      XWindow window;
      window.depth = (match.captured(1).size() - 5) / 3;
      window.id = match.captured(2);
      window.name = match.captured(3);
      window.windowClass = match.captured(4);
      window.geometry = QRect(match.captured(7).toInt(), match.captured(8).toInt(), match.captured(5).toInt(),
                              match.captured(6).toInt());
      ancestors.resize(window.depth);
      window.parent = window.depth > 0 ? ancestors.back() : QString();
      ancestors.push_back(window.id);
      windows.push_back(window);
    }
    return windows;
  }

  // The tray's panel.
  std::optional<XWindow> Panel() const
  {
    for (const XWindow& window : Tree())
      if (window.name == "panel" && window.windowClass.contains("trayer"))
        return window;
    return std::nullopt;
  }

  // The process that made a window, from its _NET_WM_PID.
  qint64 Owner(const QString& window) const
  {
    const QString text = Run("xprop", {"-id", window, "_NET_WM_PID"});
    const QRegularExpressionMatch match = QRegularExpression(R"(= (\d+))").match(text);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
  }

  // The windows below the tray's panel that `pid` made: the tray icons it embedded.
  std::vector<XWindow> EmbeddedIcons(qint64 pid) const
  {
    const std::optional<XWindow> panel = Panel();
    std::vector<XWindow> icons;
    if (!panel)
      return icons;
    std::vector<QString> inPanel = {panel->id};
    for (const XWindow& window : Tree()) {
      if (std::find(inPanel.begin(), inPanel.end(), window.parent) == inPanel.end())
        continue;
      inPanel.push_back(window.id);
      if (Owner(window.id) == pid)
        icons.push_back(window);
    }
    return icons;
  }

  // The top-level windows of `pid` that are on show (the popup, the main
  // window, a menu; the tray icon lives inside the tray).
  std::vector<XWindow> ShownWindows(qint64 pid) const
  {
    std::vector<XWindow> shown;
    for (const XWindow& window : Tree())
      if (window.depth == 0 && Owner(window.id) == pid &&
          Run("xwininfo", {"-id", window.id}).contains("Map State: IsViewable"))
        shown.push_back(window);
    return shown;
  }

  void Click(const QPoint& at, int button) const
  {
    Run("xdotool", {"mousemove", "--sync", QString::number(at.x()), QString::number(at.y()), "click",
                    QString::number(button)});
  }

  void Keys(const QStringList& keys) const { Run("xdotool", QStringList{"key"} + keys); }

  // A picture of the whole screen in the test's output folder.
  void Screenshot(const QString& name) const
  {
    QDir().mkpath(ScreenshotFolder());
    int code = 0;
    Run("import", {"-display", display, "-window", "root", ScreenshotFolder() + "/" + name + ".png"}, &code);
    EXPECT_EQ(code, 0) << "no screenshot " << name.toStdString();
  }

  QString display;

private:
  QProcess server;
  QProcess tray;
};

bool WriteFile(const QString& path, const QByteArray& content)
{
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QStringList LogMessages(const QString& folder)
{
  QStringList messages;
  for (const QString& name : QDir(folder).entryList({"*.log"}, QDir::Files, QDir::Name)) {
    QFile file(folder + "/" + name);
    if (!file.open(QIODevice::ReadOnly))
      continue;
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
      messages += line.mid(line.lastIndexOf(" | ") + 3);
  }
  return messages;
}

} // namespace

TEST(Desktop, TrayIconInTheTrayItsClickOpensThePopupBelowItAndQuitInItsMenuEndsTheApplication)
{
  Desktop desktop;
  QString why;
  if (!desktop.StartServer(why))
    GTEST_SKIP() << "No X server could start here, so the application cannot be run on a display: "
                 << why.toStdString();
  ASSERT_NO_FATAL_FAILURE(desktop.StartTray());

  // The map service with one root map, and no stick plugged in.
  TestSupport::TestService service;
  MapService maps(service, "/tesk/v1", "desktop-key");
  ServedMap map;
  map.id = "EUR_2025_06";
  map.mapLineId = map.region = "EUR";
  map.release = "2025.06";
  map.name = map.names["en-GB"] = "Europe 2025.06";
  maps.AddMap(map);
  maps.AddRoot("EUR_ROOT", {map.id});
  FakeVolumes volumes;

  QTemporaryDir home;
  const QString data = home.path() + "/data/Arvel/Lumora";
  ASSERT_TRUE(
      WriteFile(data + "/config.json",
                QByteArray::fromStdString(R"({"Application": {"LogLevel": "Debug"}, "FullMapUpdate": )"
                                          R"({"UpdateSource": ")" +
                                          maps.Url() +
                                          R"(", "UpdateKey": "desktop-key"}, )"
                                          R"("MapDownload": {"RetryDuration": "1"}})")));
  QProcessEnvironment env = desktop.Environment();
  env.insert("HOME", home.path());
  env.insert("XDG_DATA_HOME", home.path() + "/data");
  env.insert("XDG_CONFIG_HOME", home.path() + "/config");
  env.insert("XDG_RUNTIME_DIR", home.path());
  QProcess lumora;
  lumora.setProcessEnvironment(env);
  lumora.setProcessChannelMode(QProcess::ForwardedChannels);
  lumora.start(QCoreApplication::applicationDirPath() + "/lumora", QStringList());
  ASSERT_TRUE(lumora.waitForStarted(Timeout)) << lumora.errorString().toStdString();
  const qint64 pid = lumora.processId();
  auto messages = [&] { return LogMessages(data + "/Logs"); };

  // The icon is embedded in the tray: one of the tray's windows is lumora's.
  std::vector<XWindow> icons;
  ASSERT_TRUE(WaitFor(
      [&] {
        icons = desktop.EmbeddedIcons(pid);
        return !icons.empty() || lumora.state() == QProcess::NotRunning;
      },
      Timeout));
  ASSERT_EQ(icons.size(), 1u) << "lumora's icon is not in the tray";
  const QRect icon = icons.front().geometry;
  EXPECT_TRUE(desktop.Panel()->geometry.contains(icon)) << "the icon lies inside the tray's panel";
  EXPECT_FALSE(messages().contains(
      "No system tray available: the main window stays open and closing it quits the application"));

  // The root maps are in; neither the popup nor the main window has shown itself.
  ASSERT_TRUE(WaitFor(
      [&] { return messages().contains("Changing state from: MapUpdateCheck to: RootUpdate"); }, Timeout))
      << messages().join('\n').toStdString();
  EXPECT_TRUE(desktop.ShownWindows(pid).empty()) << "only the tray icon is on show";
  desktop.Screenshot("01-tray-icon");

  // A click on the icon opens the popup, 240 pixels wide, hanging from the
  // icon and held inside the screen.
  desktop.Click(icon.center(), 1);
  std::vector<XWindow> shown;
  ASSERT_TRUE(WaitFor(
      [&] {
        shown = desktop.ShownWindows(pid);
        return shown.size() == 1;
      },
      Timeout))
      << "no popup after the click";
  const auto popup = shown.begin();
  EXPECT_EQ(popup->geometry.width(), 240);
  EXPECT_GT(popup->geometry.height(), 100);
  EXPECT_EQ(popup->geometry.top(), icon.bottom()) << "the popup hangs from the icon";
  // The icon sits at the screen's right edge: centred on it the popup would
  // stick out, so it is held at the edge.
  EXPECT_TRUE(QRect(0, 0, 1280, 800).contains(popup->geometry)) << "the popup stays inside the screen";
  EXPECT_EQ(popup->geometry.right(), 1279);
  EXPECT_TRUE(messages().contains("Showing popup dialog"));
  desktop.Screenshot("02-popup");

  // A second click closes it again. It lands a few pixels away from the
  // first, so that it is not taken for the second half of a double click
  // however fast this machine is.
  desktop.Click(icon.center() + QPoint(0, icon.height() / 4), 1);
  ASSERT_TRUE(WaitFor([&] { return desktop.ShownWindows(pid).empty(); }, Timeout));
  EXPECT_TRUE(messages().contains("Hiding popup dialog")) << messages().join('\n').toStdString();

  // The icon's menu, from a right click; "Quit" is its last entry.
  desktop.Click(icon.center(), 3);
  ASSERT_TRUE(WaitFor([&] { return desktop.ShownWindows(pid).size() == 1; }, Timeout)) << "no menu";
  desktop.Screenshot("03-tray-menu");
  desktop.Keys({"Up", "Return"});
  ASSERT_TRUE(lumora.waitForFinished(Timeout)) << "still running after Quit";
  EXPECT_EQ(lumora.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(lumora.exitCode(), 0);
  EXPECT_TRUE(messages().contains("Got Quit event: quitting application"))
      << messages().join('\n').toStdString();
}

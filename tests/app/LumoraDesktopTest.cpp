// Runs the built application on a real X server (Xvfb) with a system tray
// (trayer), against the map service on loopback, and works it as a user
// does, with the pointer and the keyboard (xdotool): the tray icon sits in the
// tray, a click on it opens the popup below it and a second one closes it, a
// stick plugged in while the icon's menu is open makes the popup show itself
// and leaves the icon working, and "Quit" in the icon's menu ends the
// application. The same walk runs on a bare X server and under a window
// manager (openbox), which stacks and focuses the windows itself. While the
// popup shows itself the keyboard stays in the window the user types in (xev,
// of another application). Screenshots of the screen go to the test's output
// folder. Skipped only where no X server (or, for the second walk, no window
// manager) can start.

#include "FakeVolumes.h"
#include "LogCapture.h"
#include "RoadFiles.h"
#include "Screenshot.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>

using TestSupport::WaitFor;

namespace {

const int Timeout = 60000;

// One window of the X server's window tree.
struct XWindow
{
  QString id;
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
    for (QProcess* process : {&typing, &tray, &windowManager, &server}) {
      if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(10000))
          process->kill();
        process->waitForFinished(10000);
      }
    }
  }

  // Starts the X server on a free display; the reason when it cannot start.
  QString StartServer()
  {
    if (QStandardPaths::findExecutable("Xvfb").isEmpty())
      return "Xvfb is not installed (scripts/install-deps.sh installs it)";
    // -displayfd: the server picks a free display and writes its number once
    // it accepts connections.
    server.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"});
    QByteArray number;
    WaitFor(
        [&] {
          number += server.readAllStandardOutput();
          return number.contains('\n') || server.state() == QProcess::NotRunning;
        },
        Timeout);
    if (!number.contains('\n'))
      return "Xvfb could not open a display: " + server.errorString() + " " +
             QString::fromLocal8Bit(server.readAllStandardError());
    display = ":" + QString::fromLatin1(number.trimmed());
    return {};
  }

  // Starts the window manager `program` and waits until it manages the
  // screen (it names itself on the root window); the reason when it is not
  // installed or does not come up.
  QString StartWindowManager(const QString& program)
  {
    if (QStandardPaths::findExecutable(program).isEmpty())
      return program + " is not installed (scripts/install-deps.sh installs it)";
    // Its settings and caches go to a folder of its own.
    QProcessEnvironment env = Environment();
    env.insert("HOME", managerHome.path());
    env.insert("XDG_CONFIG_HOME", managerHome.path() + "/config");
    env.insert("XDG_CACHE_HOME", managerHome.path() + "/cache");
    windowManager.setProcessEnvironment(env);
    windowManager.start(program, QStringList());
    const bool managing = WaitFor(
        [&] {
          return windowManager.state() == QProcess::NotRunning ||
                 Run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id");
        },
        Timeout);
    if (!managing || windowManager.state() != QProcess::Running)
      return program + " did not take the screen: " + windowManager.errorString() + " " +
             QString::fromLocal8Bit(windowManager.readAllStandardError());
    return {};
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

  // A window of another application that has the keyboard and reports each
  // key pressed in it (xev); its id.
  QString StartTypingWindow()
  {
    typing.setProcessEnvironment(Environment());
    typing.start("xev", {"-name", "typing", "-geometry", "300x200+100+300"});
    QString id;
    WaitFor(
        [&] {
          return !(id = Run("xdotool", {"search", "--name", "^typing$"}).section('\n', 0, 0)).isEmpty();
        },
        Timeout);
    Run("xdotool", {"windowfocus", "--sync", id});
    return id;
  }
  // The keys that window has got so far.
  int KeysTyped()
  {
    typed += typing.readAllStandardOutput();
    return typed.count("KeyPress event");
  }
  // The window that has the keyboard.
  QString Focus() const { return Run("xdotool", {"getwindowfocus"}).trimmed(); }

  // Runs an X tool on the display; its standard output.
  QString Run(const QString& program, const QStringList& arguments) const
  {
    QProcess tool;
    tool.setProcessEnvironment(Environment());
    tool.start(program, arguments);
    if (!tool.waitForStarted(Timeout))
      ADD_FAILURE() << program.toStdString() << " did not start: " << tool.errorString().toStdString()
                    << " (scripts/install-deps.sh installs it)";
    tool.waitForFinished(Timeout);
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
      const int depth = (match.captured(1).size() - 5) / 3; // 0: a child of the root window
      const QRect geometry(match.captured(7).toInt(), match.captured(8).toInt(), match.captured(5).toInt(),
                           match.captured(6).toInt());
      ancestors.resize(depth);
      windows.push_back({match.captured(2), match.captured(3), match.captured(4), geometry,
                         depth > 0 ? ancestors.back() : QString()});
      ancestors.push_back(match.captured(2));
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

  // The first value of a window's property `name`, from xprop.
  QString Property(const QString& window, const char* name) const
  {
    return QRegularExpression(R"(= (\w+))").match(Run("xprop", {"-id", window, name})).captured(1);
  }

  // The windows that `pid` made: with `type` empty, the tray icons it
  // embedded below the tray's panel; else those on show outside the panel
  // whose window type is `type` ("UTILITY" for the popup, "POPUP_MENU" for
  // the icon's menu, "NORMAL" for the main window). Under a window manager
  // they sit inside the manager's frames, so the whole tree is searched.
  std::vector<XWindow> Windows(qint64 pid, const QString& type = QString()) const
  {
    std::vector<XWindow> found;
    std::vector<QString> inPanel;
    if (const std::optional<XWindow> panel = Panel())
      inPanel.push_back(panel->id);
    for (const XWindow& window : Tree()) {
      const bool embedded = std::find(inPanel.begin(), inPanel.end(), window.parent) != inPanel.end();
      if (embedded)
        inPanel.push_back(window.id);
      if (embedded != type.isEmpty() || (!embedded && !window.windowClass.contains("lumora")) ||
          Property(window.id, "_NET_WM_PID").toLongLong() != pid)
        continue;
      // The first type is the one the window asks for; the others are fallbacks.
      if (embedded || (Property(window.id, "_NET_WM_WINDOW_TYPE") == "_NET_WM_WINDOW_TYPE_" + type &&
                       Run("xwininfo", {"-id", window.id}).contains("Map State: IsViewable")))
        found.push_back(window);
    }
    return found;
  }

  // Moves the pointer to `at` and clicks `button` there (0: none).
  void Pointer(const QPoint& at, int button = 0) const
  {
    const QStringList click = button ? QStringList{"click", QString::number(button)} : QStringList();
    Run("xdotool",
        QStringList{"mousemove", "--sync", QString::number(at.x()), QString::number(at.y())} + click);
  }

  // A picture of the whole screen in the test's output folder.
  void Screenshot(const QString& name) const
  {
    const QString path = ScreenshotFolder() + "/" + name + ".png";
    QDir().mkpath(ScreenshotFolder());
    Run("import", {"-display", display, "-window", "root", path});
    EXPECT_TRUE(QFileInfo::exists(path)) << "no screenshot " << name.toStdString();
  }

  QString display;

private:
  QProcess server;
  QProcess windowManager;
  QTemporaryDir managerHome;
  QProcess tray;
  QProcess typing;
  QByteArray typed;
};

// The user's walk through the tray on a desktop whose X server and tray run:
// the icon in the tray, the popup opened and closed from it, a stick plugged
// in while the icon's menu is open, the popup that shows itself for it and
// the icon that still answers, and "Quit". The walk runs on a bare X server
// or under the window manager `manager`; it is skipped only where the X
// server (or the window manager) cannot start.
void WalkTheTray(const QString& manager)
{
  Desktop desktop;
  if (const QString why = desktop.StartServer(); !why.isEmpty())
    GTEST_SKIP() << "No X server could start here, so the application cannot be run on a display: "
                 << why.toStdString();
  if (const QString why = manager.isEmpty() ? QString() : desktop.StartWindowManager(manager); !why.isEmpty())
    GTEST_SKIP() << "No window manager could start, so the walk under one is left out: " << why.toStdString();
  const QString name = manager.isEmpty() ? "bare" : manager;
  ASSERT_NO_FATAL_FAILURE(desktop.StartTray());

  // The map service with one root map and the update of the map a stick
  // holds; no stick is plugged in.
  TestSupport::TestService service;
  TestSupport::RoadMaps served(service, "desktop-key");
  FakeVolumes volumes;
  QTemporaryDir stick;
  QTemporaryDir home;
  const QString data = home.path() + "/data/Arvel/Lumora";
  ASSERT_TRUE(TestSupport::WriteRoadConfig(home.path() + "/data", served.maps.Url(), "desktop-key", "Debug"));
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
  auto messages = [&] {
    QStringList all;
    for (const std::string& line : LogCapture::LinesIn((data + "/Logs").toStdString()))
      all += QString::fromStdString(LogCapture::MessageOf(line));
    return all;
  };
  auto shown = [&](const char* type) { return desktop.Windows(pid, type); };
  auto menuShown = [&] { return shown("POPUP_MENU").size() == 1; };

  // The icon is embedded in the tray: one of the tray's windows is lumora's.
  ASSERT_TRUE(WaitFor([&] { return !desktop.Windows(pid).empty() || lumora.state() == QProcess::NotRunning; },
                      Timeout));
  const std::vector<XWindow> icons = desktop.Windows(pid);
  ASSERT_EQ(icons.size(), 1u) << "lumora's icon is not in the tray";
  const QRect icon = icons.front().geometry;

  // The root maps are in; neither the popup nor the main window has shown itself.
  ASSERT_TRUE(WaitFor(
      [&] { return messages().contains("Changing state from: MapUpdateCheck to: RootUpdate"); }, Timeout))
      << messages().join('\n').toStdString();
  EXPECT_TRUE(shown("UTILITY").empty() && shown("NORMAL").empty()) << "only the tray icon is on show";
  desktop.Screenshot(name + "-01-tray-icon");

  // A click on the icon opens the popup, hanging from the icon and held
  // inside the screen.
  desktop.Pointer(icon.center(), 1);
  ASSERT_TRUE(WaitFor([&] { return shown("UTILITY").size() == 1; }, Timeout)) << "no popup after the click";
  const XWindow popup = shown("UTILITY").front();
  EXPECT_EQ(popup.geometry.top(), icon.bottom()) << "the popup hangs from the icon";
  // The icon sits at the screen's right edge: centred on it the popup would
  // stick out, so it is held at the edge.
  EXPECT_EQ(popup.geometry.right(), 1279);
  desktop.Screenshot(name + "-02-popup");

  // A second click closes it again. It lands a few pixels away from the
  // first, so that it is not taken for the second half of a double click
  // however fast this machine is.
  const QPoint below = icon.center() + QPoint(0, icon.height() / 4);
  desktop.Pointer(below, 1);
  ASSERT_TRUE(WaitFor([&] { return shown("UTILITY").empty(); }, Timeout));

  // The icon's menu is open (it opens at the pointer, over the icon) when a
  // stick with a map that has an update is plugged in: the popup shows itself
  // for the check, and the menu gives way to it instead of staying open
  // below or beside it, where it would take every later click on the icon.
  // Meanwhile the user types in another application's window, which keeps
  // the keyboard when the popup comes.
  const QString typing = desktop.StartTypingWindow();
  ASSERT_EQ(desktop.Focus().toStdString(), typing.toStdString());
  desktop.Pointer(icon.center(), 3);
  ASSERT_TRUE(WaitFor(menuShown, Timeout)) << "no menu";
  // The pointer then rests where the popup comes, beside the menu, so that
  // the popup stays however long this takes (it fades out only after the
  // pointer has left it).
  desktop.Pointer(popup.geometry.center());
  served.WriteVehicleFiles(stick.path());
  volumes.AddPartition(8, 17, FakeVolumes::Bus::Usb, true);
  volumes.Mount(8, 17, stick.path().toStdString());
  ASSERT_TRUE(WaitFor(
      [&] { return messages().contains("Changing state from: MapUpdateCheck to: OptionalUpdate"); }, Timeout))
      << messages().join('\n').toStdString();
  ASSERT_TRUE(WaitFor([&] { return shown("UTILITY").size() == 1; }, Timeout))
      << "the popup did not show itself for the stick";
  EXPECT_TRUE(WaitFor([&] { return shown("POPUP_MENU").empty(); }, Timeout)) << "the menu stayed open";
  desktop.Screenshot(name + "-03-popup-for-the-stick");
  EXPECT_EQ(desktop.Focus().toStdString(), typing.toStdString()) << "the popup took the keyboard";
  desktop.Run("xdotool", {"key", "space", "Return"});
  EXPECT_TRUE(WaitFor([&] { return desktop.KeysTyped() == 2; }, Timeout)) << "the keys went elsewhere";
  EXPECT_TRUE(messages().filter("Popup link").isEmpty()) << "a key pressed the popup's link";

  // The icon answers as before: a click hides the popup, a second one shows
  // it, a right click opens the menu in its place.
  auto count = [&](const char* message) { return messages().count(message); };
  const int hiding = count("Hiding popup dialog");
  const int showing = count("Showing popup dialog");
  desktop.Pointer(icon.center(), 1);
  ASSERT_TRUE(WaitFor([&] { return count("Hiding popup dialog") == hiding + 1; }, Timeout))
      << "the click did not hide the popup\n"
      << messages().join('\n').toStdString();
  EXPECT_TRUE(WaitFor([&] { return shown("UTILITY").empty(); }, Timeout));
  desktop.Pointer(below, 1);
  ASSERT_TRUE(WaitFor([&] { return count("Showing popup dialog") == showing + 1; }, Timeout))
      << "the second click did not show the popup";
  desktop.Pointer(icon.center(), 3);
  ASSERT_TRUE(WaitFor([&] { return menuShown() && shown("UTILITY").empty(); }, Timeout))
      << "the right click did not open the menu in the popup's place";
  desktop.Screenshot(name + "-04-tray-menu");

  // "Quit" is the menu's last entry.
  desktop.Run("xdotool", {"key", "Up", "Return"});
  ASSERT_TRUE(lumora.waitForFinished(Timeout)) << "still running after Quit";
  EXPECT_EQ(lumora.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(lumora.exitCode(), 0);
}

} // namespace

TEST(Desktop, TrayIconInTheTrayTogglesThePopupAndKeepsAnsweringAfterThePopupShowedItself)
{
  WalkTheTray("");
}

TEST(Desktop, TheSameWalkUnderAWindowManager)
{
  WalkTheTray("openbox");
}

#include "devicediscovery/DeviceDiscovery.h"
#include "devicediscovery/VolumePoller.h"
#include "devicediscovery/VolumeSource.h"

#include "FakeVolumes.h"
#include "TmpfsMount.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QObject>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <string>
#include <vector>

using Bus = FakeVolumes::Bus;
using Properties = DeviceDiscovery::DeviceProperties;

namespace {

struct Report
{
  std::string kind; // "come" or "go"
  Properties volume;
  QThread* thread;
};

// Stands where the USB manager stands: takes the two invocations by name.
class Receiver : public QObject
{
  Q_OBJECT

public:
  std::vector<Report> reports;

  Q_INVOKABLE void MassStorageCome(DeviceDiscovery::DeviceProperties volume)
  {
    reports.push_back({"come", volume, QThread::currentThread()});
  }
  Q_INVOKABLE void MassStorageGo(DeviceDiscovery::DeviceProperties volume)
  {
    reports.push_back({"go", volume, QThread::currentThread()});
  }

  bool WaitFor(std::size_t count)
  {
    return QTest::qWaitFor([&] { return reports.size() >= count; }, 10000);
  }

  std::vector<std::string> Summary() const
  {
    std::vector<std::string> summary;
    for (const auto& report : reports)
      summary.push_back(report.kind + " " + report.volume.path);
    return summary;
  }
};

using Summary = std::vector<std::string>;

// Runs the poller's scans by hand on the test thread and delivers what they
// invoked.
struct ManualPolling
{
  Receiver receiver;
  VolumePoller poller{&receiver, std::chrono::hours(1), VolumeSource()};

  void Scan()
  {
    poller.Poll();
    QCoreApplication::sendPostedEvents(&receiver);
  }
};

} // namespace

TEST(VolumePollerTest, ReportsRemovableVolumesThatComeAndGo)
{
  FakeVolumes volumes;
  volumes.AddPartition(8, 17, Bus::Usb, true);
  volumes.AddPartition(8, 33, Bus::Usb, true);
  volumes.AddPartition(179, 1, Bus::SdCard, false);
  volumes.AddPartition(8, 1, Bus::Sata, false);
  volumes.AddPartition(8, 65, Bus::Usb, false);
  volumes.Mount(8, 1, "/home");
  volumes.Mount(8, 65, "/media/usb-disk");
  const int first = volumes.Mount(8, 17, "/media/first");

  ManualPolling polling;
  polling.Scan();
  EXPECT_EQ(polling.receiver.Summary(), Summary({"come /media/first"})) << "already mounted at start";
  polling.Scan();
  EXPECT_EQ(polling.receiver.reports.size(), 1u) << "nothing new, nothing reported";

  const int second = volumes.Mount(8, 33, "/media/second");
  const int card = volumes.Mount(179, 1, "/media/card");
  polling.Scan();
  volumes.Unmount(first);
  polling.Scan();
  volumes.Unmount(second);
  volumes.Unmount(card);
  polling.Scan();

  // Within one scan, the volumes in order of their ids.
  auto& reports = polling.receiver.reports;
  ASSERT_EQ(reports.size(), 6u);
  EXPECT_EQ(reports[3].kind + " " + reports[3].volume.path, "go /media/first");
  std::vector<std::string> cameTogether = {reports[1].volume.path, reports[2].volume.path};
  std::sort(cameTogether.begin(), cameTogether.end());
  EXPECT_EQ(cameTogether, Summary({"/media/card", "/media/second"}));
  EXPECT_EQ(reports[1].kind, "come");
  EXPECT_EQ(reports[2].kind, "come");
  EXPECT_EQ(reports[4].kind, "go");
  EXPECT_EQ(reports[5].kind, "go");

  // A volume goes with the properties it came with.
  for (const auto& gone : reports) {
    if (gone.kind != "go")
      continue;
    const auto came = std::find_if(reports.begin(), reports.end(), [&](const Report& r) {
      return r.kind == "come" && r.volume.path == gone.volume.path;
    });
    ASSERT_NE(came, reports.end());
    EXPECT_EQ(came->volume, gone.volume);
  }
}

TEST(VolumePollerTest, RemountIsANewVolume)
{
  FakeVolumes volumes;
  volumes.AddPartition(8, 17, Bus::Usb, true);
  const int mount = volumes.Mount(8, 17, "/media/stick");

  ManualPolling polling;
  polling.Scan();
  // Pulled and plugged in again between two scans: a new mount of the same
  // device at the same place.
  volumes.Unmount(mount);
  volumes.Mount(8, 17, "/media/stick");
  polling.Scan();

  const auto& reports = polling.receiver.reports;
  EXPECT_EQ(polling.receiver.Summary(),
            Summary({"come /media/stick", "go /media/stick", "come /media/stick"}));
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[1].volume.id, reports[0].volume.id);
  EXPECT_NE(reports[2].volume.id, reports[0].volume.id);
}

TEST(VolumePollerTest, MountThatLooksLikeAnEarlierOneIsStillNew)
{
  // The kernel gives a new mount of the same device the mount id that the
  // earlier one freed: the table's line is the same as before.
  FakeVolumes volumes;
  volumes.AddPartition(8, 17, Bus::Usb, true);
  volumes.Mount(8, 17, "/media/stick");
  ManualPolling polling;
  polling.Scan();
  volumes.WriteRawTable("");
  polling.Scan();
  volumes.WriteTable();
  polling.Scan();

  const auto& reports = polling.receiver.reports;
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[1].volume.id, reports[0].volume.id);
  EXPECT_NE(reports[2].volume.id, reports[0].volume.id);
  EXPECT_NE(reports[2].volume.id, 0u);
}

TEST(VolumePollerTest, UnreadableTableReportsNothingGone)
{
  FakeVolumes volumes;
  volumes.AddPartition(8, 17, Bus::Usb, true);
  volumes.Mount(8, 17, "/media/stick");

  ManualPolling polling;
  polling.Scan();
  volumes.RemoveTable();
  polling.Scan();
  polling.Scan();
  EXPECT_EQ(polling.receiver.Summary(), Summary({"come /media/stick"}));

  volumes.WriteTable();
  polling.Scan();
  EXPECT_EQ(polling.receiver.Summary(), Summary({"come /media/stick"}));

  // An empty (but readable) table does mean that every volume went.
  volumes.WriteRawTable("");
  polling.Scan();
  EXPECT_EQ(polling.receiver.Summary(), Summary({"come /media/stick", "go /media/stick"}));
}

TEST(VolumePollerTest, MountPathsWithSpacesQuotesAndNonAscii)
{
  FakeVolumes volumes;
  volumes.AddPartition(8, 17, Bus::Usb, true);
  const std::string path = "/media/Zoë's \"MAP\" stick\t\\ 地図";
  volumes.Mount(8, 17, path);

  ManualPolling polling;
  polling.Scan();
  ASSERT_EQ(polling.receiver.reports.size(), 1u);
  EXPECT_EQ(polling.receiver.reports[0].volume.path, path);
  EXPECT_EQ(polling.receiver.reports[0].volume.volumeName, "Zoë's \"MAP\" stick\t\\ 地図");
}

TEST(DeviceDiscoveryTest, WorkerThreadFindsVolumesAndHandsThemOverQueued)
{
  FakeVolumes volumes;
  volumes.AddPartition(8, 17, Bus::Usb, true);
  volumes.AddPartition(179, 1, Bus::SdCard, false);
  volumes.Mount(8, 17, "/media/present");

  Receiver receiver;
  DeviceDiscovery discovery(&receiver, std::chrono::milliseconds(10));
  EXPECT_FALSE(discovery.Running());
  ASSERT_TRUE(discovery.Start());
  EXPECT_TRUE(discovery.Running());
  EXPECT_FALSE(discovery.Start()) << "already running";

  ASSERT_TRUE(receiver.WaitFor(1));
  const int card = volumes.Mount(179, 1, "/media/card");
  ASSERT_TRUE(receiver.WaitFor(2));
  volumes.Unmount(card);
  ASSERT_TRUE(receiver.WaitFor(3));
  discovery.Stop();
  EXPECT_FALSE(discovery.Running());

  EXPECT_EQ(receiver.Summary(), Summary({"come /media/present", "come /media/card", "go /media/card"}));
  for (const auto& report : receiver.reports)
    EXPECT_EQ(report.thread, QThread::currentThread()) << "runs on the receiver's thread";

  // Started again, it scans afresh and finds what is mounted now.
  ASSERT_TRUE(discovery.Start());
  ASSERT_TRUE(receiver.WaitFor(4));
  EXPECT_EQ(receiver.Summary().back(), "come /media/present");
}

TEST(DeviceDiscoveryTest, ShippedIntervalIsOneSecond)
{
  EXPECT_EQ(DeviceDiscovery::DefaultInterval, std::chrono::milliseconds(1000));
}

TEST(DeviceDiscoveryTest, RealTmpfsPresentedAsUsbStick)
{
  if (!TmpfsMount::Allowed())
    GTEST_SKIP() << "mounting needs root";

  QTemporaryDir base;
  const std::string mountPoint = base.path().toStdString() + "/Mein Stick \"Ü\"";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(mountPoint)));

  // The system's own mount table, a made-up device tree.
  FakeVolumes volumes(false);
  Receiver receiver;
  DeviceDiscovery discovery(&receiver, std::chrono::milliseconds(10));
  ASSERT_TRUE(discovery.Start());

  TmpfsMount tmpfs(mountPoint);
  if (!tmpfs.Mounted())
    GTEST_SKIP() << tmpfs.Error();
  // The device number is known only now; the tree learns it before the
  // volume can count as a USB stick.
  volumes.AddPartition(tmpfs.Major(), tmpfs.Minor(), Bus::Usb, true);

  ASSERT_TRUE(receiver.WaitFor(1));
  EXPECT_EQ(receiver.reports[0].kind, "come");
  EXPECT_EQ(receiver.reports[0].volume.path, mountPoint);
  EXPECT_EQ(receiver.reports[0].volume.protocol, "USB");

  // A tmpfs of a test running beside this one may get the freed device
  // number: the unplugged disk leaves the device tree at once.
  ASSERT_TRUE(tmpfs.Unmount());
  volumes.RemovePartition(tmpfs.Major(), tmpfs.Minor());
  ASSERT_TRUE(receiver.WaitFor(2));
  EXPECT_EQ(receiver.reports[1].kind, "go");
  EXPECT_EQ(receiver.reports[1].volume, receiver.reports[0].volume);
  discovery.Stop();
  EXPECT_EQ(receiver.reports.size(), 2u);
}

#include "DeviceDiscoveryTest.moc"

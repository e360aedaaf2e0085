#include "ui/HeadlessUi.h"
#include "ui/IUi.h"
#include "ui/PopupLink.h"
#include "ui/State.h"

#include "LogCapture.h"
#include "RecordingUi.h"

#include <gtest/gtest.h>

#include <QMetaMethod>
#include <QMetaType>
#include <QSignalSpy>

TEST(UiVocabulary, StatesAndLinksPrintTheirNamesAndNothingOutsideTheirRange)
{
  const char* const states[] = {"CancelDownload",  "MandatoryUpdate", "MapDownload",    "MapUpdateCheck",
                                "MetadataCorrupt", "NoConnection",    "NoSubscription", "OptionalUpdate",
                                "PendingUpdate",   "RootUpdate",      "ServerError",    "SubscriptionExpired",
                                "Unknown",         "UpToDate",        "UsbBlocked",     "UsbCheck",
                                "UsbFull",         "UsbRemoved",      "UsbTooSmall"};
  for (int value = 0; value < 19; ++value)
    EXPECT_EQ(Name(static_cast<State>(value)), states[value]);
  EXPECT_EQ(Name(static_cast<State>(19)), "");
  EXPECT_EQ(Name(static_cast<State>(-1)), "") << "compared as unsigned";

  const char* const links[] = {"Blank", "Continue", "Dismiss", "ShowHelp", "ManageMaps", "Retry"};
  for (int value = 0; value < 6; ++value)
    EXPECT_EQ(Name(static_cast<PopupLink>(value)), links[value]);
  EXPECT_EQ(Name(static_cast<PopupLink>(6)), "");
  EXPECT_EQ(Name(static_cast<PopupLink>(-3)), "");
}

TEST(UiVocabulary, MetaTypesAreKnownByNameAndTheInterfaceOffersItsSlotsInOrder)
{
  Ui::RegisterMetaTypes();
  EXPECT_NE(QMetaType::type("State"), 0);
  EXPECT_NE(QMetaType::type("PopupLink"), 0);
  EXPECT_EQ(QMetaType::sizeOf(QMetaType::type("State")), 4);

  const QMetaObject& meta = Ui::IUi::staticMetaObject;
  QStringList methods;
  for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
    methods << QString::fromLatin1(meta.method(i).methodSignature());
  const QStringList expected = {"DownloadMap(MapInfo::Id)",
                                "CancelDownload()",
                                "Retry()",
                                "UpdateLocale()",
                                "Quit()",
                                "ForcedQuit()",
                                "Activate()",
                                "SetState(State)",
                                "UpdateUsbs()",
                                "ConfirmQuit()"};
  EXPECT_EQ(methods, expected);

  // A state travels through a queued call by its registered name.
  RecordingUi ui;
  ASSERT_TRUE(QMetaObject::invokeMethod(&ui, "SetState", Qt::QueuedConnection, Q_ARG(State, State::UsbFull)));
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(ui.Calls(), std::vector<std::string>{"SetState(UsbFull)"});
}

TEST(HeadlessUi, KeepsTheStateAndLogsOnlyChanges)
{
  LogCapture log;
  Ui::HeadlessUi ui;
  EXPECT_EQ(ui.CurrentState(), State::Unknown);
  ui.SetState(State::MapUpdateCheck);
  ui.SetState(State::MapUpdateCheck);
  ui.SetState(State::RootUpdate);
  ui.Activate();
  EXPECT_EQ(ui.CurrentState(), State::RootUpdate);
  EXPECT_EQ(log.Count("Changing state from: Unknown to: MapUpdateCheck"), 1);
  EXPECT_EQ(log.Count("Changing state from: MapUpdateCheck to: RootUpdate"), 1);
  EXPECT_EQ(log.Count("Activating application"), 1);
}

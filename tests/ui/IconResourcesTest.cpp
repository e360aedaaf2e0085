#include <gtest/gtest.h>

#include <QDirIterator>
#include <QImage>
#include <QMap>
#include <QMovie>

// Every picture the windows and their style sheets name loads at its size on
// a transparent ground, the numbered frame sets are complete, and no picture
// lies in the resources that nothing names.
TEST(IconResourcesTest, EveryNamedPictureLoadsAtItsSizeAndNoOtherIsThere)
{
  // clang-format off
  const std::vector<std::pair<QSize, QStringList>> stills = {
      {{256, 256}, {"PNG/256"}}, {{106, 70}, {"logo_header"}}, {{118, 54}, {"logo_footer"}}, {{236, 48}, {"logo_popup"}},
      {{38, 38}, {"ic_settings", "ic_settings_hover", "ic_settings_active", "ic_settings_disabled", "ic_help",
                  "ic_help_hover", "ic_help_active"}},
      {{12, 7}, {"ic_dropdown_arrow_down", "ic_dropdown_arrow_down_hover", "ic_dropdown_arrow_down_pressed",
                 "ic_dropdown_arrow_up", "ic_dropdown_arrow_up_hover", "ic_dropdown_arrow_up_pressed"}},
      {{17, 18}, {"ic_footer_head-unit", "ic_footer_usb"}},
      {{42, 42}, {"notification-downloading", "notification-pending"}},
      {{42, 38}, {"ic_map_pending_EUR", "ic_map_pending_NAM", "ic_map_optional_EUR", "ic_map_optional_NAM",
                  "ic_map_root_EUR", "ic_map_root_NAM", "ic_map_uptodate_EUR", "ic_map_uptodate_NAM"}},
      {{48, 48}, {"ic_warning_big", "ic_error_big", "ic_full_update_required", "ic_full_update_available",
                  "ic_full_update_updated", "ic_map_expired", "ic_connect_usb"}},
      {{14, 14}, {"ic_connected", "ic_device_notification"}}, {{20, 20}, {"chevron-forward"}},
      {{16, 16}, {"ic_checkbox_filled"}},
      {{32, 32}, {"ic_osx_default", "ic_osx_attention", "ic_osx_progress", "ic_osx_finished"}},
  };
  const struct { QString pattern; int first, last; QSize size; } frameSets[] = {
      {"ic_progress_72/ic_progress_%1", 0, 32, {48, 48}},
      {"ic_delete_72/ic_delete_%1", 0, 32, {48, 48}},
      {"ic_spinner_1414/ic_spinner_%1", 1, 18, {14, 14}},
  };
  // clang-format on
  QMap<QString, QSize> named;
  for (const auto& [size, names] : stills)
    for (const QString& name : names)
      named[":/icons/" + name + ".png"] = size;
  for (const auto& set : frameSets)
    for (int frame = set.first; frame <= set.last; ++frame)
      named[":/icons/" + set.pattern.arg(frame) + ".png"] = set.size;
  for (auto picture = named.cbegin(); picture != named.cend(); ++picture) {
    const QImage image(picture.key());
    EXPECT_EQ(image.size(), picture.value()) << picture.key().toStdString();
    EXPECT_TRUE(image.hasAlphaChannel()) << picture.key().toStdString();
  }
  QMovie spinner(":/icons/ic_spinner.gif");
  EXPECT_TRUE(spinner.isValid() && spinner.frameCount() > 10 && spinner.loopCount() == -1)
      << "a spinner that loops";
  named[":/icons/ic_spinner.gif"];
  for (QDirIterator it(":/icons", QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
    const QString path = it.next();
    EXPECT_TRUE(named.contains(path)) << "nothing names " << path.toStdString();
  }
}

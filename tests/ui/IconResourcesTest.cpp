#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QRegularExpression>

// Every picture that the code, the forms and the style sheets name is in the
// resources and loads (a "%1" in a name stands for any frame or region), and
// the numbered frame sets are complete.
TEST(IconResourcesTest, EveryNamedPictureIsThereAndLoads)
{
  static const QRegularExpression name(":/icons/[\\w/%.-]+\\.(png|gif)");
  int named = 0;
  for (const QString folder : {"/src", "/resources/styles"})
    for (QDirIterator it(LUMORA_SOURCE_DIR + folder, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();) {
      QFile file(it.next());
      ASSERT_TRUE(file.open(QIODevice::ReadOnly));
      for (auto match = name.globalMatch(QString::fromUtf8(file.readAll())); match.hasNext(); ++named) {
        const QFileInfo picture(match.next().captured().replace("%1", "*"));
        const QStringList found = QDir(picture.path()).entryList({picture.fileName()});
        EXPECT_FALSE(found.isEmpty()) << picture.filePath().toStdString();
        for (const QString& each : found)
          EXPECT_FALSE(QImage(picture.path() + "/" + each).isNull()) << each.toStdString();
      }
    }
  EXPECT_GT(named, 40);
  for (const auto& [set, frames] : std::vector<std::pair<QString, uint>>{
           {"ic_progress_72", 33}, {"ic_delete_72", 33}, {"ic_spinner_1414", 18}})
    EXPECT_EQ(QDir(":/icons/" + set).count(), frames) << set.toStdString();
}

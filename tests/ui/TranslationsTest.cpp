#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

// Every text that the code and the forms translate has an entry for British
// English and a finished German translation in the translation sources of the
// tree: lupdate, run at test time on copies of them, finds no new text, and
// the German copy holds no unfinished or empty translation.
TEST(TranslationsTest, EveryTranslatedTextHasFinishedGermanAndABritishEntry)
{
  QTemporaryDir dir;
  for (const QString locale : {"de_DE", "en_GB"}) {
    SCOPED_TRACE(locale.toStdString());
    const QString copy = dir.filePath(locale + ".ts");
    ASSERT_TRUE(QFile::copy(LUMORA_SOURCE_DIR "/resources/translations/" + locale + ".ts", copy));
    QProcess lupdate;
    lupdate.start(LUMORA_LUPDATE,
                  {"-locations", "none", "-no-obsolete", LUMORA_SOURCE_DIR "/src", "-ts", copy});
    ASSERT_TRUE(lupdate.waitForFinished(120000) && lupdate.exitCode() == 0)
        << lupdate.errorString().toStdString();
    const QString report = lupdate.readAllStandardOutput() + lupdate.readAllStandardError();
    EXPECT_TRUE(report.contains(" source text(s) (0 new and ")) << report.toStdString();
    QFile file(copy);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray texts = file.readAll();
    EXPECT_FALSE(locale == "de_DE" &&
                 (texts.contains("type=\"unfinished\"") || texts.contains("<translation></translation>")));
  }
}

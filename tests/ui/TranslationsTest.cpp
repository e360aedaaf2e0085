#include <gtest/gtest.h>

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QXmlStreamReader>

// Every text that the code and the forms translate must be translated into
// German, and listed for British English, in the translation sources of the
// tree. The texts are found the way the lupdate target finds them, at test
// time, so texts added anywhere are checked without a list kept by hand.

namespace {

struct Message
{
  QString context;
  QString source;
  QString type; // "", "unfinished", "vanished" or "obsolete"
  QStringList translations;
};

using Messages = QMap<QString, Message>;

QString KeyOf(const QString& context, const QString& source, const QString& comment)
{
  return context + QChar(0x1F) + source + QChar(0x1F) + comment;
}

// The messages of a .ts file by context, source and comment.
Messages ReadTs(const QString& path, QString* error)
{
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    *error = path + ": " + file.errorString();
    return {};
  }
  Messages messages;
  QXmlStreamReader xml(&file);
  QString context;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement)
      continue;
    if (xml.name() == QLatin1String("name")) {
      context = xml.readElementText();
    } else if (xml.name() == QLatin1String("message")) {
      Message message;
      message.context = context;
      QString comment;
      while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("source")) {
          message.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("comment")) {
          comment = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
          message.type = xml.attributes().value("type").toString();
          QString text;
          while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isCharacters())
              text += xml.text();
            else if (xml.isStartElement() && xml.name() == QLatin1String("numerusform"))
              message.translations << xml.readElementText();
            else if (xml.isEndElement() && xml.name() == QLatin1String("translation"))
              break;
          }
          if (message.translations.isEmpty())
            message.translations << text;
        } else {
          xml.skipCurrentElement();
        }
      }
      messages.insert(KeyOf(message.context, message.source, comment), message);
    }
  }
  if (xml.hasError())
    *error = path + ": " + xml.errorString();
  return messages;
}

bool Kept(const Message& message)
{
  return message.type != QLatin1String("vanished") && message.type != QLatin1String("obsolete");
}

} // namespace

TEST(TranslationsTest, EveryTranslatedTextHasFinishedGermanAndABritishEntry)
{
  QTemporaryDir dir;
  const QString scanned = dir.filePath("scanned.ts");
  QProcess lupdate;
  lupdate.start(QStringLiteral(LUMORA_LUPDATE), {"-silent", "-locations", "none", "-no-obsolete",
                                                 QStringLiteral(LUMORA_SOURCE_DIR "/src"), "-ts", scanned});
  ASSERT_TRUE(lupdate.waitForFinished(120000)) << lupdate.errorString().toStdString();
  ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAllStandardError().toStdString();

  QString error;
  const Messages texts = ReadTs(scanned, &error);
  const QString folder = QStringLiteral(LUMORA_SOURCE_DIR "/resources/translations/");
  const Messages german = ReadTs(folder + "de_DE.ts", &error);
  const Messages british = ReadTs(folder + "en_GB.ts", &error);
  ASSERT_TRUE(error.isEmpty()) << error.toStdString();
  ASSERT_FALSE(texts.isEmpty()) << "the scan finds the texts of the code";

  QStringList faults;
  for (auto text = texts.begin(); text != texts.end(); ++text) {
    const QString name = QStringLiteral("\"%1\" in context \"%2\"").arg(text->source, text->context);
    const auto translated = german.find(text.key());
    if (translated == german.end() || !Kept(*translated))
      faults << "no German entry for " + name;
    else if (translated->type == QLatin1String("unfinished"))
      faults << "unfinished German entry for " + name;
    else if (translated->translations.contains(QString()))
      faults << "empty German translation for " + name;
    const auto listed = british.find(text.key());
    if (listed == british.end() || !Kept(*listed))
      faults << "no British English entry for " + name;
  }
  EXPECT_TRUE(faults.isEmpty()) << faults.join('\n').toStdString();
}

#include "ui/widgets/SettingsScreen.h"

#include "Log.h"
#include "cfg/Config.h"
#include "cfg/Settings.h"
#include "fmu/MapStorage.h"
#include "ui/IUi.h"
#include "ui/OpenLink.h"
#include "usb/UsbStorage.h"
#include "util/Fonts.h"
#include "util/Stylesheet.h"

#include "ui_SettingsScreenWidget.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QStyledItemDelegate>

namespace Ui {

namespace {

enum Page : int
{
  GeneralPage = 0,
  SubscriptionPage = 1,
  AboutPage = 2
};

// Links of the legal notices are drawn in this colour, apart from the blue of
// the page's own buttons.
const char* const LegalLinkColour = "#846659";

const char* const FallbackLocale = "en_GB";

QString& LegalPagePath()
{
  static QString path = QStringLiteral(":/legal/license_mac.htm");
  return path;
}

// A language as it calls itself, with a capital first letter ("Deutsch").
QString LanguageName(const QLocale& locale)
{
  QString name = locale.nativeLanguageName();
  if (name.isEmpty())
    name = locale.name();
  if (!name.isEmpty())
    name[0] = name[0].toUpper();
  return name;
}

} // namespace

SettingsScreen::SettingsScreen(IUi& userInterface, QWidget* parent)
    : QWidget(parent), ui(userInterface), form(std::make_unique<SettingsScreenWidget>())
{
  form->setupUi(this);
  SetFonts();
  LoadStylesheet(QStringLiteral(":/styles/SettingsScreenWidget.qss"), this);

  // Translations and the date come from files outside the program: shown as
  // they are, never as markup.
  for (QLabel* label : {form->labelTitle, form->labelLanguage, form->labelSubscriptionTitle,
                        form->labelSubscriptionDate, form->labelCurrentVersion})
    label->setTextFormat(Qt::PlainText);

  connect(form->pushButtonGeneral, &QPushButton::clicked, this, &SettingsScreen::OnGeneralButtonClicked);
  connect(form->pushButtonSubscription, &QPushButton::clicked, this,
          &SettingsScreen::OnSubscriptionButtonClicked);
  connect(form->pushButtonAbout, &QPushButton::clicked, this, &SettingsScreen::OnAboutButtonClicked);
  connect(form->pushButtonSaveSettings, &QPushButton::clicked, this,
          &SettingsScreen::OnSaveSettingsButtonClicked);
  connect(form->pushButtonCancel, &QPushButton::clicked, this, &SettingsScreen::OnCancelButtonClicked);
  connect(form->checkBoxAutoStart, &QCheckBox::toggled, this, &SettingsScreen::OnAutoStartCheckBoxToggled);
  connect(form->comboBoxLanguage, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
          &SettingsScreen::OnLanguageComboBoxCurrentIndexChanged);
  connect(form->pushButtonTermsAndConditions, &QPushButton::clicked, this,
          &SettingsScreen::OnTermsAndConditionsButtonClicked);
  connect(form->pushButtonCopyrightMapData, &QPushButton::clicked, this,
          &SettingsScreen::OnCopyrightMapDataButtonClicked);
  connect(form->pushButtonReportMapError, &QPushButton::clicked, this,
          &SettingsScreen::OnReportMapErrorButtonClicked);
  // The legal page never follows a link itself; web links go to the browser.
  connect(form->labelLegal, &QTextBrowser::anchorClicked, this, [](const QUrl& url) { OpenLink(url); });
  connect(&ui, &IUi::UpdateLocale, this, &SettingsScreen::RetranslateUi);

  // Without its legal notices the screen still lets the user change settings.
  PopulateLegalLabel();
  PopulateLanguageList();
  RestoreSettings();
  form->pushButtonSaveSettings->setEnabled(false);
  form->pushButtonCancel->hide();
  RetranslateUi();
  OnGeneralButtonClicked();
}

SettingsScreen::~SettingsScreen() = default;

QString SettingsScreen::LegalPage()
{
  return LegalPagePath();
}

QString SettingsScreen::SetLegalPage(const QString& path)
{
  QString previous = LegalPagePath();
  LegalPagePath() = path;
  return previous;
}

void SettingsScreen::SetFonts()
{
  form->labelTitle->setFont(Fonts::Get(Fonts::Bold, 18));
  for (QWidget* widget : std::initializer_list<QWidget*>{
           form->pushButtonGeneral, form->pushButtonSubscription, form->pushButtonAbout,
           form->checkBoxAutoStart, form->labelLanguage, form->comboBoxLanguage, form->pageSubscription,
           form->labelSubscriptionTitle, form->labelSubscriptionDate, form->labelCopyright,
           form->labelCurrentVersion, form->pushButtonTermsAndConditions, form->pushButtonCopyrightMapData,
           form->pushButtonReportMapError})
    widget->setFont(Fonts::Get(Fonts::Regular, 12));
  form->pushButtonCancel->setFont(Fonts::Get(Fonts::Medium, 14));
  form->pushButtonSaveSettings->setFont(Fonts::Get(Fonts::Medium, 14));
}

void SettingsScreen::PopulateLegalLabel()
{
  LOG(Debug) << "Populating legal label";
  QFile file(LegalPagePath());
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    LOG(Warning) << "Unable to open file: " << file.fileName() << ", :" << file.errorString();
    return;
  }
  const QString style = QStringLiteral("<head>  <style>    a:link    {      color:%1    }  </style></head>")
                            .arg(QLatin1String(LegalLinkColour));
  form->labelLegal->setHtml(style + QString::fromUtf8(file.readAll()));
}

void SettingsScreen::PopulateLanguageList()
{
  LOG(Debug) << "Populating language list";
  QComboBox* combo = form->comboBoxLanguage;
  combo->clear();
  // The style sheet's item rules apply only through a styled delegate.
  combo->setItemDelegate(new QStyledItemDelegate(this));
  for (const QLocale& locale : Config::get().locales)
    combo->addItem(LanguageName(locale), QVariant(locale));
  // By the names shown, so the order does not follow the translation files'.
  combo->model()->sort(0);
}

int SettingsScreen::LanguageIndex(const QString& name) const
{
  const QComboBox* combo = form->comboBoxLanguage;
  auto find = [combo](const QLocale& wanted) {
    for (int index = 0; index < combo->count(); ++index) {
      const QVariant data = combo->itemData(index, Qt::UserRole);
      if (data.isValid() && data.value<QLocale>() == wanted)
        return index;
    }
    return -1;
  };
  int index = find(QLocale(name));
  if (index < 0)
    index = find(QLocale(QLatin1String(FallbackLocale)));
  if (index < 0 && combo->count() > 0)
    index = 0;
  return index;
}

bool SettingsScreen::SettingsChanged() const
{
  return settingsChanged;
}

void SettingsScreen::SetSettingsChanged(bool changed)
{
  form->pushButtonSaveSettings->setEnabled(changed);
  form->pushButtonCancel->setVisible(changed);
  settingsChanged = changed;
}

void SettingsScreen::RestoreSettings()
{
  if (!settingsChanged)
    return;
  LOG(Debug) << "Restoring all settings to current values";
  const Settings& settings = Settings::get();
  const int index = LanguageIndex(settings.Locale());
  if (index >= 0)
    form->comboBoxLanguage->setCurrentIndex(index);
  form->checkBoxAutoStart->setChecked(settings.RunAtStartup());
  SetSettingsChanged(false);
}

void SettingsScreen::SaveSettings()
{
  LOG(Info) << "Saving user settings";
  Settings& settings = Settings::get();
  // The values in effect before the save are the ones settings.json holds.
  const QString storedLocale = settings.Locale();
  const bool storedRunAtStartup = settings.RunAtStartup();
  const QLocale locale = form->comboBoxLanguage->currentData(Qt::UserRole).value<QLocale>();
  const bool switched = settings.SetLocale(locale.name());
  if (switched) {
    emit ui.UpdateLocale();
  } else {
    // A language that could not be switched to must not stay on show as if
    // it were chosen: the list goes back to the language in effect.
    const int index = LanguageIndex(settings.Locale());
    if (index >= 0)
      form->comboBoxLanguage->setCurrentIndex(index);
  }
  const bool runAtStartup = form->checkBoxAutoStart->isChecked();
  settings.SetRunAtStartup(runAtStartup);
  if (!settings.Save()) {
    // A save that could not be stored (logged as an error) leaves in effect
    // what settings.json holds: start at login and its entry go back, and so
    // does a language this save switched to, with the texts. The controls
    // keep the user's choice, unsaved, with Save offered again.
    settings.ApplyStoredRunAtStartup(storedRunAtStartup);
    if (switched && settings.SetLocale(storedLocale))
      emit ui.UpdateLocale();
    SetSettingsChanged(true);
    return;
  }
  // A change of start at login whose entry could not be written (logged as an
  // error) was not taken: it stays unsaved, with Save offered again.
  SetSettingsChanged(settings.RunAtStartup() != runAtStartup);
}

void SettingsScreen::UpdateSubscription()
{
  const HeadUnitInfo headUnit = MapStorage::Get().GetHeadUnit();
  const UsbInfo usb = UsbStorage::Get().GetActiveUsb();
  if (headUnit.subscriptionEnd.isValid()) {
    form->labelSubscriptionTitle->setText(
        QCoreApplication::translate("global", "This vehicle is entitled to receive map updates until:") +
        QLatin1Char(' '));
    form->labelSubscriptionDate->setText(
        QLocale(Settings::get().Locale()).toString(headUnit.subscriptionEnd, QStringLiteral("dd MMMM yyyy")));
    form->pushButtonSubscription->setEnabled(true);
  } else if (usb.Valid() && usb.state != UsbInfo::NoMetadata) {
    form->labelSubscriptionTitle->setText(
        QCoreApplication::translate("global", "This vehicle is not yet entitled to receive map updates."));
    form->labelSubscriptionDate->clear();
    form->pushButtonSubscription->setEnabled(true);
  } else {
    form->labelSubscriptionTitle->clear();
    form->labelSubscriptionDate->clear();
    form->pushButtonSubscription->setEnabled(false);
    if (form->stackedWidgetSettings->currentIndex() == SubscriptionPage) {
      form->pushButtonGeneral->setChecked(true);
      form->stackedWidgetSettings->setCurrentIndex(GeneralPage);
    }
  }
}

void SettingsScreen::resizeEvent(QResizeEvent* event)
{
  QWidget::resizeEvent(event);
  // As many entries as fit between the list and the Save button.
  const int count = (form->widgetSaveSettings->y() - form->comboBoxLanguage->y() - 38) / 37;
  if (count >= 0)
    form->comboBoxLanguage->setMaxVisibleItems(count);
}

void SettingsScreen::RetranslateUi()
{
  LOG(Debug) << "Retranslating widget's strings";
  form->labelTitle->setText(QCoreApplication::translate("global", "Settings"));
  form->pushButtonGeneral->setText(QCoreApplication::translate("global", "General"));
  form->pushButtonSubscription->setText(QCoreApplication::translate("global", "Subscription"));
  form->pushButtonAbout->setText(QCoreApplication::translate("global", "About"));
  form->labelLanguage->setText(QCoreApplication::translate("global", "Language:"));
  form->pushButtonCancel->setText(QCoreApplication::translate("global", "Cancel"));
  form->pushButtonSaveSettings->setText(QCoreApplication::translate("global", "Save settings"));
  form->pushButtonTermsAndConditions->setText(QCoreApplication::translate("global", "Terms and Conditions"));
  form->pushButtonCopyrightMapData->setText(
      QCoreApplication::translate("global", "Copyright notices applicable to the use of Orvane's map data"));
  form->pushButtonReportMapError->setText(QCoreApplication::translate("global", "Report Map Errors"));

  const Config& config = Config::get();
  form->checkBoxAutoStart->setText(
      QCoreApplication::translate("global", "Start %APPNAME% when the computer starts (recommended)")
          .replace(QLatin1String("%APPNAME%"), config.appName));
  form->labelCurrentVersion->setText(QCoreApplication::translate("global", "Version %1").arg(config.version));
  // The notice itself is never translated; only its year is filled in, once.
  form->labelCopyright->setText(
      form->labelCopyright->text().replace(QLatin1String("%CURRENTYEAR%"), config.copyrightYear));

  UpdateSubscription();
}

void SettingsScreen::ShowPage(int index)
{
  QPushButton* buttons[] = {form->pushButtonGeneral, form->pushButtonSubscription, form->pushButtonAbout};
  buttons[index]->setChecked(true);
  form->stackedWidgetSettings->setCurrentIndex(index);
}

void SettingsScreen::OnGeneralButtonClicked()
{
  LOG(Debug) << "General button clicked";
  ShowPage(GeneralPage);
}

void SettingsScreen::OnSubscriptionButtonClicked()
{
  LOG(Debug) << "Subscription button clicked";
  ShowPage(SubscriptionPage);
}

void SettingsScreen::OnAboutButtonClicked()
{
  LOG(Debug) << "About button clicked";
  ShowPage(AboutPage);
}

void SettingsScreen::OnSaveSettingsButtonClicked()
{
  LOG(Debug) << "Save changes button clicked";
  SaveSettings();
}

void SettingsScreen::OnCancelButtonClicked()
{
  LOG(Debug) << "Discard changes button clicked";
  emit CancelButtonClicked();
}

void SettingsScreen::OnAutoStartCheckBoxToggled(bool)
{
  LOG(Debug) << "Autostart checkbox clicked";
  SetSettingsChanged(true);
}

void SettingsScreen::OnLanguageComboBoxCurrentIndexChanged(int)
{
  LOG(Debug) << "Language index changed";
  SetSettingsChanged(true);
}

void SettingsScreen::OnTermsAndConditionsButtonClicked()
{
  LOG(Debug) << "Terms and conditions button clicked";
  OpenLink(Config::get().copyrightLink());
}

void SettingsScreen::OnCopyrightMapDataButtonClicked()
{
  LOG(Debug) << "Copyright button clicked";
  OpenLink(Config::get().legalLink());
}

void SettingsScreen::OnReportMapErrorButtonClicked()
{
  LOG(Debug) << "Report Map Error button clicked";
  OpenLink(Config::get().reportMapShareLink());
}

} // namespace Ui

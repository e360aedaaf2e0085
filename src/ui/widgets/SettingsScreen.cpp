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

SettingsScreen::SettingsScreen(IUi& ui, QWidget* parent)
    : QWidget(parent), ui_(ui), form_(std::make_unique<SettingsScreenWidget>())
{
  form_->setupUi(this);
  SetFonts();
  LoadStylesheet(QStringLiteral(":/styles/SettingsScreenWidget.qss"), this);

  // Translations and the date come from files outside the program: shown as
  // they are, never as markup.
  for (QLabel* label : {form_->labelTitle, form_->labelLanguage, form_->labelSubscriptionTitle,
                        form_->labelSubscriptionDate, form_->labelCurrentVersion})
    label->setTextFormat(Qt::PlainText);

  connect(form_->pushButtonGeneral, &QPushButton::clicked, this, &SettingsScreen::OnGeneralButtonClicked);
  connect(form_->pushButtonSubscription, &QPushButton::clicked, this,
          &SettingsScreen::OnSubscriptionButtonClicked);
  connect(form_->pushButtonAbout, &QPushButton::clicked, this, &SettingsScreen::OnAboutButtonClicked);
  connect(form_->pushButtonSaveSettings, &QPushButton::clicked, this,
          &SettingsScreen::OnSaveSettingsButtonClicked);
  connect(form_->pushButtonCancel, &QPushButton::clicked, this, &SettingsScreen::OnCancelButtonClicked);
  connect(form_->checkBoxAutoStart, &QCheckBox::toggled, this, &SettingsScreen::OnAutoStartCheckBoxToggled);
  connect(form_->comboBoxLanguage, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
          &SettingsScreen::OnLanguageComboBoxCurrentIndexChanged);
  connect(form_->pushButtonTermsAndConditions, &QPushButton::clicked, this,
          &SettingsScreen::OnTermsAndConditionsButtonClicked);
  connect(form_->pushButtonCopyrightMapData, &QPushButton::clicked, this,
          &SettingsScreen::OnCopyrightMapDataButtonClicked);
  connect(form_->pushButtonReportMapError, &QPushButton::clicked, this,
          &SettingsScreen::OnReportMapErrorButtonClicked);
  // The legal page never follows a link itself; web links go to the browser.
  connect(form_->labelLegal, &QTextBrowser::anchorClicked, this, [](const QUrl& url) { OpenLink(url); });
  connect(&ui_, &IUi::UpdateLocale, this, &SettingsScreen::RetranslateUi);

  // Without its legal notices the screen still lets the user change settings.
  PopulateLegalLabel();
  PopulateLanguageList();
  RestoreSettings();
  form_->pushButtonSaveSettings->setEnabled(false);
  form_->pushButtonCancel->hide();
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
  form_->labelTitle->setFont(Fonts::Get(Fonts::Bold, 18));
  for (QWidget* widget : std::initializer_list<QWidget*>{
           form_->pushButtonGeneral, form_->pushButtonSubscription, form_->pushButtonAbout,
           form_->checkBoxAutoStart, form_->labelLanguage, form_->comboBoxLanguage, form_->pageSubscription,
           form_->labelSubscriptionTitle, form_->labelSubscriptionDate, form_->labelCopyright,
           form_->labelCurrentVersion, form_->pushButtonTermsAndConditions, form_->pushButtonCopyrightMapData,
           form_->pushButtonReportMapError})
    widget->setFont(Fonts::Get(Fonts::Regular, 12));
  form_->pushButtonCancel->setFont(Fonts::Get(Fonts::Medium, 14));
  form_->pushButtonSaveSettings->setFont(Fonts::Get(Fonts::Medium, 14));
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
  form_->labelLegal->setHtml(style + QString::fromUtf8(file.readAll()));
}

void SettingsScreen::PopulateLanguageList()
{
  LOG(Debug) << "Populating language list";
  QComboBox* combo = form_->comboBoxLanguage;
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
  const QComboBox* combo = form_->comboBoxLanguage;
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
  return settingsChanged_;
}

void SettingsScreen::SetSettingsChanged(bool changed)
{
  form_->pushButtonSaveSettings->setEnabled(changed);
  form_->pushButtonCancel->setVisible(changed);
  settingsChanged_ = changed;
}

void SettingsScreen::RestoreSettings()
{
  if (!settingsChanged_)
    return;
  LOG(Debug) << "Restoring all settings to current values";
  const Settings& settings = Settings::get();
  const int index = LanguageIndex(settings.Locale());
  if (index >= 0)
    form_->comboBoxLanguage->setCurrentIndex(index);
  form_->checkBoxAutoStart->setChecked(settings.RunAtStartup());
  SetSettingsChanged(false);
}

void SettingsScreen::SaveSettings()
{
  LOG(Info) << "Saving user settings";
  Settings& settings = Settings::get();
  const QLocale locale = form_->comboBoxLanguage->currentData(Qt::UserRole).value<QLocale>();
  if (settings.SetLocale(locale.name())) {
    emit ui_.UpdateLocale();
  } else {
    // A language that could not be switched to must not stay on show as if
    // it were chosen: the list goes back to the language in effect.
    const int index = LanguageIndex(settings.Locale());
    if (index >= 0)
      form_->comboBoxLanguage->setCurrentIndex(index);
  }
  settings.SetRunAtStartup(form_->checkBoxAutoStart->isChecked());
  settings.Save();
  SetSettingsChanged(false);
}

void SettingsScreen::UpdateSubscription()
{
  const HeadUnitInfo headUnit = MapStorage::Get().GetHeadUnit();
  const UsbInfo usb = UsbStorage::Get().GetActiveUsb();
  if (headUnit.subscriptionEnd.isValid()) {
    form_->labelSubscriptionTitle->setText(
        QCoreApplication::translate("global", "This vehicle is entitled to receive map updates until:") +
        QLatin1Char(' '));
    form_->labelSubscriptionDate->setText(
        QLocale(Settings::get().Locale()).toString(headUnit.subscriptionEnd, QStringLiteral("dd MMMM yyyy")));
    form_->pushButtonSubscription->setEnabled(true);
  } else if (usb.Valid() && usb.state != UsbInfo::NoMetadata) {
    form_->labelSubscriptionTitle->setText(
        QCoreApplication::translate("global", "This vehicle is not yet entitled to receive map updates."));
    form_->labelSubscriptionDate->clear();
    form_->pushButtonSubscription->setEnabled(true);
  } else {
    form_->labelSubscriptionTitle->clear();
    form_->labelSubscriptionDate->clear();
    form_->pushButtonSubscription->setEnabled(false);
    if (form_->stackedWidgetSettings->currentIndex() == SubscriptionPage) {
      form_->pushButtonGeneral->setChecked(true);
      form_->stackedWidgetSettings->setCurrentIndex(GeneralPage);
    }
  }
}

void SettingsScreen::resizeEvent(QResizeEvent* event)
{
  QWidget::resizeEvent(event);
  // As many entries as fit between the list and the Save button.
  const int count = (form_->widgetSaveSettings->y() - form_->comboBoxLanguage->y() - 38) / 37;
  if (count >= 0)
    form_->comboBoxLanguage->setMaxVisibleItems(count);
}

void SettingsScreen::RetranslateUi()
{
  LOG(Debug) << "Retranslating widget's strings";
  form_->labelTitle->setText(QCoreApplication::translate("global", "Settings"));
  form_->pushButtonGeneral->setText(QCoreApplication::translate("global", "General"));
  form_->pushButtonSubscription->setText(QCoreApplication::translate("global", "Subscription"));
  form_->pushButtonAbout->setText(QCoreApplication::translate("global", "About"));
  form_->labelLanguage->setText(QCoreApplication::translate("global", "Language:"));
  form_->pushButtonCancel->setText(QCoreApplication::translate("global", "Cancel"));
  form_->pushButtonSaveSettings->setText(QCoreApplication::translate("global", "Save settings"));
  form_->pushButtonTermsAndConditions->setText(QCoreApplication::translate("global", "Terms and Conditions"));
  form_->pushButtonCopyrightMapData->setText(
      QCoreApplication::translate("global", "Copyright notices applicable to the use of Orvane's map data"));
  form_->pushButtonReportMapError->setText(QCoreApplication::translate("global", "Report Map Errors"));

  const Config& config = Config::get();
  form_->checkBoxAutoStart->setText(
      QCoreApplication::translate("global", "Start %APPNAME% when the computer starts (recommended)")
          .replace(QLatin1String("%APPNAME%"), config.appName));
  form_->labelCurrentVersion->setText(
      QCoreApplication::translate("global", "Version %1").arg(config.version));
  // The notice itself is never translated; only its year is filled in, once.
  form_->labelCopyright->setText(
      form_->labelCopyright->text().replace(QLatin1String("%CURRENTYEAR%"), config.copyrightYear));

  UpdateSubscription();
}

void SettingsScreen::ShowPage(int index)
{
  QPushButton* buttons[] = {form_->pushButtonGeneral, form_->pushButtonSubscription, form_->pushButtonAbout};
  buttons[index]->setChecked(true);
  form_->stackedWidgetSettings->setCurrentIndex(index);
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

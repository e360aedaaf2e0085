#pragma once

#include <QString>
#include <QWidget>

#include <memory>

class QResizeEvent;

namespace Ui {

class IUi;
class SettingsScreenWidget;

// The settings page of the main window: a menu of three pages beside a stack
// of them. General holds the UI language and start at login with Save and
// Cancel; Subscription tells until when the vehicle may receive map updates;
// About shows the map-data notice, the version, three web links and the
// legal notices of what the application ships.
//
// Changes on the General page stay in the controls until they are saved. The
// unsaved-changes flag tells the main window whether leaving the page throws
// something away; the window asks the user and calls RestoreSettings. Cancel
// only reports the click; the window decides. Main thread only.
class SettingsScreen : public QWidget
{
  Q_OBJECT

public:
  SettingsScreen(IUi& userInterface, QWidget* parent = nullptr);
  ~SettingsScreen() override;

  // True while a control was changed since the last save or restore.
  bool SettingsChanged() const;
  // Puts the stored settings back into the controls when there are unsaved
  // changes; does nothing otherwise.
  void RestoreSettings();
  // Sets the flag; Save is enabled and Cancel shown exactly while it is set.
  void SetSettingsChanged(bool changed);
  // Stores the controls' values through Settings and writes settings.json.
  // A saved change of language emits IUi::UpdateLocale once; a language that
  // cannot be switched to leaves the list on the language in effect. A save
  // that cannot write settings.json puts back what the file holds (the
  // language, with IUi::UpdateLocale once more, start at login and its
  // entry) and stays unsaved. A change of start at login whose entry cannot
  // be written is not taken and stays unsaved too.
  void SaveSettings();
  // Refreshes the Subscription page from the head unit's subscription end
  // date and the active stick.
  void UpdateSubscription();

  // The built-in legal notices page (":/legal/license_mac.htm").
  static QString LegalPage();
  // The page that screens built from now on show; returns the one before.
  // For tests of a missing page.
  static QString SetLegalPage(const QString& path);

signals:
  void CancelButtonClicked();

protected:
  void resizeEvent(QResizeEvent* event) override;

private slots:
  void RetranslateUi();
  void OnGeneralButtonClicked();
  void OnSubscriptionButtonClicked();
  void OnAboutButtonClicked();
  void OnSaveSettingsButtonClicked();
  void OnCancelButtonClicked();
  void OnAutoStartCheckBoxToggled(bool checked);
  void OnLanguageComboBoxCurrentIndexChanged(int index);
  void OnTermsAndConditionsButtonClicked();
  void OnCopyrightMapDataButtonClicked();
  void OnReportMapErrorButtonClicked();

private:
  void SetFonts();
  void PopulateLegalLabel();
  void PopulateLanguageList();
  // The entry whose locale is `name`, else the en_GB entry, else the first;
  // -1 for an empty list.
  int LanguageIndex(const QString& name) const;
  void ShowPage(int index);

  IUi& ui;
  std::unique_ptr<SettingsScreenWidget> form;
  bool settingsChanged = true;
};

} // namespace Ui

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>SettingsScreenWidget</name>
    <message>
        <source>Report Map Errors</source>
        <translation>Kartenfehler melden</translation>
    </message>
</context>
<context>
    <name>global</name>
    <message>
        <source>B</source>
        <translation>B</translation>
    </message>
    <message>
        <source>KB</source>
        <translation>kB</translation>
    </message>
    <message>
        <source>MB</source>
        <translation>MB</translation>
    </message>
    <message>
        <source>GB</source>
        <translation>GB</translation>
    </message>
    <message>
        <source>TB</source>
        <translation>TB</translation>
    </message>
    <message>
        <source>This vehicle is entitled to receive map updates until:</source>
        <translation>Dieses Fahrzeug erhält Kartenupdates bis:</translation>
    </message>
    <message>
        <source>This vehicle is not yet entitled to receive map updates.</source>
        <translation>Dieses Fahrzeug ist noch nicht zum Empfang von Kartenupdates berechtigt.</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Subscription</source>
        <translation>Abonnement</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Language:</source>
        <translation>Sprache:</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Save settings</source>
        <translation>Einstellungen speichern</translation>
    </message>
    <message>
        <source>Terms and Conditions</source>
        <translation>Allgemeine Geschäftsbedingungen</translation>
    </message>
    <message>
        <source>Copyright notices applicable to the use of Orvane&apos;s map data</source>
        <translation>Urheberrechtshinweise zur Nutzung der Kartendaten von Orvane</translation>
    </message>
    <message>
        <source>Report Map Errors</source>
        <translation>Kartenfehler melden</translation>
    </message>
    <message>
        <source>Start %APPNAME% when the computer starts (recommended)</source>
        <translation>%APPNAME% beim Hochfahren des Computers starten (empfohlen)</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>%1 free of %2</source>
        <translation>%1 frei von %2</translation>
    </message>
    <message>
        <source>Navigation System</source>
        <translation>Navigationssystem</translation>
    </message>
    <message>
        <source>%1
Downloading - %2 %
%3 of %4</source>
        <translation>%1
Herunterladen – %2 %
%3 von %4</translation>
    </message>
    <message>
        <source>Map update</source>
        <translation>Kartenupdate</translation>
    </message>
    <message>
        <source>%1
Cancelling download - %2 %
%3 of %4</source>
        <translation>%1
Download wird abgebrochen – %2 %
%3 von %4</translation>
    </message>
    <message>
        <source>Deleting downloaded map update.</source>
        <translation>Heruntergeladenes Kartenupdate wird gelöscht.</translation>
    </message>
    <message>
        <source>Confirm map download</source>
        <translation>Karten-Download bestätigen</translation>
    </message>
    <message>
        <source>This map download of %1 will restore the current map.</source>
        <translation>Dieser Karten-Download von %1 stellt die aktuelle Karte wieder her.</translation>
    </message>
    <message>
        <source>Confirm optional map update</source>
        <translation>Optionales Kartenupdate bestätigen</translation>
    </message>
    <message>
        <source>This map update download of %1 will refresh the current map with the latest updates.</source>
        <translation>Dieser Kartenupdate-Download von %1 bringt die aktuelle Karte auf den neuesten Stand.</translation>
    </message>
    <message>
        <source>Confirm mandatory map update</source>
        <translation>Erforderliches Kartenupdate bestätigen</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>Insufficient memory space available</source>
        <translation>Nicht genügend Speicherplatz verfügbar</translation>
    </message>
    <message>
        <source>There is insufficient memory space available on the USB stick. Please reconnect an USB stick with at least %1 of free memory space to the vehicle&apos;s navigation system.</source>
        <translation>Auf dem USB-Stick ist nicht genügend Speicherplatz verfügbar. Bitte schließen Sie einen USB-Stick mit mindestens %1 freiem Speicherplatz erneut an das Navigationssystem des Fahrzeugs an.</translation>
    </message>
    <message>
        <source>Manage maps</source>
        <translation>Karten verwalten</translation>
    </message>
    <message>
        <source>Cancel map update?</source>
        <translation>Kartenupdate abbrechen?</translation>
    </message>
    <message>
        <source>Cancelling the map update will delete the map update from the USB stick. For future installation on your vehicle&apos;s navigation system, the map update needs to be downloaded to the USB stick again. Please confirm cancelling this map update.</source>
        <translation>Wenn Sie das Kartenupdate abbrechen, wird es vom USB-Stick gelöscht. Für eine spätere Installation im Navigationssystem Ihres Fahrzeugs muss das Kartenupdate erneut auf den USB-Stick heruntergeladen werden. Bitte bestätigen Sie den Abbruch dieses Kartenupdates.</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Ja</translation>
    </message>
    <message>
        <source>No</source>
        <translation>Nein</translation>
    </message>
    <message>
        <source>Unsaved changes detected</source>
        <translation>Nicht gespeicherte Änderungen erkannt</translation>
    </message>
    <message>
        <source>Unsaved changes detected. Closing this settings window will discard the changes.</source>
        <translation>Nicht gespeicherte Änderungen erkannt. Wenn Sie dieses Einstellungsfenster schließen, werden die Änderungen verworfen.</translation>
    </message>
    <message>
        <source>Yes, discard</source>
        <translation>Ja, verwerfen</translation>
    </message>
    <message>
        <source>No, go back</source>
        <translation>Nein, zurück</translation>
    </message>
    <message>
        <source>No internet connection</source>
        <translation>Keine Internetverbindung</translation>
    </message>
    <message>
        <source>Downloading map updates requires an internet connection. Please check if the computer is connected to the internet.</source>
        <translation>Zum Herunterladen von Kartenupdates ist eine Internetverbindung erforderlich. Bitte prüfen Sie, ob der Computer mit dem Internet verbunden ist.</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Erneut versuchen</translation>
    </message>
    <message>
        <source>No USB stick found</source>
        <translation>Kein USB-Stick gefunden</translation>
    </message>
    <message>
        <source>Connect a USB stick to the computer</source>
        <translation>Schließen Sie einen USB-Stick an den Computer an</translation>
    </message>
    <message>
        <source>Dismiss</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Quit application</source>
        <translation>Anwendung beenden</translation>
    </message>
    <message>
        <source>The USB stick is in use. Quitting the application results in losing your vehicle&apos;s navigation system map information. To return to the application click No.</source>
        <translation>Der USB-Stick wird gerade verwendet. Wenn Sie die Anwendung beenden, gehen die Karteninformationen des Navigationssystems Ihres Fahrzeugs verloren. Klicken Sie auf Nein, um zur Anwendung zurückzukehren.</translation>
    </message>
    <message>
        <source>Map update server not available</source>
        <translation>Kartenupdate-Server nicht erreichbar</translation>
    </message>
    <message>
        <source>Please try again later.</source>
        <translation>Bitte versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>Cancel map update download?</source>
        <translation>Download des Kartenupdates abbrechen?</translation>
    </message>
    <message>
        <source>Are you sure you want to cancel the map update download?</source>
        <translation>Möchten Sie den Download des Kartenupdates wirklich abbrechen?</translation>
    </message>
    <message>
        <source>Map update subscription expired</source>
        <translation>Kartenupdate-Abonnement abgelaufen</translation>
    </message>
    <message>
        <source>You can still download a map to restore your system to the latest version you were entitled to. To restore the latest entitled map version click below.</source>
        <translation>Sie können weiterhin eine Karte herunterladen, um Ihr System auf die neueste Version zurückzusetzen, die Ihnen zustand. Klicken Sie unten, um die neueste Ihnen zustehende Kartenversion wiederherzustellen.</translation>
    </message>
    <message>
        <source>Restore map</source>
        <translation>Karte wiederherstellen</translation>
    </message>
    <message>
        <source>Map update download failed</source>
        <translation>Download des Kartenupdates fehlgeschlagen</translation>
    </message>
    <message>
        <source>Map update download failed due to a device access operation. Please check if all files on the USB stick can be accessed.</source>
        <translation>Der Download des Kartenupdates ist wegen eines Gerätezugriffs fehlgeschlagen. Bitte prüfen Sie, ob auf alle Dateien auf dem USB-Stick zugegriffen werden kann.</translation>
    </message>
    <message>
        <source>There is insufficient memory space available on the USB stick. Please create some free memory space.</source>
        <translation>Auf dem USB-Stick ist nicht genügend Speicherplatz verfügbar. Bitte schaffen Sie freien Speicherplatz.</translation>
    </message>
    <message>
        <source>USB stick</source>
        <translation>USB-Stick</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Verbunden</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Cancelling download</source>
        <translation>Download wird abgebrochen</translation>
    </message>
    <message>
        <source>Map update required</source>
        <translation>Kartenupdate erforderlich</translation>
    </message>
    <message>
        <source>Update map</source>
        <translation>Karte aktualisieren</translation>
    </message>
    <message>
        <source>Downloading map</source>
        <translation>Karte wird heruntergeladen</translation>
    </message>
    <message>
        <source>Checking for map updates. Please do not disconnect the USB stick.</source>
        <translation>Es wird nach Kartenupdates gesucht. Bitte trennen Sie den USB-Stick nicht.</translation>
    </message>
    <message>
        <source>Something has gone wrong. Please connect the USB stick to your vehicle again.</source>
        <translation>Etwas ist schiefgelaufen. Bitte schließen Sie den USB-Stick erneut an Ihr Fahrzeug an.</translation>
    </message>
    <message>
        <source>See help</source>
        <translation>Hilfe anzeigen</translation>
    </message>
    <message>
        <source>Checking for map updates requires an internet connection. Please check if the computer is connected to the internet.</source>
        <translation>Für die Suche nach Kartenupdates ist eine Internetverbindung erforderlich. Bitte prüfen Sie, ob der Computer mit dem Internet verbunden ist.</translation>
    </message>
    <message>
        <source>Vehicle&apos;s navigation device not registered yet</source>
        <translation>Navigationsgerät des Fahrzeugs noch nicht registriert</translation>
    </message>
    <message>
        <source>Your vehicle&apos;s navigation device is not registered yet to receive map updates.</source>
        <translation>Das Navigationsgerät Ihres Fahrzeugs ist noch nicht für den Empfang von Kartenupdates registriert.</translation>
    </message>
    <message>
        <source>Update available</source>
        <translation>Update verfügbar</translation>
    </message>
    <message>
        <source>Update maps</source>
        <translation>Karten aktualisieren</translation>
    </message>
    <message>
        <source>Pending map updates</source>
        <translation>Ausstehende Kartenupdates</translation>
    </message>
    <message>
        <source>This USB stick already contains map updates. Please connect it to your vehicle to transfer the map updates to your navigation system.</source>
        <translation>Dieser USB-Stick enthält bereits Kartenupdates. Bitte schließen Sie ihn an Ihr Fahrzeug an, um die Kartenupdates auf Ihr Navigationssystem zu übertragen.</translation>
    </message>
    <message>
        <source>Open the main application to download maps for your vehicle&apos;s navigation system.</source>
        <translation>Öffnen Sie die Hauptanwendung, um Karten für das Navigationssystem Ihres Fahrzeugs herunterzuladen.</translation>
    </message>
    <message>
        <source>Open application</source>
        <translation>Anwendung öffnen</translation>
    </message>
    <message>
        <source>Something has gone wrong.</source>
        <translation>Etwas ist schiefgelaufen.</translation>
    </message>
    <message>
        <source>Your navigation system is up to date</source>
        <translation>Ihr Navigationssystem ist auf dem neuesten Stand</translation>
    </message>
    <message>
        <source>Checking your USB stick. Please wait. Please do not disconnect your USB stick.</source>
        <translation>Ihr USB-Stick wird geprüft. Bitte warten Sie. Bitte trennen Sie Ihren USB-Stick nicht.</translation>
    </message>
    <message>
        <source>Insufficient memory space available on the USB stick. Please create some free memory space.</source>
        <translation>Auf dem USB-Stick ist nicht genügend Speicherplatz verfügbar. Bitte schaffen Sie freien Speicherplatz.</translation>
    </message>
    <message>
        <source>The USB stick has been removed while the system was still accessing it. Please reconnect the USB stick</source>
        <translation>Der USB-Stick wurde entfernt, während das System noch darauf zugriff. Bitte schließen Sie den USB-Stick wieder an</translation>
    </message>
    <message>
        <source>Insufficient memory space available on the USB stick. Please use another USB stick with more free memory.</source>
        <translation>Auf dem USB-Stick ist nicht genügend Speicherplatz verfügbar. Bitte verwenden Sie einen anderen USB-Stick mit mehr freiem Speicherplatz.</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Cannot write to USB stick</source>
        <translation>USB-Stick kann nicht beschrieben werden</translation>
    </message>
    <message>
        <source>Map updates available</source>
        <translation>Kartenupdates verfügbar</translation>
    </message>
    <message>
        <source>Checking for map updates</source>
        <translation>Suche nach Kartenupdates</translation>
    </message>
    <message>
        <source>Cannot read from USB stick</source>
        <translation>USB-Stick kann nicht gelesen werden</translation>
    </message>
    <message>
        <source>Please check your internet connection</source>
        <translation>Bitte prüfen Sie Ihre Internetverbindung</translation>
    </message>
    <message>
        <source>Map updates ready</source>
        <translation>Kartenupdates bereit</translation>
    </message>
    <message>
        <source>Map update server error</source>
        <translation>Fehler des Kartenupdate-Servers</translation>
    </message>
    <message>
        <source>Your vehicle&apos;s navigation system is up to date</source>
        <translation>Das Navigationssystem Ihres Fahrzeugs ist auf dem neuesten Stand</translation>
    </message>
    <message>
        <source>Checking data on USB stick</source>
        <translation>Daten auf dem USB-Stick werden geprüft</translation>
    </message>
    <message>
        <source>The USB stick was removed while the application was accessing it</source>
        <translation>Der USB-Stick wurde entfernt, während die Anwendung darauf zugriff</translation>
    </message>
    <message>
        <source>Accessing information on the USB stick</source>
        <translation>Zugriff auf Informationen auf dem USB-Stick</translation>
    </message>
    <message>
        <source>Please do not disconnect the USB stick from the computer</source>
        <translation>Bitte trennen Sie den USB-Stick nicht vom Computer</translation>
    </message>
    <message>
        <source>Map updates ready to be installed on your vehicle&apos;s navigation system</source>
        <translation>Kartenupdates bereit zur Installation im Navigationssystem Ihres Fahrzeugs</translation>
    </message>
    <message>
        <source>To complete installation of map updates, connect the USB stick to your vehicle&apos;s navigation system and follow the instructions on the display.</source>
        <translation>Um die Installation der Kartenupdates abzuschließen, schließen Sie den USB-Stick an das Navigationssystem Ihres Fahrzeugs an und folgen Sie den Anweisungen auf dem Display.</translation>
    </message>
    <message>
        <source>Map updates</source>
        <translation>Kartenupdates</translation>
    </message>
    <message>
        <source>Available maps</source>
        <translation>Verfügbare Karten</translation>
    </message>
    <message>
        <source>No maps available</source>
        <translation>Keine Karten verfügbar</translation>
    </message>
    <message>
        <source>Available map updates already downloaded.</source>
        <translation>Verfügbare Kartenupdates wurden bereits heruntergeladen.</translation>
    </message>
    <message>
        <source>Optional map updates</source>
        <translation>Optionale Kartenupdates</translation>
    </message>
    <message>
        <source>Map update downloading completed</source>
        <translation>Download des Kartenupdates abgeschlossen</translation>
    </message>
    <message>
        <source>Cancel map update</source>
        <translation>Kartenupdate abbrechen</translation>
    </message>
    <message>
        <source>Version %1   |   %2</source>
        <translation>Version %1   |   %2</translation>
    </message>
    <message>
        <source>Download map</source>
        <translation>Karte herunterladen</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
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
        <translation>Kartenaktualisierung erforderlich</translation>
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
        <source>Manage maps</source>
        <translation>Karten verwalten</translation>
    </message>
    <message>
        <source>Checking for map updates. Please do not disconnect the USB stick.</source>
        <translation>Es wird nach Kartenaktualisierungen gesucht. Bitte trennen Sie den USB-Stick nicht.</translation>
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
        <translation>Für die Suche nach Kartenaktualisierungen ist eine Internetverbindung erforderlich. Bitte prüfen Sie, ob der Computer mit dem Internet verbunden ist.</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Erneut versuchen</translation>
    </message>
    <message>
        <source>Vehicle&apos;s navigation device not registered yet</source>
        <translation>Navigationsgerät des Fahrzeugs noch nicht registriert</translation>
    </message>
    <message>
        <source>Your vehicle&apos;s navigation device is not registered yet to receive map updates.</source>
        <translation>Das Navigationsgerät Ihres Fahrzeugs ist noch nicht für den Empfang von Kartenaktualisierungen registriert.</translation>
    </message>
    <message>
        <source>Update available</source>
        <translation>Aktualisierung verfügbar</translation>
    </message>
    <message>
        <source>Update maps</source>
        <translation>Karten aktualisieren</translation>
    </message>
    <message>
        <source>Pending map updates</source>
        <translation>Ausstehende Kartenaktualisierungen</translation>
    </message>
    <message>
        <source>This USB stick already contains map updates. Please connect it to your vehicle to transfer the map updates to your navigation system.</source>
        <translation>Dieser USB-Stick enthält bereits Kartenaktualisierungen. Bitte schließen Sie ihn an Ihr Fahrzeug an, um die Kartenaktualisierungen auf Ihr Navigationssystem zu übertragen.</translation>
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
        <source>Map update server not available</source>
        <translation>Kartenaktualisierungsserver nicht erreichbar</translation>
    </message>
    <message>
        <source>Something has gone wrong.</source>
        <translation>Etwas ist schiefgelaufen.</translation>
    </message>
    <message>
        <source>Map update subscription expired</source>
        <translation>Abonnement für Kartenaktualisierungen abgelaufen</translation>
    </message>
    <message>
        <source>Restore map</source>
        <translation>Karte wiederherstellen</translation>
    </message>
    <message>
        <source>Your navigation system is up to date</source>
        <translation>Ihr Navigationssystem ist auf dem neuesten Stand</translation>
    </message>
    <message>
        <source>Map update download failed</source>
        <translation>Download der Kartenaktualisierung fehlgeschlagen</translation>
    </message>
    <message>
        <source>Dismiss</source>
        <translation>Verwerfen</translation>
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
        <source>Continue</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>Insufficient memory space available on the USB stick. Please use another USB stick with more free memory.</source>
        <translation>Auf dem USB-Stick ist nicht genügend Speicherplatz verfügbar. Bitte verwenden Sie einen anderen USB-Stick mit mehr freiem Speicherplatz.</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
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
        <translation>Kartenaktualisierungen verfügbar</translation>
    </message>
    <message>
        <source>Checking for map updates</source>
        <translation>Suche nach Kartenaktualisierungen</translation>
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
        <translation>Kartenaktualisierungen bereit</translation>
    </message>
    <message>
        <source>Map update server error</source>
        <translation>Fehler des Kartenaktualisierungsservers</translation>
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
</context>
</TS>

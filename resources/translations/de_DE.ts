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
        <translation>Dieses Fahrzeug erhält Kartenaktualisierungen bis:</translation>
    </message>
    <message>
        <source>This vehicle is not yet entitled to receive map updates.</source>
        <translation>Dieses Fahrzeug ist noch nicht zum Empfang von Kartenaktualisierungen berechtigt.</translation>
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
</context>
</TS>

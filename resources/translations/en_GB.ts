<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB">
<context>
    <name>SettingsScreenWidget</name>
    <message>
        <source>Report Map Errors</source>
        <translation>Report Map Errors</translation>
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
        <translation>KB</translation>
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
        <translation>This vehicle is entitled to receive map updates until:</translation>
    </message>
    <message>
        <source>This vehicle is not yet entitled to receive map updates.</source>
        <translation>This vehicle is not yet entitled to receive map updates.</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>General</source>
        <translation>General</translation>
    </message>
    <message>
        <source>Subscription</source>
        <translation>Subscription</translation>
    </message>
    <message>
        <source>About</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Language:</source>
        <translation>Language:</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Save settings</source>
        <translation>Save settings</translation>
    </message>
    <message>
        <source>Terms and Conditions</source>
        <translation>Terms and Conditions</translation>
    </message>
    <message>
        <source>Copyright notices applicable to the use of Orvane&apos;s map data</source>
        <translation>Copyright notices applicable to the use of Orvane&apos;s map data</translation>
    </message>
    <message>
        <source>Report Map Errors</source>
        <translation>Report Map Errors</translation>
    </message>
    <message>
        <source>Start %APPNAME% when the computer starts (recommended)</source>
        <translation>Start %APPNAME% when the computer starts (recommended)</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
</context>
</TS>

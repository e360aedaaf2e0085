<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB">
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
        <source>USB stick</source>
        <translation>USB stick</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Connected</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Cancelling download</source>
        <translation>Cancelling download</translation>
    </message>
    <message>
        <source>Map update required</source>
        <translation>Map update required</translation>
    </message>
    <message>
        <source>Update map</source>
        <translation>Update map</translation>
    </message>
    <message>
        <source>Downloading map</source>
        <translation>Downloading map</translation>
    </message>
    <message>
        <source>Manage maps</source>
        <translation>Manage maps</translation>
    </message>
    <message>
        <source>Checking for map updates. Please do not disconnect the USB stick.</source>
        <translation>Checking for map updates. Please do not disconnect the USB stick.</translation>
    </message>
    <message>
        <source>Something has gone wrong. Please connect the USB stick to your vehicle again.</source>
        <translation>Something has gone wrong. Please connect the USB stick to your vehicle again.</translation>
    </message>
    <message>
        <source>See help</source>
        <translation>See help</translation>
    </message>
    <message>
        <source>Checking for map updates requires an internet connection. Please check if the computer is connected to the internet.</source>
        <translation>Checking for map updates requires an internet connection. Please check if the computer is connected to the internet.</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Retry</translation>
    </message>
    <message>
        <source>Vehicle&apos;s navigation device not registered yet</source>
        <translation>Vehicle&apos;s navigation device not registered yet</translation>
    </message>
    <message>
        <source>Your vehicle&apos;s navigation device is not registered yet to receive map updates.</source>
        <translation>Your vehicle&apos;s navigation device is not registered yet to receive map updates.</translation>
    </message>
    <message>
        <source>Update available</source>
        <translation>Update available</translation>
    </message>
    <message>
        <source>Update maps</source>
        <translation>Update maps</translation>
    </message>
    <message>
        <source>Pending map updates</source>
        <translation>Pending map updates</translation>
    </message>
    <message>
        <source>This USB stick already contains map updates. Please connect it to your vehicle to transfer the map updates to your navigation system.</source>
        <translation>This USB stick already contains map updates. Please connect it to your vehicle to transfer the map updates to your navigation system.</translation>
    </message>
    <message>
        <source>Open the main application to download maps for your vehicle&apos;s navigation system.</source>
        <translation>Open the main application to download maps for your vehicle&apos;s navigation system.</translation>
    </message>
    <message>
        <source>Open application</source>
        <translation>Open application</translation>
    </message>
    <message>
        <source>Map update server not available</source>
        <translation>Map update server not available</translation>
    </message>
    <message>
        <source>Something has gone wrong.</source>
        <translation>Something has gone wrong.</translation>
    </message>
    <message>
        <source>Map update subscription expired</source>
        <translation>Map update subscription expired</translation>
    </message>
    <message>
        <source>Restore map</source>
        <translation>Restore map</translation>
    </message>
    <message>
        <source>Your navigation system is up to date</source>
        <translation>Your navigation system is up to date</translation>
    </message>
    <message>
        <source>Map update download failed</source>
        <translation>Map update download failed</translation>
    </message>
    <message>
        <source>Dismiss</source>
        <translation>Dismiss</translation>
    </message>
    <message>
        <source>Checking your USB stick. Please wait. Please do not disconnect your USB stick.</source>
        <translation>Checking your USB stick. Please wait. Please do not disconnect your USB stick.</translation>
    </message>
    <message>
        <source>Insufficient memory space available on the USB stick. Please create some free memory space.</source>
        <translation>Insufficient memory space available on the USB stick. Please create some free memory space.</translation>
    </message>
    <message>
        <source>The USB stick has been removed while the system was still accessing it. Please reconnect the USB stick</source>
        <translation>The USB stick has been removed while the system was still accessing it. Please reconnect the USB stick</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Continue</translation>
    </message>
    <message>
        <source>Insufficient memory space available on the USB stick. Please use another USB stick with more free memory.</source>
        <translation>Insufficient memory space available on the USB stick. Please use another USB stick with more free memory.</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>Cannot write to USB stick</source>
        <translation>Cannot write to USB stick</translation>
    </message>
    <message>
        <source>Map updates available</source>
        <translation>Map updates available</translation>
    </message>
    <message>
        <source>Checking for map updates</source>
        <translation>Checking for map updates</translation>
    </message>
    <message>
        <source>Cannot read from USB stick</source>
        <translation>Cannot read from USB stick</translation>
    </message>
    <message>
        <source>Please check your internet connection</source>
        <translation>Please check your internet connection</translation>
    </message>
    <message>
        <source>Map updates ready</source>
        <translation>Map updates ready</translation>
    </message>
    <message>
        <source>Map update server error</source>
        <translation>Map update server error</translation>
    </message>
    <message>
        <source>Your vehicle&apos;s navigation system is up to date</source>
        <translation>Your vehicle&apos;s navigation system is up to date</translation>
    </message>
    <message>
        <source>Checking data on USB stick</source>
        <translation>Checking data on USB stick</translation>
    </message>
    <message>
        <source>The USB stick was removed while the application was accessing it</source>
        <translation>The USB stick was removed while the application was accessing it</translation>
    </message>
</context>
</TS>

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
    <message>
        <source>%1 free of %2</source>
        <translation>%1 free of %2</translation>
    </message>
    <message>
        <source>Navigation System</source>
        <translation>Navigation System</translation>
    </message>
    <message>
        <source>%1
Downloading - %2 %
%3 of %4</source>
        <translation>%1
Downloading - %2 %
%3 of %4</translation>
    </message>
    <message>
        <source>Map update</source>
        <translation>Map update</translation>
    </message>
    <message>
        <source>%1
Cancelling download - %2 %
%3 of %4</source>
        <translation>%1
Cancelling download - %2 %
%3 of %4</translation>
    </message>
    <message>
        <source>Deleting downloaded map update.</source>
        <translation>Deleting downloaded map update.</translation>
    </message>
    <message>
        <source>Confirm map download</source>
        <translation>Confirm map download</translation>
    </message>
    <message>
        <source>This map download of %1 will restore the current map.</source>
        <translation>This map download of %1 will restore the current map.</translation>
    </message>
    <message>
        <source>Confirm optional map update</source>
        <translation>Confirm optional map update</translation>
    </message>
    <message>
        <source>This map update download of %1 will refresh the current map with the latest updates.</source>
        <translation>This map update download of %1 will refresh the current map with the latest updates.</translation>
    </message>
    <message>
        <source>Confirm mandatory map update</source>
        <translation>Confirm mandatory map update</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Continue</translation>
    </message>
    <message>
        <source>Insufficient memory space available</source>
        <translation>Insufficient memory space available</translation>
    </message>
    <message>
        <source>There is insufficient memory space available on the USB stick. Please reconnect an USB stick with at least %1 of free memory space to the vehicle&apos;s navigation system.</source>
        <translation>There is insufficient memory space available on the USB stick. Please reconnect an USB stick with at least %1 of free memory space to the vehicle&apos;s navigation system.</translation>
    </message>
    <message>
        <source>Manage maps</source>
        <translation>Manage maps</translation>
    </message>
    <message>
        <source>Cancel map update?</source>
        <translation>Cancel map update?</translation>
    </message>
    <message>
        <source>Cancelling the map update will delete the map update from the USB stick. For future installation on your vehicle&apos;s navigation system, the map update needs to be downloaded to the USB stick again. Please confirm cancelling this map update.</source>
        <translation>Cancelling the map update will delete the map update from the USB stick. For future installation on your vehicle&apos;s navigation system, the map update needs to be downloaded to the USB stick again. Please confirm cancelling this map update.</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>No</source>
        <translation>No</translation>
    </message>
    <message>
        <source>Unsaved changes detected</source>
        <translation>Unsaved changes detected</translation>
    </message>
    <message>
        <source>Unsaved changes detected. Closing this settings window will discard the changes.</source>
        <translation>Unsaved changes detected. Closing this settings window will discard the changes.</translation>
    </message>
    <message>
        <source>Yes, discard</source>
        <translation>Yes, discard</translation>
    </message>
    <message>
        <source>No, go back</source>
        <translation>No, go back</translation>
    </message>
    <message>
        <source>No internet connection</source>
        <translation>No internet connection</translation>
    </message>
    <message>
        <source>Downloading map updates requires an internet connection. Please check if the computer is connected to the internet.</source>
        <translation>Downloading map updates requires an internet connection. Please check if the computer is connected to the internet.</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Retry</translation>
    </message>
    <message>
        <source>No USB stick found</source>
        <translation>No USB stick found</translation>
    </message>
    <message>
        <source>Connect a USB stick to the computer</source>
        <translation>Connect a USB stick to the computer</translation>
    </message>
    <message>
        <source>Dismiss</source>
        <translation>Dismiss</translation>
    </message>
    <message>
        <source>Quit application</source>
        <translation>Quit application</translation>
    </message>
    <message>
        <source>The USB stick is in use. Quitting the application results in losing your vehicle&apos;s navigation system map information. To return to the application click No.</source>
        <translation>The USB stick is in use. Quitting the application results in losing your vehicle&apos;s navigation system map information. To return to the application click No.</translation>
    </message>
    <message>
        <source>Map update server not available</source>
        <translation>Map update server not available</translation>
    </message>
    <message>
        <source>Please try again later.</source>
        <translation>Please try again later.</translation>
    </message>
    <message>
        <source>Cancel map update download?</source>
        <translation>Cancel map update download?</translation>
    </message>
    <message>
        <source>Are you sure you want to cancel the map update download?</source>
        <translation>Are you sure you want to cancel the map update download?</translation>
    </message>
    <message>
        <source>Map update subscription expired</source>
        <translation>Map update subscription expired</translation>
    </message>
    <message>
        <source>You can still download a map to restore your system to the latest version you were entitled to. To restore the latest entitled map version click below.</source>
        <translation>You can still download a map to restore your system to the latest version you were entitled to. To restore the latest entitled map version click below.</translation>
    </message>
    <message>
        <source>Restore map</source>
        <translation>Restore map</translation>
    </message>
    <message>
        <source>Map update download failed</source>
        <translation>Map update download failed</translation>
    </message>
    <message>
        <source>Map update download failed due to a device access operation. Please check if all files on the USB stick can be accessed.</source>
        <translation>Map update download failed due to a device access operation. Please check if all files on the USB stick can be accessed.</translation>
    </message>
    <message>
        <source>There is insufficient memory space available on the USB stick. Please create some free memory space.</source>
        <translation>There is insufficient memory space available on the USB stick. Please create some free memory space.</translation>
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
        <source>Something has gone wrong.</source>
        <translation>Something has gone wrong.</translation>
    </message>
    <message>
        <source>Your navigation system is up to date</source>
        <translation>Your navigation system is up to date</translation>
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
        <source>Insufficient memory space available on the USB stick. Please use another USB stick with more free memory.</source>
        <translation>Insufficient memory space available on the USB stick. Please use another USB stick with more free memory.</translation>
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
    <message>
        <source>Accessing information on the USB stick</source>
        <translation>Accessing information on the USB stick</translation>
    </message>
    <message>
        <source>Please do not disconnect the USB stick from the computer</source>
        <translation>Please do not disconnect the USB stick from the computer</translation>
    </message>
    <message>
        <source>Map updates ready to be installed on your vehicle&apos;s navigation system</source>
        <translation>Map updates ready to be installed on your vehicle&apos;s navigation system</translation>
    </message>
    <message>
        <source>To complete installation of map updates, connect the USB stick to your vehicle&apos;s navigation system and follow the instructions on the display.</source>
        <translation>To complete installation of map updates, connect the USB stick to your vehicle&apos;s navigation system and follow the instructions on the display.</translation>
    </message>
    <message>
        <source>Map updates</source>
        <translation>Map updates</translation>
    </message>
    <message>
        <source>Available maps</source>
        <translation>Available maps</translation>
    </message>
    <message>
        <source>No maps available</source>
        <translation>No maps available</translation>
    </message>
    <message>
        <source>Available map updates already downloaded.</source>
        <translation>Available map updates already downloaded.</translation>
    </message>
    <message>
        <source>Optional map updates</source>
        <translation>Optional map updates</translation>
    </message>
    <message>
        <source>Map update downloading completed</source>
        <translation>Map update downloading completed</translation>
    </message>
    <message>
        <source>Cancel map update</source>
        <translation>Cancel map update</translation>
    </message>
    <message>
        <source>Version %1   |   %2</source>
        <translation>Version %1   |   %2</translation>
    </message>
    <message>
        <source>Download map</source>
        <translation>Download map</translation>
    </message>
</context>
</TS>

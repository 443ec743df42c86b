<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="en_US">
<context>
    <name>orlacontroller</name>
    <message>
        <source>Checking new version now</source>
        <translation>Checking for a new version now</translation>
    </message>
    <message>
        <source>Your software is up-to-date.</source>
        <translation>Your software is up-to-date.</translation>
    </message>
    <message>
        <source>GPS data on device is up-to-date</source>
        <translation>The GPS data on your device is up-to-date</translation>
    </message>
    <message>
        <source>Busy. Please try again later.</source>
        <translation>Busy. Please try again later.</translation>
    </message>
    <message>
        <source>Download GPS data failed.</source>
        <translation>Downloading the GPS data failed.</translation>
    </message>
    <message>
        <source>Check the netwrok and try again.</source>
        <translation>Check the network connection and try again.</translation>
    </message>
    <message>
        <source>Could not reach the update server. Check your network connection and try again.</source>
        <translation>Could not reach the update server. Check your network connection and try again.</translation>
    </message>
    <message>
        <source>The device is being updated. Please wait until the update has finished before closing VeloraUpdate.</source>
        <translation>The device is being updated. Please wait until the update has finished before closing VeloraUpdate.</translation>
    </message>
    <message>
        <source>The device is no longer connected.</source>
        <translation>The device is no longer connected.</translation>
    </message>
    <message>
        <source>The device&#x27;s model name can not name a folder, so it has no package.</source>
        <translation>The device&#x27;s model name can not name a folder, so it has no package.</translation>
    </message>
    <message>
        <source>The software package has not been downloaded.</source>
        <translation>The software package has not been downloaded.</translation>
    </message>
    <message>
        <source>The device is busy and did not start the update.</source>
        <translation>The device is busy and did not start the update.</translation>
    </message>
    <message>
        <source>The device is busy and did not start the installation.</source>
        <translation>The device is busy and did not start the installation.</translation>
    </message>
    <message>
        <source>The device was disconnected before the action ended.</source>
        <translation>The device was disconnected before the action ended.</translation>
    </message>
    <message>
        <source>The device gave no reason.</source>
        <translation>The device gave no reason.</translation>
    </message>
    <message>
        <source>The update server %1 could not be reached.</source>
        <translation>The update server %1 could not be reached.</translation>
    </message>
    <message>
        <source>Another update server can be set with the key &quot;updateurl&quot; in the group &quot;VeloraHub&quot; of %1.</source>
        <translation>Another update server can be set with the key &quot;updateurl&quot; in the group &quot;VeloraHub&quot; of %1.</translation>
    </message>
</context>
<context>
    <name>orlaform</name>
    <message>
        <source>Update Software</source>
        <translation>Update Software</translation>
    </message>
    <message>
        <source>Update GPS Data</source>
        <translation>Update GPS Data</translation>
    </message>
    <message>
        <source>Install Velora Workout</source>
        <translation>Install Velora Workout</translation>
    </message>
    <message>
        <source>Please connect your device to the computer</source>
        <translation>Please connect your device to the computer</translation>
    </message>
    <message>
        <source>Software Version</source>
        <translation>Software Version</translation>
    </message>
    <message>
        <source>Updating GPS data</source>
        <translation>Updating GPS data</translation>
    </message>
    <message>
        <source>Install Velora Workout &amp; Velora Test</source>
        <translation>Installing Velora Workout &amp; Velora Test</translation>
    </message>
    <message>
        <source>Mount</source>
        <translation>Mount</translation>
    </message>
    <message>
        <source>Mounting %1 ...</source>
        <translation>Mounting %1 ...</translation>
    </message>
    <message>
        <source>The device volume %1 is connected but not mounted.</source>
        <translation>The device volume %1 is connected but not mounted.</translation>
    </message>
    <message>
        <source>Mounting failed: %1</source>
        <translation>Mounting failed: %1</translation>
    </message>
</context>
<context>
    <name>softupdateform</name>
    <message>
        <source>Software Update</source>
        <translation>Software Update</translation>
    </message>
    <message>
        <source>Backup_Data_Warn_Msg</source>
        <translation>Back up the data on your device before you update it: activities that have not been synchronised may be lost.</translation>
    </message>
    <message>
        <source>Force_Update_Device_Msg</source>
        <translation>This update is recommended for your device. Keep the device connected while it is updated.</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Update</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Device software</source>
        <translation>Device software</translation>
    </message>
    <message>
        <source>Current</source>
        <translation>Current</translation>
    </message>
    <message>
        <source>Device_Updating_Warn_Msg</source>
        <translation>Your device is being updated. Do not disconnect it or close this program until the update is complete.</translation>
    </message>
</context>
<context>
    <name>recover_complete_form</name>
    <message>
        <source>Last_Remind_Msg</source>
        <translation>The new software is on your device. Disconnect the USB cable now: the device restarts and installs the update. Do not switch it off until it has finished.</translation>
    </message>
    <message>
        <source>Completion</source>
        <translation>Completed</translation>
    </message>
    <message>
        <source>Fail. Please try again later.</source>
        <translation>Failed. Please try again later.</translation>
    </message>
</context>
<context>
    <name>recover_fail_form</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Not_Enough_Space_Msg</source>
        <translation>There is not enough free space on your device for the update. Delete some activities or files on the device and try again.</translation>
    </message>
    <message>
        <source>Fail. Please try again later.</source>
        <translation>Failed. Please try again later.</translation>
    </message>
    <message>
        <source>Sorry</source>
        <translation>Sorry</translation>
    </message>
    <message>
        <source>Details are in the log: %1</source>
        <translation>Details are in the log: %1</translation>
    </message>
</context>
<context>
    <name>OrlaRestartWatch</name>
    <message>
        <source>The watch restarts. Keep it connected.</source>
        <translation>The watch restarts. Keep it connected.</translation>
    </message>
    <message>
        <source>The watch formats itself when it restarts. Unplug it and plug it in again.</source>
        <translation>The watch formats itself when it restarts. Unplug it and plug it in again.</translation>
    </message>
    <message>
        <source>The watch came back but did not start the rest of the factory restore.</source>
        <translation>The watch came back but did not start the rest of the factory restore.</translation>
    </message>
    <message>
        <source>The watch did not come back within %1 s.</source>
        <translation>The watch did not come back within %1 s.</translation>
    </message>
    <message>
        <source>If it waits to finish its update, plug it in again and press Recover.</source>
        <translation>If it waits to finish its update, plug it in again and press Recover.</translation>
    </message>
    <message>
        <source>Unplug the watch, plug it in again and start the factory restore again.</source>
        <translation>Unplug the watch, plug it in again and start the factory restore again.</translation>
    </message>
    <message>
        <source>Unplug the watch, plug it in again and start the update again.</source>
        <translation>Unplug the watch, plug it in again and start the update again.</translation>
    </message>
</context>
<context>
    <name>OrlaRecovery</name>
    <message>
        <source>Waiting to finish its update</source>
        <translation>Waiting to finish its update</translation>
    </message>
    <message>
        <source>Finishing the update ...</source>
        <translation>Finishing the update ...</translation>
    </message>
    <message>
        <source>The device is no longer connected.</source>
        <translation>The device is no longer connected.</translation>
    </message>
    <message>
        <source>The device is not waiting to finish an update.</source>
        <translation>The device is not waiting to finish an update.</translation>
    </message>
    <message>
        <source>The software package for the device has not been downloaded yet.</source>
        <translation>The software package for the device has not been downloaded yet.</translation>
    </message>
</context>
</TS>

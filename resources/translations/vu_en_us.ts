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
    <message>
        <source>The device formats itself when it restarts. Unplug it and plug it in again; the restore then finishes.</source>
        <translation>The device formats itself when it restarts. Unplug it and plug it in again; the restore then finishes.</translation>
    </message>
    <message>
        <source>The package was not written: %1.</source>
        <translation>The package was not written: %1.</translation>
    </message>
    <message>
        <source>Restore the factory software of the %1?</source>
        <translation>Restore the factory software of the %1?</translation>
    </message>
    <message>
        <source>Everything stored on the device is lost: activities, routes, workouts, settings and installed languages. The device may restart during the restore.</source>
        <translation>Everything stored on the device is lost: activities, routes, workouts, settings and installed languages. The device may restart during the restore.</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Restore</translation>
    </message>
    <message>
        <source>The device is busy and did not start the restore.</source>
        <translation>The device is busy and did not start the restore.</translation>
    </message>
    <message>
        <source>The factory software for this device has not been downloaded.</source>
        <translation>The factory software for this device has not been downloaded.</translation>
    </message>
    <message>
        <source>Unpacking</source>
        <translation>Unpacking</translation>
    </message>
    <message>
        <source>Writing</source>
        <translation>Writing</translation>
    </message>
    <message>
        <source>Checking</source>
        <translation>Checking</translation>
    </message>
    <message>
        <source>Waiting for the watch</source>
        <translation>Waiting for the watch</translation>
    </message>
    <message>
        <source>Package signature: %1</source>
        <translation>Package signature: %1</translation>
    </message>
    <message>
        <source>The update server&apos;s answer could not be used.</source>
        <translation>The update server&apos;s answer could not be used.</translation>
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
    <message>
        <source>Choose Languages</source>
        <translation>Choose Languages</translation>
    </message>
    <message>
        <source>Factory Restore</source>
        <translation>Factory Restore</translation>
    </message>
    <message>
        <source>Backups</source>
        <translation>Backups</translation>
    </message>
    <message>
        <source>Recover Device</source>
        <translation>Recover Device</translation>
    </message>
    <message>
        <source>More</source>
        <translation>More</translation>
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
    <message>
        <source>Up to date</source>
        <translation>Up to date</translation>
    </message>
    <message>
        <source>Nothing had to be written to the device.</source>
        <translation>Nothing had to be written to the device.</translation>
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
    <name>OrlaLanguageForm</name>
    <message>
        <source>Languages</source>
        <translation>Languages</translation>
    </message>
    <message>
        <source>Tick the languages the watch should have. The ones it has now are ticked.</source>
        <translation>Tick the languages the watch should have. The ones it has now are ticked.</translation>
    </message>
    <message>
        <source>Reading the languages on the watch...</source>
        <translation>Reading the languages on the watch...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Update</translation>
    </message>
</context>
<context>
    <name>OrlaBackupsForm</name>
    <message>
        <source>Backups</source>
        <translation>Backups</translation>
    </message>
    <message>
        <source>No backups of this watch yet.</source>
        <translation>No backups of this watch yet.</translation>
    </message>
    <message>
        <source>Make backup</source>
        <translation>Make backup</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Restore</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Back</translation>
    </message>
</context>
<context>
    <name>OrlaControllerFlashStore</name>
    <message>
        <source>This device takes no language pack.</source>
        <translation>This device takes no language pack.</translation>
    </message>
    <message>
        <source>The device is busy. Please try again later.</source>
        <translation>The device is busy. Please try again later.</translation>
    </message>
    <message>
        <source>The language pack has not been downloaded.</source>
        <translation>The language pack has not been downloaded.</translation>
    </message>
    <message>
        <source>The language pack holds no languages.</source>
        <translation>The language pack holds no languages.</translation>
    </message>
    <message>
        <source>Choose at least one language.</source>
        <translation>Choose at least one language.</translation>
    </message>
    <message>
        <source>The watch holds at most %1 languages.</source>
        <translation>The watch holds at most %1 languages.</translation>
    </message>
    <message>
        <source>The language pack has no file for one of these languages.</source>
        <translation>The language pack has no file for one of these languages.</translation>
    </message>
    <message>
        <source>These languages do not fit into the watch&apos;s language memory. Choose fewer.</source>
        <translation>These languages do not fit into the watch&apos;s language memory. Choose fewer.</translation>
    </message>
    <message>
        <source>The device is no longer connected.</source>
        <translation>The device is no longer connected.</translation>
    </message>
    <message>
        <source>This device keeps no backups.</source>
        <translation>This device keeps no backups.</translation>
    </message>
    <message>
        <source>Making a backup...</source>
        <translation>Making a backup...</translation>
    </message>
    <message>
        <source>Write the backup of %1 back onto the watch? Everything the watch recorded after it is replaced.</source>
        <translation>Write the backup of %1 back onto the watch? Everything the watch recorded after it is replaced.</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Restore</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>The backup was not written back: the device is busy, or the file is no backup of this watch.</source>
        <translation>The backup was not written back: the device is busy, or the file is no backup of this watch.</translation>
    </message>
    <message>
        <source>Writing the backup back onto the watch...</source>
        <translation>Writing the backup back onto the watch...</translation>
    </message>
    <message>
        <source>A new backup was made.</source>
        <translation>A new backup was made.</translation>
    </message>
    <message>
        <source>The languages on the watch could not be read: %1</source>
        <translation>The languages on the watch could not be read: %1</translation>
    </message>
    <message>
        <source>Nothing had to be written.</source>
        <translation>Nothing had to be written.</translation>
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
    <message>
        <source>The restore files the device was being restored from are gone.</source>
        <translation>The restore files the device was being restored from are gone.</translation>
    </message>
</context>
<context>
    <name>OrlaModelChooser</name>
    <message>
        <source>Which watch?</source>
        <translation>Which watch?</translation>
    </message>
    <message>
        <source>Nothing was kept of the update this watch waits to finish. Which model is it?</source>
        <translation>Nothing was kept of the update this watch waits to finish. Which model is it?</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Recover</source>
        <translation>Recover</translation>
    </message>
</context>
<context>
    <name>VHNetRequest</name>
    <message>
        <source>the server redirected to an insecure address</source>
        <translation>the server redirected to an insecure address</translation>
    </message>
    <message>
        <source>the certificate is made out for another host name</source>
        <translation>the certificate is made out for another host name</translation>
    </message>
    <message>
        <source>the certificate has expired</source>
        <translation>the certificate has expired</translation>
    </message>
    <message>
        <source>the certificate is not valid yet</source>
        <translation>the certificate is not valid yet</translation>
    </message>
    <message>
        <source>the certificate has been revoked</source>
        <translation>the certificate has been revoked</translation>
    </message>
    <message>
        <source>the certificate&apos;s issuer is not a trusted authority</source>
        <translation>the certificate&apos;s issuer is not a trusted authority</translation>
    </message>
    <message>
        <source>the certificate is not signed correctly</source>
        <translation>the certificate is not signed correctly</translation>
    </message>
    <message>
        <source>the server&apos;s certificate is not valid for %1: %2</source>
        <translation>the server&apos;s certificate is not valid for %1: %2</translation>
    </message>
</context>
<context>
    <name>VHMinisign</name>
    <message>
        <source>the package is not signed</source>
        <translation>the package is not signed</translation>
    </message>
    <message>
        <source>the package&apos;s signature does not match its contents</source>
        <translation>the package&apos;s signature does not match its contents</translation>
    </message>
    <message>
        <source>the package is signed by an unknown key %1</source>
        <translation>the package is signed by an unknown key %1</translation>
    </message>
    <message>
        <source>the package&apos;s signature file is damaged</source>
        <translation>the package&apos;s signature file is damaged</translation>
    </message>
    <message>
        <source>the signature&apos;s trusted comment was changed</source>
        <translation>the signature&apos;s trusted comment was changed</translation>
    </message>
</context>
<context>
    <name>VeloraApiClient</name>
    <message>
        <source>the package&apos;s signature could not be fetched: %1</source>
        <translation>the package&apos;s signature could not be fetched: %1</translation>
    </message>
    <message>
        <source>the package download failed: %1</source>
        <translation>the package download failed: %1</translation>
    </message>
    <message>
        <source>the update server named a package address that is not secure</source>
        <translation>the update server named a package address that is not secure</translation>
    </message>
</context>
<context>
    <name>VHRestoreFetcher</name>
    <message>
        <source>the restore files&apos; download failed: %1</source>
        <translation>the restore files&apos; download failed: %1</translation>
    </message>
    <message>
        <source>the restore files&apos; signature could not be fetched: %1</source>
        <translation>the restore files&apos; signature could not be fetched: %1</translation>
    </message>
</context>
</TS>

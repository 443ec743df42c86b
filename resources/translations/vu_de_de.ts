<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en_US">
<context>
    <name>orlacontroller</name>
    <message>
        <source>Checking new version now</source>
        <translation>Es wird gerade nach einer neuen Version gesucht</translation>
    </message>
    <message>
        <source>Your software is up-to-date.</source>
        <translation>Ihre Software ist auf dem neuesten Stand.</translation>
    </message>
    <message>
        <source>GPS data on device is up-to-date</source>
        <translation>Die GPS-Daten auf dem Gerät sind aktuell</translation>
    </message>
    <message>
        <source>Busy. Please try again later.</source>
        <translation>Beschäftigt. Bitte versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>Download GPS data failed.</source>
        <translation>Die GPS-Daten konnten nicht heruntergeladen werden.</translation>
    </message>
    <message>
        <source>Check the netwrok and try again.</source>
        <translation>Prüfen Sie die Netzwerkverbindung und versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>Could not reach the update server. Check your network connection and try again.</source>
        <translation>Der Update-Server ist nicht erreichbar. Prüfen Sie Ihre Netzwerkverbindung und versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>The device is being updated. Please wait until the update has finished before closing VeloraUpdate.</source>
        <translation>Das Gerät wird gerade aktualisiert. Bitte warten Sie, bis die Aktualisierung abgeschlossen ist, bevor Sie VeloraUpdate schließen.</translation>
    </message>
    <message>
        <source>The device is no longer connected.</source>
        <translation>Das Gerät ist nicht mehr verbunden.</translation>
    </message>
    <message>
        <source>The device&#x27;s model name can not name a folder, so it has no package.</source>
        <translation>Der Modellname des Geräts taugt nicht als Ordnername, daher gibt es kein Paket.</translation>
    </message>
    <message>
        <source>The software package has not been downloaded.</source>
        <translation>Das Softwarepaket wurde nicht heruntergeladen.</translation>
    </message>
    <message>
        <source>The device is busy and did not start the update.</source>
        <translation>Das Gerät ist beschäftigt und hat das Update nicht begonnen.</translation>
    </message>
    <message>
        <source>The device is busy and did not start the installation.</source>
        <translation>Das Gerät ist beschäftigt und hat die Installation nicht begonnen.</translation>
    </message>
    <message>
        <source>The device was disconnected before the action ended.</source>
        <translation>Das Gerät wurde getrennt, bevor der Vorgang beendet war.</translation>
    </message>
    <message>
        <source>The device gave no reason.</source>
        <translation>Das Gerät hat keinen Grund genannt.</translation>
    </message>
    <message>
        <source>The update server %1 could not be reached.</source>
        <translation>Der Update-Server %1 ist nicht erreichbar.</translation>
    </message>
    <message>
        <source>Another update server can be set with the key &quot;updateurl&quot; in the group &quot;VeloraHub&quot; of %1.</source>
        <translation>Einen anderen Update-Server legen Sie mit dem Schlüssel &quot;updateurl&quot; in der Gruppe &quot;VeloraHub&quot; von %1 fest.</translation>
    </message>
    <message>
        <source>The device formats itself when it restarts. Unplug it and plug it in again; the restore then finishes.</source>
        <translation>Das Gerät formatiert sich beim Neustart. Trennen Sie es und schließen Sie es wieder an; danach wird die Wiederherstellung abgeschlossen.</translation>
    </message>
    <message>
        <source>The package was not written: %1.</source>
        <translation>Das Paket wurde nicht geschrieben: %1.</translation>
    </message>
    <message>
        <source>Restore the factory software of the %1?</source>
        <translation>Die Werkssoftware des %1 wiederherstellen?</translation>
    </message>
    <message>
        <source>Everything stored on the device is lost: activities, routes, workouts, settings and installed languages. The device may restart during the restore.</source>
        <translation>Alles, was auf dem Gerät gespeichert ist, geht verloren: Aktivitäten, Routen, Trainings, Einstellungen und installierte Sprachen. Das Gerät kann während der Wiederherstellung neu starten.</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Wiederherstellen</translation>
    </message>
    <message>
        <source>The device is busy and did not start the restore.</source>
        <translation>Das Gerät ist beschäftigt und hat die Wiederherstellung nicht begonnen.</translation>
    </message>
    <message>
        <source>The factory software for this device has not been downloaded.</source>
        <translation>Die Werkssoftware für dieses Gerät wurde noch nicht heruntergeladen.</translation>
    </message>
    <message>
        <source>Unpacking</source>
        <translation>Entpacken</translation>
    </message>
    <message>
        <source>Writing</source>
        <translation>Schreiben</translation>
    </message>
    <message>
        <source>Checking</source>
        <translation>Prüfen</translation>
    </message>
    <message>
        <source>Waiting for the watch</source>
        <translation>Warten auf die Uhr</translation>
    </message>
    <message>
        <source>Package signature: %1</source>
        <translation>Signatur des Pakets: %1</translation>
    </message>
    <message>
        <source>The update server&apos;s answer could not be used.</source>
        <translation>Die Antwort des Update-Servers konnte nicht verwendet werden.</translation>
    </message>
</context>
<context>
    <name>orlaform</name>
    <message>
        <source>Update Software</source>
        <translation>Software aktualisieren</translation>
    </message>
    <message>
        <source>Update GPS Data</source>
        <translation>GPS-Daten aktualisieren</translation>
    </message>
    <message>
        <source>Install Velora Workout</source>
        <translation>Workouts installieren</translation>
    </message>
    <message>
        <source>Please connect your device to the computer</source>
        <translation>Bitte schließen Sie Ihr Gerät an den Computer an</translation>
    </message>
    <message>
        <source>Software Version</source>
        <translation>Software</translation>
    </message>
    <message>
        <source>Updating GPS data</source>
        <translation>GPS-Daten werden aktualisiert</translation>
    </message>
    <message>
        <source>Install Velora Workout &amp; Velora Test</source>
        <translation>Velora Workouts und Velora Tests werden installiert</translation>
    </message>
    <message>
        <source>Mount</source>
        <translation>Einbinden</translation>
    </message>
    <message>
        <source>Mounting %1 ...</source>
        <translation>%1 wird eingebunden ...</translation>
    </message>
    <message>
        <source>The device volume %1 is connected but not mounted.</source>
        <translation>Das Gerätelaufwerk %1 ist angeschlossen, aber nicht eingebunden.</translation>
    </message>
    <message>
        <source>Mounting failed: %1</source>
        <translation>Einbinden fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Choose Languages</source>
        <translation>Sprachen wählen</translation>
    </message>
    <message>
        <source>Factory Restore</source>
        <translation>Werkseinstellungen</translation>
    </message>
    <message>
        <source>Backups</source>
        <translation>Sicherungen</translation>
    </message>
    <message>
        <source>Recover Device</source>
        <translation>Gerät wiederherstellen</translation>
    </message>
    <message>
        <source>More</source>
        <translation>Mehr</translation>
    </message>
</context>
<context>
    <name>softupdateform</name>
    <message>
        <source>Software Update</source>
        <translation>Software-Update</translation>
    </message>
    <message>
        <source>Backup_Data_Warn_Msg</source>
        <translation>Sichern Sie vorher Ihre Daten: Nicht synchronisierte Aktivitäten gehen sonst verloren.</translation>
    </message>
    <message>
        <source>Force_Update_Device_Msg</source>
        <translation>Dieses Update wird für Ihr Gerät empfohlen. Lassen Sie das Gerät während des Updates angeschlossen.</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Update</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Device software</source>
        <translation>Gerätesoftware</translation>
    </message>
    <message>
        <source>Current</source>
        <translation>Installiert</translation>
    </message>
    <message>
        <source>Device_Updating_Warn_Msg</source>
        <translation>Das Update läuft. Trennen Sie das Gerät nicht und schließen Sie das Programm nicht.</translation>
    </message>
</context>
<context>
    <name>recover_complete_form</name>
    <message>
        <source>Last_Remind_Msg</source>
        <translation>Die neue Software ist auf Ihrem Gerät. Ziehen Sie jetzt das USB-Kabel ab: Das Gerät startet neu und installiert das Update. Schalten Sie es nicht aus, bevor es fertig ist.</translation>
    </message>
    <message>
        <source>Completion</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <source>Fail. Please try again later.</source>
        <translation>Fehlgeschlagen. Bitte versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>Up to date</source>
        <translation>Bereits aktuell</translation>
    </message>
    <message>
        <source>Nothing had to be written to the device.</source>
        <translation>Es musste nichts auf das Gerät geschrieben werden.</translation>
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
        <translation>Auf Ihrem Gerät ist nicht genug Speicherplatz für das Update frei. Löschen Sie einige Aktivitäten oder Dateien auf dem Gerät und versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>Fail. Please try again later.</source>
        <translation>Fehlgeschlagen. Bitte versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>Sorry</source>
        <translation>Leider</translation>
    </message>
    <message>
        <source>Details are in the log: %1</source>
        <translation>Einzelheiten stehen im Protokoll: %1</translation>
    </message>
</context>
<context>
    <name>OrlaLanguageForm</name>
    <message>
        <source>Languages</source>
        <translation>Sprachen</translation>
    </message>
    <message>
        <source>Tick the languages the watch should have. The ones it has now are ticked.</source>
        <translation>Wählen Sie die Sprachen der Uhr. Die vorhandenen sind angehakt.</translation>
    </message>
    <message>
        <source>Reading the languages on the watch...</source>
        <translation>Die Sprachen der Uhr werden gelesen...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisieren</translation>
    </message>
</context>
<context>
    <name>OrlaBackupsForm</name>
    <message>
        <source>Backups</source>
        <translation>Sicherungen</translation>
    </message>
    <message>
        <source>No backups of this watch yet.</source>
        <translation>Von dieser Uhr gibt es noch keine Sicherung.</translation>
    </message>
    <message>
        <source>Make backup</source>
        <translation>Sichern</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Zurückspielen</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
</context>
<context>
    <name>OrlaControllerFlashStore</name>
    <message>
        <source>This device takes no language pack.</source>
        <translation>Dieses Gerät nimmt kein Sprachpaket an.</translation>
    </message>
    <message>
        <source>The device is busy. Please try again later.</source>
        <translation>Das Gerät ist beschäftigt. Bitte versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>The language pack has not been downloaded.</source>
        <translation>Das Sprachpaket wurde noch nicht heruntergeladen.</translation>
    </message>
    <message>
        <source>The language pack holds no languages.</source>
        <translation>Das Sprachpaket enthält keine Sprachen.</translation>
    </message>
    <message>
        <source>Choose at least one language.</source>
        <translation>Wählen Sie mindestens eine Sprache.</translation>
    </message>
    <message>
        <source>The watch holds at most %1 languages.</source>
        <translation>Die Uhr fasst höchstens %1 Sprachen.</translation>
    </message>
    <message>
        <source>The language pack has no file for one of these languages.</source>
        <translation>Das Sprachpaket hat für eine dieser Sprachen keine Datei.</translation>
    </message>
    <message>
        <source>These languages do not fit into the watch&apos;s language memory. Choose fewer.</source>
        <translation>Diese Sprachen passen nicht in den Sprachspeicher der Uhr. Wählen Sie weniger.</translation>
    </message>
    <message>
        <source>The device is no longer connected.</source>
        <translation>Das Gerät ist nicht mehr verbunden.</translation>
    </message>
    <message>
        <source>This device keeps no backups.</source>
        <translation>Dieses Gerät hat keine Sicherungen.</translation>
    </message>
    <message>
        <source>Making a backup...</source>
        <translation>Sicherung wird erstellt...</translation>
    </message>
    <message>
        <source>Write the backup of %1 back onto the watch? Everything the watch recorded after it is replaced.</source>
        <translation>Die Sicherung vom %1 auf die Uhr zurückspielen? Alles, was die Uhr danach aufgezeichnet hat, wird ersetzt.</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Zurückspielen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>The backup was not written back: the device is busy, or the file is no backup of this watch.</source>
        <translation>Nicht zurückgespielt: Das Gerät ist beschäftigt, oder die Datei ist keine Sicherung dieser Uhr.</translation>
    </message>
    <message>
        <source>Writing the backup back onto the watch...</source>
        <translation>Die Sicherung wird auf die Uhr zurückgespielt...</translation>
    </message>
    <message>
        <source>A new backup was made.</source>
        <translation>Eine neue Sicherung wurde erstellt.</translation>
    </message>
    <message>
        <source>The languages on the watch could not be read: %1</source>
        <translation>Die Sprachen der Uhr konnten nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>Nothing had to be written.</source>
        <translation>Es musste nichts geschrieben werden.</translation>
    </message>
</context>
<context>
    <name>OrlaRestartWatch</name>
    <message>
        <source>The watch restarts. Keep it connected.</source>
        <translation>Die Uhr startet neu. Lassen Sie sie angeschlossen.</translation>
    </message>
    <message>
        <source>The watch formats itself when it restarts. Unplug it and plug it in again.</source>
        <translation>Die Uhr formatiert sich beim Neustart. Trennen Sie sie und schließen Sie sie wieder an.</translation>
    </message>
    <message>
        <source>The watch came back but did not start the rest of the factory restore.</source>
        <translation>Die Uhr ist wieder verbunden, hat den Rest der Wiederherstellung aber nicht begonnen.</translation>
    </message>
    <message>
        <source>The watch did not come back within %1 s.</source>
        <translation>Die Uhr kam nicht binnen %1 s zurück.</translation>
    </message>
    <message>
        <source>If it waits to finish its update, plug it in again and press Recover.</source>
        <translation>Wartet sie auf ihr Update: wieder anschließen und „Wiederherstellen“ drücken.</translation>
    </message>
    <message>
        <source>Unplug the watch, plug it in again and start the factory restore again.</source>
        <translation>Uhr trennen, wieder anschließen und die Wiederherstellung neu starten.</translation>
    </message>
    <message>
        <source>Unplug the watch, plug it in again and start the update again.</source>
        <translation>Uhr trennen, wieder anschließen und das Update neu starten.</translation>
    </message>
</context>
<context>
    <name>OrlaRecovery</name>
    <message>
        <source>Waiting to finish its update</source>
        <translation>Wartet auf den Abschluss ihres Updates</translation>
    </message>
    <message>
        <source>Finishing the update ...</source>
        <translation>Das Update wird abgeschlossen ...</translation>
    </message>
    <message>
        <source>The device is no longer connected.</source>
        <translation>Das Gerät ist nicht mehr verbunden.</translation>
    </message>
    <message>
        <source>The device is not waiting to finish an update.</source>
        <translation>Das Gerät wartet nicht auf den Abschluss eines Updates.</translation>
    </message>
    <message>
        <source>The software package for the device has not been downloaded yet.</source>
        <translation>Das Softwarepaket für das Gerät wurde noch nicht heruntergeladen.</translation>
    </message>
    <message>
        <source>The restore files the device was being restored from are gone.</source>
        <translation>Die Wiederherstellungsdateien, aus denen das Gerät wiederhergestellt wurde, sind nicht mehr vorhanden.</translation>
    </message>
</context>
<context>
    <name>OrlaModelChooser</name>
    <message>
        <source>Which watch?</source>
        <translation>Welche Uhr?</translation>
    </message>
    <message>
        <source>Nothing was kept of the update this watch waits to finish. Which model is it?</source>
        <translation>Von dem Update, auf dessen Abschluss diese Uhr wartet, ist nichts gespeichert. Welches Modell ist es?</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Recover</source>
        <translation>Wiederherstellen</translation>
    </message>
</context>
<context>
    <name>VHNetRequest</name>
    <message>
        <source>the server redirected to an insecure address</source>
        <translation>der Server hat auf eine unsichere Adresse umgeleitet</translation>
    </message>
    <message>
        <source>the certificate is made out for another host name</source>
        <translation>das Zertifikat ist auf einen anderen Hostnamen ausgestellt</translation>
    </message>
    <message>
        <source>the certificate has expired</source>
        <translation>das Zertifikat ist abgelaufen</translation>
    </message>
    <message>
        <source>the certificate is not valid yet</source>
        <translation>das Zertifikat ist noch nicht gültig</translation>
    </message>
    <message>
        <source>the certificate has been revoked</source>
        <translation>das Zertifikat wurde widerrufen</translation>
    </message>
    <message>
        <source>the certificate&apos;s issuer is not a trusted authority</source>
        <translation>der Aussteller des Zertifikats ist keine vertrauenswürdige Zertifizierungsstelle</translation>
    </message>
    <message>
        <source>the certificate is not signed correctly</source>
        <translation>das Zertifikat ist nicht korrekt signiert</translation>
    </message>
    <message>
        <source>the server&apos;s certificate is not valid for %1: %2</source>
        <translation>das Zertifikat des Servers ist für %1 nicht gültig: %2</translation>
    </message>
</context>
<context>
    <name>VHMinisign</name>
    <message>
        <source>the package is not signed</source>
        <translation>das Paket ist nicht signiert</translation>
    </message>
    <message>
        <source>the package&apos;s signature does not match its contents</source>
        <translation>die Signatur des Pakets passt nicht zu seinem Inhalt</translation>
    </message>
    <message>
        <source>the package is signed by an unknown key %1</source>
        <translation>das Paket ist mit einem unbekannten Schlüssel %1 signiert</translation>
    </message>
    <message>
        <source>the package&apos;s signature file is damaged</source>
        <translation>die Signaturdatei des Pakets ist beschädigt</translation>
    </message>
    <message>
        <source>the signature&apos;s trusted comment was changed</source>
        <translation>der vertrauenswürdige Kommentar der Signatur wurde verändert</translation>
    </message>
</context>
<context>
    <name>VeloraApiClient</name>
    <message>
        <source>the package&apos;s signature could not be fetched: %1</source>
        <translation>die Signatur des Pakets konnte nicht geladen werden: %1</translation>
    </message>
    <message>
        <source>the package download failed: %1</source>
        <translation>das Herunterladen des Pakets ist fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>the update server named a package address that is not secure</source>
        <translation>der Update-Server hat eine unsichere Paketadresse genannt</translation>
    </message>
</context>
<context>
    <name>VHRestoreFetcher</name>
    <message>
        <source>the restore files&apos; download failed: %1</source>
        <translation>das Herunterladen der Wiederherstellungsdateien ist fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>the restore files&apos; signature could not be fetched: %1</source>
        <translation>die Signatur der Wiederherstellungsdateien konnte nicht geladen werden: %1</translation>
    </message>
</context>
</TS>

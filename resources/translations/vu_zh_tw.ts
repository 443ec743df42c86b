<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_TW" sourcelanguage="en_US">
<context>
    <name>orlacontroller</name>
    <message>
        <source>Checking new version now</source>
        <translation>正在檢查新版本</translation>
    </message>
    <message>
        <source>Your software is up-to-date.</source>
        <translation>您的軟體已是最新版本。</translation>
    </message>
    <message>
        <source>GPS data on device is up-to-date</source>
        <translation>裝置上的 GPS 資料已是最新</translation>
    </message>
    <message>
        <source>Busy. Please try again later.</source>
        <translation>忙碌中，請稍後再試。</translation>
    </message>
    <message>
        <source>Download GPS data failed.</source>
        <translation>下載 GPS 資料失敗。</translation>
    </message>
    <message>
        <source>Check the netwrok and try again.</source>
        <translation>請檢查網路連線後再試一次。</translation>
    </message>
    <message>
        <source>Could not reach the update server. Check your network connection and try again.</source>
        <translation>無法連線到更新伺服器。請檢查網路連線後再試一次。</translation>
    </message>
    <message>
        <source>The device is being updated. Please wait until the update has finished before closing VeloraUpdate.</source>
        <translation>裝置正在更新中。請等待更新完成後再關閉 VeloraUpdate。</translation>
    </message>
    <message>
        <source>The device is no longer connected.</source>
        <translation>裝置已不再連線。</translation>
    </message>
    <message>
        <source>The device&#x27;s model name can not name a folder, so it has no package.</source>
        <translation>裝置的型號名稱無法作為資料夾名稱，因此沒有更新套件。</translation>
    </message>
    <message>
        <source>The software package has not been downloaded.</source>
        <translation>尚未下載軟體套件。</translation>
    </message>
    <message>
        <source>The device is busy and did not start the update.</source>
        <translation>裝置忙碌中，未開始更新。</translation>
    </message>
    <message>
        <source>The device is busy and did not start the installation.</source>
        <translation>裝置忙碌中，未開始安裝。</translation>
    </message>
    <message>
        <source>The device was disconnected before the action ended.</source>
        <translation>裝置在作業結束前已中斷連線。</translation>
    </message>
    <message>
        <source>The device gave no reason.</source>
        <translation>裝置未提供原因。</translation>
    </message>
    <message>
        <source>The update server %1 could not be reached.</source>
        <translation>無法連線到更新伺服器 %1。</translation>
    </message>
    <message>
        <source>Another update server can be set with the key &quot;updateurl&quot; in the group &quot;VeloraHub&quot; of %1.</source>
        <translation>可在 %1 的「VeloraHub」群組中以「updateurl」鍵設定其他更新伺服器。</translation>
    </message>
    <message>
        <source>The device formats itself when it restarts. Unplug it and plug it in again; the restore then finishes.</source>
        <translation>裝置重新啟動時會自行格式化。請拔下裝置後重新連接，還原隨後即會完成。</translation>
    </message>
    <message>
        <source>The package was not written: %1.</source>
        <translation>未寫入軟體包：%1。</translation>
    </message>
    <message>
        <source>Restore the factory software of the %1?</source>
        <translation>要恢復 %1 的原廠軟體嗎？</translation>
    </message>
    <message>
        <source>Everything stored on the device is lost: activities, routes, workouts, settings and installed languages. The device may restart during the restore.</source>
        <translation>裝置上儲存的所有資料都將遺失：活動、路線、訓練、設定及已安裝的語言。還原期間裝置可能會重新啟動。</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>還原</translation>
    </message>
    <message>
        <source>The device is busy and did not start the restore.</source>
        <translation>裝置忙碌中，未開始還原。</translation>
    </message>
    <message>
        <source>The factory software for this device has not been downloaded.</source>
        <translation>尚未下載此裝置的原廠軟體。</translation>
    </message>
    <message>
        <source>Unpacking</source>
        <translation>正在解壓縮</translation>
    </message>
    <message>
        <source>Writing</source>
        <translation>正在寫入</translation>
    </message>
    <message>
        <source>Checking</source>
        <translation>正在檢查</translation>
    </message>
    <message>
        <source>Waiting for the watch</source>
        <translation>等待手錶</translation>
    </message>
    <message>
        <source>Package signature: %1</source>
        <translation>軟體包簽章：%1</translation>
    </message>
    <message>
        <source>The update server&apos;s answer could not be used.</source>
        <translation>無法使用更新伺服器的回應。</translation>
    </message>
</context>
<context>
    <name>orlaform</name>
    <message>
        <source>Update Software</source>
        <translation>更新軟體</translation>
    </message>
    <message>
        <source>Update GPS Data</source>
        <translation>更新 GPS 資料</translation>
    </message>
    <message>
        <source>Install Velora Workout</source>
        <translation>安裝 Velora 訓練課表</translation>
    </message>
    <message>
        <source>Please connect your device to the computer</source>
        <translation>請將您的裝置連接到電腦</translation>
    </message>
    <message>
        <source>Software Version</source>
        <translation>軟體版本</translation>
    </message>
    <message>
        <source>Updating GPS data</source>
        <translation>正在更新 GPS 資料</translation>
    </message>
    <message>
        <source>Install Velora Workout &amp; Velora Test</source>
        <translation>正在安裝 Velora 訓練課表與 Velora 測試</translation>
    </message>
    <message>
        <source>Mount</source>
        <translation>掛載</translation>
    </message>
    <message>
        <source>Mounting %1 ...</source>
        <translation>正在掛載 %1 ...</translation>
    </message>
    <message>
        <source>The device volume %1 is connected but not mounted.</source>
        <translation>裝置磁碟區 %1 已連接，但尚未掛載。</translation>
    </message>
    <message>
        <source>Mounting failed: %1</source>
        <translation>掛載失敗：%1</translation>
    </message>
    <message>
        <source>Choose Languages</source>
        <translation>選擇語言</translation>
    </message>
    <message>
        <source>Factory Restore</source>
        <translation>恢復原廠設定</translation>
    </message>
    <message>
        <source>Backups</source>
        <translation>備份</translation>
    </message>
    <message>
        <source>Recover Device</source>
        <translation>修復裝置</translation>
    </message>
    <message>
        <source>More</source>
        <translation>更多</translation>
    </message>
</context>
<context>
    <name>softupdateform</name>
    <message>
        <source>Software Update</source>
        <translation>軟體更新</translation>
    </message>
    <message>
        <source>Backup_Data_Warn_Msg</source>
        <translation>更新前請先備份裝置上的資料：尚未同步的活動紀錄可能會遺失。</translation>
    </message>
    <message>
        <source>Force_Update_Device_Msg</source>
        <translation>建議您為裝置安裝此更新。更新期間請保持裝置連線。</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>更新</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Device software</source>
        <translation>裝置軟體</translation>
    </message>
    <message>
        <source>Current</source>
        <translation>目前版本</translation>
    </message>
    <message>
        <source>Device_Updating_Warn_Msg</source>
        <translation>裝置正在更新中。更新完成前，請勿中斷裝置連線或關閉本程式。</translation>
    </message>
</context>
<context>
    <name>recover_complete_form</name>
    <message>
        <source>Last_Remind_Msg</source>
        <translation>新軟體已複製到您的裝置。請立即拔除 USB 連接線：裝置將重新啟動並安裝更新。安裝完成前請勿關閉裝置。</translation>
    </message>
    <message>
        <source>Completion</source>
        <translation>完成</translation>
    </message>
    <message>
        <source>Fail. Please try again later.</source>
        <translation>失敗，請稍後再試。</translation>
    </message>
    <message>
        <source>Up to date</source>
        <translation>已是最新版本</translation>
    </message>
    <message>
        <source>Nothing had to be written to the device.</source>
        <translation>不需要寫入任何資料到裝置。</translation>
    </message>
</context>
<context>
    <name>recover_fail_form</name>
    <message>
        <source>OK</source>
        <translation>確定</translation>
    </message>
    <message>
        <source>Not_Enough_Space_Msg</source>
        <translation>裝置上的可用空間不足，無法更新。請刪除裝置上的部分活動紀錄或檔案後再試一次。</translation>
    </message>
    <message>
        <source>Fail. Please try again later.</source>
        <translation>失敗，請稍後再試。</translation>
    </message>
    <message>
        <source>Sorry</source>
        <translation>抱歉</translation>
    </message>
    <message>
        <source>Details are in the log: %1</source>
        <translation>詳細資訊記錄於：%1</translation>
    </message>
</context>
<context>
    <name>OrlaLanguageForm</name>
    <message>
        <source>Languages</source>
        <translation>語言</translation>
    </message>
    <message>
        <source>Tick the languages the watch should have. The ones it has now are ticked.</source>
        <translation>請勾選手錶要使用的語言。目前已有的語言已勾選。</translation>
    </message>
    <message>
        <source>Reading the languages on the watch...</source>
        <translation>正在讀取手錶上的語言...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>更新</translation>
    </message>
</context>
<context>
    <name>OrlaBackupsForm</name>
    <message>
        <source>Backups</source>
        <translation>備份</translation>
    </message>
    <message>
        <source>No backups of this watch yet.</source>
        <translation>此手錶尚無備份。</translation>
    </message>
    <message>
        <source>Make backup</source>
        <translation>建立備份</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>還原</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>返回</translation>
    </message>
</context>
<context>
    <name>OrlaControllerFlashStore</name>
    <message>
        <source>This device takes no language pack.</source>
        <translation>此裝置不支援語言套件。</translation>
    </message>
    <message>
        <source>The device is busy. Please try again later.</source>
        <translation>裝置忙碌中，請稍後再試。</translation>
    </message>
    <message>
        <source>The language pack has not been downloaded.</source>
        <translation>尚未下載語言套件。</translation>
    </message>
    <message>
        <source>The language pack holds no languages.</source>
        <translation>語言套件中沒有任何語言。</translation>
    </message>
    <message>
        <source>Choose at least one language.</source>
        <translation>請至少選擇一種語言。</translation>
    </message>
    <message>
        <source>The watch holds at most %1 languages.</source>
        <translation>手錶最多可容納 %1 種語言。</translation>
    </message>
    <message>
        <source>The language pack has no file for one of these languages.</source>
        <translation>語言套件中缺少其中一種語言的檔案。</translation>
    </message>
    <message>
        <source>These languages do not fit into the watch&apos;s language memory. Choose fewer.</source>
        <translation>這些語言超出手錶的語言記憶體容量，請減少選擇。</translation>
    </message>
    <message>
        <source>The device is no longer connected.</source>
        <translation>裝置已中斷連線。</translation>
    </message>
    <message>
        <source>This device keeps no backups.</source>
        <translation>此裝置沒有備份。</translation>
    </message>
    <message>
        <source>Making a backup...</source>
        <translation>正在建立備份...</translation>
    </message>
    <message>
        <source>Write the backup of %1 back onto the watch? Everything the watch recorded after it is replaced.</source>
        <translation>要將 %1 的備份寫回手錶嗎？手錶在此之後記錄的所有資料都將被取代。</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>還原</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>The backup was not written back: the device is busy, or the file is no backup of this watch.</source>
        <translation>備份未寫回：裝置忙碌中，或該檔案並非此手錶的備份。</translation>
    </message>
    <message>
        <source>Writing the backup back onto the watch...</source>
        <translation>正在將備份寫回手錶...</translation>
    </message>
    <message>
        <source>A new backup was made.</source>
        <translation>已建立新的備份。</translation>
    </message>
    <message>
        <source>The languages on the watch could not be read: %1</source>
        <translation>無法讀取手錶上的語言：%1</translation>
    </message>
    <message>
        <source>Nothing had to be written.</source>
        <translation>沒有需要寫入的內容。</translation>
    </message>
</context>
<context>
    <name>OrlaRestartWatch</name>
    <message>
        <source>The watch restarts. Keep it connected.</source>
        <translation>手錶正在重新啟動，請保持連線。</translation>
    </message>
    <message>
        <source>The watch formats itself when it restarts. Unplug it and plug it in again.</source>
        <translation>手錶重新啟動時會自行格式化。請拔下後再重新插上。</translation>
    </message>
    <message>
        <source>The watch came back but did not start the rest of the factory restore.</source>
        <translation>手錶已重新連線，但沒有開始其餘的原廠還原。</translation>
    </message>
    <message>
        <source>The watch did not come back within %1 s.</source>
        <translation>手錶未在 %1 秒內重新連線。</translation>
    </message>
    <message>
        <source>If it waits to finish its update, plug it in again and press Recover.</source>
        <translation>如果手錶正在等待完成更新，請重新插上並按「恢復」。</translation>
    </message>
    <message>
        <source>Unplug the watch, plug it in again and start the factory restore again.</source>
        <translation>請拔下手錶，重新插上，然後再次開始原廠還原。</translation>
    </message>
    <message>
        <source>Unplug the watch, plug it in again and start the update again.</source>
        <translation>請拔下手錶，重新插上，然後再次開始更新。</translation>
    </message>
</context>
<context>
    <name>OrlaRecovery</name>
    <message>
        <source>Waiting to finish its update</source>
        <translation>正在等待完成更新</translation>
    </message>
    <message>
        <source>Finishing the update ...</source>
        <translation>正在完成更新 ...</translation>
    </message>
    <message>
        <source>The device is no longer connected.</source>
        <translation>裝置已不再連線。</translation>
    </message>
    <message>
        <source>The device is not waiting to finish an update.</source>
        <translation>裝置並未在等待完成更新。</translation>
    </message>
    <message>
        <source>The software package for the device has not been downloaded yet.</source>
        <translation>裝置的軟體套件尚未下載。</translation>
    </message>
    <message>
        <source>The restore files the device was being restored from are gone.</source>
        <translation>裝置還原時所用的還原檔案已不存在。</translation>
    </message>
</context>
<context>
    <name>OrlaModelChooser</name>
    <message>
        <source>Which watch?</source>
        <translation>是哪一款手錶？</translation>
    </message>
    <message>
        <source>Nothing was kept of the update this watch waits to finish. Which model is it?</source>
        <translation>此手錶等待完成的更新沒有保存任何紀錄。這是哪一款型號？</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Recover</source>
        <translation>修復</translation>
    </message>
</context>
<context>
    <name>VHNetRequest</name>
    <message>
        <source>the server redirected to an insecure address</source>
        <translation>伺服器重新導向至不安全的位址</translation>
    </message>
    <message>
        <source>the certificate is made out for another host name</source>
        <translation>憑證是核發給另一個主機名稱的</translation>
    </message>
    <message>
        <source>the certificate has expired</source>
        <translation>憑證已過期</translation>
    </message>
    <message>
        <source>the certificate is not valid yet</source>
        <translation>憑證尚未生效</translation>
    </message>
    <message>
        <source>the certificate has been revoked</source>
        <translation>憑證已被撤銷</translation>
    </message>
    <message>
        <source>the certificate&apos;s issuer is not a trusted authority</source>
        <translation>憑證的簽發者不是受信任的憑證機構</translation>
    </message>
    <message>
        <source>the certificate is not signed correctly</source>
        <translation>憑證的簽章不正確</translation>
    </message>
    <message>
        <source>the server&apos;s certificate is not valid for %1: %2</source>
        <translation>伺服器的憑證對 %1 無效：%2</translation>
    </message>
</context>
<context>
    <name>VHMinisign</name>
    <message>
        <source>the package is not signed</source>
        <translation>軟體包未經簽署</translation>
    </message>
    <message>
        <source>the package&apos;s signature does not match its contents</source>
        <translation>軟體包的簽章與其內容不符</translation>
    </message>
    <message>
        <source>the package is signed by an unknown key %1</source>
        <translation>軟體包由未知的金鑰 %1 簽署</translation>
    </message>
    <message>
        <source>the package&apos;s signature file is damaged</source>
        <translation>軟體包的簽章檔已損毀</translation>
    </message>
    <message>
        <source>the signature&apos;s trusted comment was changed</source>
        <translation>簽章的受信任註解已被變更</translation>
    </message>
</context>
<context>
    <name>VeloraApiClient</name>
    <message>
        <source>the package&apos;s signature could not be fetched: %1</source>
        <translation>無法取得軟體包的簽章：%1</translation>
    </message>
    <message>
        <source>the package download failed: %1</source>
        <translation>軟體包下載失敗：%1</translation>
    </message>
    <message>
        <source>the update server named a package address that is not secure</source>
        <translation>更新伺服器提供了不安全的軟體包位址</translation>
    </message>
</context>
<context>
    <name>VHRestoreFetcher</name>
    <message>
        <source>the restore files&apos; download failed: %1</source>
        <translation>還原檔案下載失敗：%1</translation>
    </message>
    <message>
        <source>the restore files&apos; signature could not be fetched: %1</source>
        <translation>無法取得還原檔案的簽章：%1</translation>
    </message>
</context>
</TS>

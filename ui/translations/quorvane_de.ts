<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>DesktopNotifications</name>
    <message>
        <source>Recent Documents</source>
        <translation>Letzte Dokumente</translation>
    </message>
    <message>
        <source>Show in Folder</source>
        <translation>Im Ordner zeigen</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
</context>
<context>
    <name>RecentDocuments</name>
    <message>
        <source>Not delivered: %1</source>
        <translation>Nicht zugestellt: %1</translation>
    </message>
    <message>
        <source>Opened</source>
        <translation>Geöffnet</translation>
    </message>
    <message>
        <source>Opened with %1</source>
        <translation>Geöffnet mit %1</translation>
    </message>
    <message>
        <source>Printed on %1</source>
        <translation>Gedruckt auf %1</translation>
    </message>
    <message>
        <source>Saved in the folder</source>
        <translation>Im Ordner gespeichert</translation>
    </message>
    <message>
        <source>Unknown sender</source>
        <translation>Unbekannter Absender</translation>
    </message>
    <message>
        <source>Not kept</source>
        <translation>Nicht aufbewahrt</translation>
    </message>
    <message>
        <source>No longer there: %1</source>
        <translation>Nicht mehr vorhanden: %1</translation>
    </message>
    <message>
        <source>No documents have arrived yet.
Print from a phone or tablet on the same network to one of the printers of the Quorvane window; every document that arrives is listed here.</source>
        <translation>Bisher ist kein Dokument angekommen.
Drucken Sie von einem Telefon oder Tablet im selben Netzwerk auf einen der Drucker im Quorvane-Fenster; jedes ankommende Dokument wird hier aufgeführt.</translation>
    </message>
    <message>
        <source>No document matches &quot;%1&quot;.</source>
        <translation>Kein Dokument passt zu &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <source>Document</source>
        <translation>Dokument</translation>
    </message>
    <message>
        <source>From</source>
        <translation>Von</translation>
    </message>
    <message>
        <source>Printer</source>
        <translation>Drucker</translation>
    </message>
    <message>
        <source>Outcome</source>
        <translation>Ergebnis</translation>
    </message>
    <message>
        <source>Where It Is Now</source>
        <translation>Wo es jetzt ist</translation>
    </message>
</context>
<context>
    <name>SelfCheck</name>
    <message>
        <source>avahi-browse is missing, so the advertisements cannot be read (install avahi-utils).</source>
        <translation>avahi-browse fehlt, daher können die Ankündigungen nicht gelesen werden (installieren Sie avahi-utils).</translation>
    </message>
    <message>
        <source>The advertisements cannot be read while avahi-daemon does not run.</source>
        <translation>Die Ankündigungen können nicht gelesen werden, solange avahi-daemon nicht läuft.</translation>
    </message>
    <message>
        <source>avahi-browse is missing, so avahi-daemon cannot be asked (install avahi-utils).</source>
        <translation>avahi-browse fehlt, daher kann avahi-daemon nicht gefragt werden (installieren Sie avahi-utils).</translation>
    </message>
    <message>
        <source>avahi-daemon is not running, so phones cannot find the printers. Start it: sudo systemctl enable --now avahi-daemon</source>
        <translation>avahi-daemon läuft nicht, daher finden Telefone die Drucker nicht. Starten Sie ihn: sudo systemctl enable --now avahi-daemon</translation>
    </message>
    <message>
        <source>The print service was started with --no-dnssd, so it publishes no printer. Start it without that option.</source>
        <translation>Der Druckdienst wurde mit --no-dnssd gestartet und veröffentlicht daher keinen Drucker. Starten Sie ihn ohne diese Option.</translation>
    </message>
    <message>
        <source>The print service has not said which IPP port it uses.</source>
        <translation>Der Druckdienst hat nicht mitgeteilt, welchen IPP-Port er verwendet.</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not published, so phones do not list it; restart the print service.</source>
        <translation>&apos;%1&apos; ist nicht veröffentlicht, daher zeigen Telefone ihn nicht an; starten Sie den Druckdienst neu.</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is published as &apos;%2&apos; because another service took its name.</source>
        <translation>&apos;%1&apos; ist als &apos;%2&apos; veröffentlicht, weil ein anderer Dienst seinen Namen belegt.</translation>
    </message>
    <message>
        <source>CUPS on this computer also advertises a printer named &apos;%1&apos;, so phones may print to the wrong one; stop CUPS sharing that queue (sudo cupsctl --no-share-printers) or rename one of them.</source>
        <translation>CUPS auf diesem Computer kündigt ebenfalls einen Drucker namens &apos;%1&apos; an, daher drucken Telefone womöglich auf den falschen; beenden Sie die Freigabe dieser Warteschlange in CUPS (sudo cupsctl --no-share-printers) oder benennen Sie einen der beiden um.</translation>
    </message>
    <message>
        <source>Another service (%1) also advertises a printer named &apos;%2&apos;; rename one of them.</source>
        <translation>Ein anderer Dienst (%1) kündigt ebenfalls einen Drucker namens &apos;%2&apos; an; benennen Sie einen der beiden um.</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is published without %2, which phones look for; restart the print service, and if that does not help, update it.</source>
        <translation>&apos;%1&apos; ist ohne %2 veröffentlicht, wonach Telefone suchen; starten Sie den Druckdienst neu, und wenn das nicht hilft, aktualisieren Sie ihn.</translation>
    </message>
    <message>
        <source>Nothing listens on the IPP port %1: the print service is not running or could not open it. Start the print service (systemctl --user restart quorvane-service).</source>
        <translation>Am IPP-Port %1 lauscht nichts: Der Druckdienst läuft nicht oder konnte ihn nicht öffnen. Starten Sie den Druckdienst (systemctl --user restart quorvane-service).</translation>
    </message>
    <message>
        <source>The print service takes IPP connections on port %1 from this computer only (it runs with --ipp-listen loopback), so phones cannot reach it. Start it with --ipp-listen all.</source>
        <translation>Der Druckdienst nimmt IPP-Verbindungen an Port %1 nur von diesem Computer an (er läuft mit --ipp-listen loopback), daher erreichen Telefone ihn nicht. Starten Sie ihn mit --ipp-listen all.</translation>
    </message>
    <message>
        <source>The firewall&apos;s rules could not be read (%1 needs administrator rights). If phones do not find the printers, let UDP port 5353 and TCP port %2 in.</source>
        <translation>Die Regeln der Firewall konnten nicht gelesen werden (%1 braucht Administratorrechte). Wenn Telefone die Drucker nicht finden, lassen Sie UDP-Port 5353 und TCP-Port %2 durch.</translation>
    </message>
    <message>
        <source>UDP port 5353 (how phones find printers)</source>
        <translation>UDP-Port 5353 (darüber finden Telefone Drucker)</translation>
    </message>
    <message>
        <source>TCP port %1 (how phones print)</source>
        <translation>TCP-Port %1 (darüber drucken Telefone)</translation>
    </message>
    <message>
        <source>The firewall (%1) blocks %2. To let them in, run: %3</source>
        <translation>Die Firewall (%1) sperrt %2. Um sie durchzulassen, führen Sie aus: %3</translation>
    </message>
    <message>
        <source> and </source>
        <translation> und </translation>
    </message>
    <message>
        <source>Perhaps: %1</source>
        <translation>Vielleicht: %1</translation>
    </message>
    <message>
        <source>This computer has no network address a phone can reach, only its own (loopback) or a link-local one. Connect it to the network the phones use (the same Wi-Fi, say).</source>
        <translation>Dieser Computer hat keine Netzwerkadresse, die ein Telefon erreicht, nur seine eigene (Loopback) oder eine link-lokale. Verbinden Sie ihn mit dem Netzwerk der Telefone (etwa demselben WLAN).</translation>
    </message>
    <message>
        <source>avahi-daemon is running</source>
        <translation>avahi-daemon läuft</translation>
    </message>
    <message>
        <source>Each printer is published under its own name</source>
        <translation>Jeder Drucker ist unter seinem eigenen Namen veröffentlicht</translation>
    </message>
    <message>
        <source>Phones find what they look for (_universal, URF, air)</source>
        <translation>Telefone finden, wonach sie suchen (_universal, URF, air)</translation>
    </message>
    <message>
        <source>The IPP port is open to the network</source>
        <translation>Der IPP-Port ist zum Netzwerk hin offen</translation>
    </message>
    <message>
        <source>The firewall lets mDNS and IPP in</source>
        <translation>Die Firewall lässt mDNS und IPP durch</translation>
    </message>
    <message>
        <source>This computer has a network address phones can reach</source>
        <translation>Dieser Computer hat eine Netzwerkadresse, die Telefone erreichen</translation>
    </message>
</context>
<context>
    <name>ServiceHint</name>
    <message>
        <source>The print service is not running. Start it with:
%1</source>
        <translation>Der Druckdienst läuft nicht. Starten Sie ihn mit:
%1</translation>
    </message>
</context>
<context>
    <name>attribute_model</name>
    <message>
        <source>on</source>
        <translation>ein</translation>
    </message>
    <message>
        <source>off</source>
        <translation>aus</translation>
    </message>
</context>
<context>
    <name>printer_list_model</name>
    <message>
        <source>%1 at %2</source>
        <translation>%1 in %2</translation>
    </message>
    <message>
        <source>enabled</source>
        <translation>aktiviert</translation>
    </message>
    <message>
        <source>disabled</source>
        <translation>deaktiviert</translation>
    </message>
    <message>
        <source>locked</source>
        <translation>gesperrt</translation>
    </message>
</context>
<context>
    <name>quorvane::CAboutDlg</name>
    <message>
        <source>Copyright © 2026 Tessaly Software. All rights reserved.</source>
        <translation>Copyright © 2026 Tessaly Software. Alle Rechte vorbehalten.</translation>
    </message>
    <message>
        <source>Built with Qt, jsoncpp, SQLite, uriparser, CUPS, poppler, cairo and libjpeg-turbo; thanks to their authors.</source>
        <translation>Erstellt mit Qt, jsoncpp, SQLite, uriparser, CUPS, poppler, cairo und libjpeg-turbo; Dank an ihre Autoren.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>About Quorvane</source>
        <translation>Über Quorvane</translation>
    </message>
</context>
<context>
    <name>quorvane::CEditACL</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Add User</source>
        <translation>Benutzer hinzufügen</translation>
    </message>
</context>
<context>
    <name>quorvane::CGeneralSettings</name>
    <message>
        <source>Name:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>Location:</source>
        <translation>Ort:</translation>
    </message>
    <message>
        <source>Folder:</source>
        <translation>Pfad:</translation>
    </message>
    <message>
        <source>Action:</source>
        <translation>Aktion:</translation>
    </message>
    <message>
        <source>Default</source>
        <translation>Standard</translation>
    </message>
    <message>
        <source>Other...</source>
        <translation>Andere...</translation>
    </message>
    <message>
        <source>Nothing</source>
        <translation>Nichts</translation>
    </message>
    <message>
        <source>Open With</source>
        <translation>Öffnen mit</translation>
    </message>
</context>
<context>
    <name>quorvane::CPhonesDlg</name>
    <message>
        <source>Phones and Tablets</source>
        <translation>Telefone und Tablets</translation>
    </message>
    <message>
        <source>Phones and tablets on this network list these printers under the names below. Scan a printer&apos;s code with a phone&apos;s camera to open its page and print from the browser.</source>
        <translation>Telefone und Tablets in diesem Netzwerk führen diese Drucker unter den Namen unten. Scannen Sie den Code eines Druckers mit der Kamera eines Telefons, um seine Seite zu öffnen und aus dem Browser zu drucken.</translation>
    </message>
    <message>
        <source>&lt;b&gt;Self-check&lt;/b&gt;</source>
        <translation>&lt;b&gt;Selbsttest&lt;/b&gt;</translation>
    </message>
    <message>
        <source>Check Again</source>
        <translation>Erneut prüfen</translation>
    </message>
    <message>
        <source>The print service has not said how phones reach it (it is not connected yet), so the printers&apos; addresses are not known.</source>
        <translation>Der Druckdienst hat nicht mitgeteilt, wie Telefone ihn erreichen (er ist noch nicht verbunden), daher sind die Adressen der Drucker nicht bekannt.</translation>
    </message>
    <message>
        <source>No printer is offered to phones: tick a printer in the list to offer it.</source>
        <translation>Telefonen wird kein Drucker angeboten: Haken Sie einen Drucker in der Liste an, um ihn anzubieten.</translation>
    </message>
    <message>
        <source>Checking...</source>
        <translation>Wird geprüft...</translation>
    </message>
</context>
<context>
    <name>quorvane::CPreferencesAdvanced</name>
    <message>
        <source>None</source>
        <translation>Keine</translation>
    </message>
    <message>
        <source>Sample: %1</source>
        <translation>Beispiel: %1</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>Verbose</source>
        <translation>Ausführlich</translation>
    </message>
    <message>
        <source>Generate Print Job Filename Using:</source>
        <translation>Dateiname des Druckauftrags aus:</translation>
    </message>
    <message>
        <source>Device User</source>
        <translation>Benutzer</translation>
    </message>
    <message>
        <source>Device IP Address</source>
        <translation>IP-Adresse</translation>
    </message>
    <message>
        <source>Device Ethernet Address</source>
        <translation>Ethernet-Adresse</translation>
    </message>
    <message>
        <source>Logging:</source>
        <translation>Logging:</translation>
    </message>
</context>
<context>
    <name>quorvane::CPreferencesGeneral</name>
    <message>
        <source>Start Minimized</source>
        <translation>Minimiert starten</translation>
    </message>
    <message>
        <source>Show a notification when a document arrives</source>
        <translation>Benachrichtigen, wenn ein Dokument ankommt</translation>
    </message>
</context>
<context>
    <name>quorvane::CPreferencesNetwork</name>
    <message>
        <source>Proxy</source>
        <translation>Proxy</translation>
    </message>
    <message>
        <source>Configure Manually</source>
        <translation>Manuell einrichten</translation>
    </message>
    <message>
        <source>Address:</source>
        <translation>Adresse:</translation>
    </message>
    <message>
        <source>Username:</source>
        <translation>Benutzer:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Passwort:</translation>
    </message>
    <message>
        <source>The password is kept in the desktop&apos;s keyring.</source>
        <translation>Das Passwort wird im Schlüsselbund der Arbeitsumgebung aufbewahrt.</translation>
    </message>
    <message>
        <source>No keyring answered: the password is kept in Quorvane&apos;s database, readable by you only.</source>
        <translation>Kein Schlüsselbund hat geantwortet: Das Passwort wird in der Datenbank von Quorvane aufbewahrt, nur für Sie lesbar.</translation>
    </message>
</context>
<context>
    <name>quorvane::CProxyLogin</name>
    <message>
        <source>Username:</source>
        <translation>Benutzer:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Passwort:</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Verbinden</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>HTTP Proxy Login</source>
        <translation>HTTP-Proxy-Anmeldung</translation>
    </message>
    <message>
        <source>The proxy server at %1:%2 requires a username and password.</source>
        <translation>Der Proxyserver %1:%2 verlangt einen Benutzernamen und ein Passwort.</translation>
    </message>
</context>
<context>
    <name>quorvane::CQuorvaneDlg</name>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Security</source>
        <translation>Sicherheit</translation>
    </message>
    <message>
        <source>Edit</source>
        <translation>Bearbeiten</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Connecting to Quorvane Service...</source>
        <translation>Verbinde mit Quorvane-Dienst...</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Phones and Tablets...</source>
        <translation>&amp;Telefone und Tablets...</translation>
    </message>
    <message>
        <source>&amp;Recent Documents...</source>
        <translation>&amp;Letzte Dokumente...</translation>
    </message>
    <message>
        <source>Check For &amp;Updates...</source>
        <translation>Nach &amp;Updates suchen...</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>&amp;Contents</source>
        <translation>&amp;Inhalt</translation>
    </message>
    <message>
        <source>&amp;About Quorvane...</source>
        <translation>Ü&amp;ber Quorvane...</translation>
    </message>
    <message>
        <source>Remove Printer</source>
        <translation>Drucker entfernen</translation>
    </message>
    <message>
        <source>Remove the printer &quot;%1&quot;? Phones and tablets will no longer be able to print to it.</source>
        <translation>Den Drucker „%1“ entfernen? Telefone und Tablets können dann nicht mehr auf ihm drucken.</translation>
    </message>
    <message>
        <source>Pr&amp;eferences...</source>
        <translation>&amp;Einstellungen...</translation>
    </message>
</context>
<context>
    <name>quorvane::CRecentDocumentsDlg</name>
    <message>
        <source>Recent Documents</source>
        <translation>Letzte Dokumente</translation>
    </message>
    <message>
        <source>Document, sender, printer...</source>
        <translation>Dokument, Absender, Drucker...</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Show in Folder</source>
        <translation>Im Ordner zeigen</translation>
    </message>
    <message>
        <source>Print Again...</source>
        <translation>Erneut drucken...</translation>
    </message>
    <message>
        <source>Remove From List</source>
        <translation>Aus der Liste entfernen</translation>
    </message>
    <message>
        <source>Print Again</source>
        <translation>Erneut drucken</translation>
    </message>
    <message>
        <source>Print on:</source>
        <translation>Drucken auf:</translation>
    </message>
    <message>
        <source>Unable to remove &apos;%1&apos; from the list: the console&apos;s database refused.</source>
        <translation>&apos;%1&apos; kann nicht aus der Liste entfernt werden: Die Datenbank der Konsole hat es abgelehnt.</translation>
    </message>
    <message>
        <source>Printing &apos;%1&apos; on &apos;%2&apos;...</source>
        <translation>&apos;%1&apos; wird auf &apos;%2&apos; gedruckt...</translation>
    </message>
    <message>
        <source>&apos;%1&apos; was sent to &apos;%2&apos; again.</source>
        <translation>&apos;%1&apos; wurde erneut an &apos;%2&apos; gesendet.</translation>
    </message>
    <message>
        <source>Unable to print &apos;%1&apos; on &apos;%2&apos;: %3</source>
        <translation>&apos;%1&apos; kann nicht auf &apos;%2&apos; gedruckt werden: %3</translation>
    </message>
    <message>
        <source>Search:</source>
        <translation>Suchen:</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>quorvane::CSecuritySettings</name>
    <message>
        <source>Users:</source>
        <translation>Benutzer:</translation>
    </message>
</context>
<context>
    <name>quorvane::CSystemTray</name>
    <message>
        <source>Check For Updates...</source>
        <translation>Nach Updates suchen...</translation>
    </message>
    <message>
        <source>Open Quorvane</source>
        <translation>Quorvane öffnen</translation>
    </message>
    <message>
        <source>Preferences...</source>
        <translation>Einstellungen...</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Phones and Tablets...</source>
        <translation>Telefone und Tablets...</translation>
    </message>
    <message>
        <source>Recent Documents...</source>
        <translation>Letzte Dokumente...</translation>
    </message>
</context>
<context>
    <name>quorvane::CUpdateDialog</name>
    <message>
        <source>Download</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Software Update</source>
        <translation>Softwareaktualisierung</translation>
    </message>
    <message>
        <source>Release notes</source>
        <translation>Versionshinweise</translation>
    </message>
    <message>
        <source>Unable to open &apos;%1&apos;: no web browser could be started.</source>
        <translation>&apos;%1&apos; kann nicht geöffnet werden: Es ließ sich kein Webbrowser starten.</translation>
    </message>
</context>
<context>
    <name>quorvane::MyFileDialog</name>
    <message>
        <source>Choose Executable</source>
        <translation>Programm wählen</translation>
    </message>
    <message>
        <source>Applications (*)</source>
        <translation>Programme (*)</translation>
    </message>
</context>
<context>
    <name>quorvane::PreferencesDlg</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Quorvane Preferences</source>
        <translation>Quorvane-Einstellungen</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Network</source>
        <translation>Netzwerk</translation>
    </message>
    <message>
        <source>Advanced</source>
        <translation>Erweitert</translation>
    </message>
</context>
<context>
    <name>quorvane::arrival_notices</name>
    <message>
        <source>an unknown user</source>
        <translation>einem unbekannten Benutzer</translation>
    </message>
    <message>
        <source>From %1 on %2</source>
        <translation>Von %1 auf %2</translation>
    </message>
    <message>
        <source>From %1 (%2) on %3</source>
        <translation>Von %1 (%2) auf %3</translation>
    </message>
    <message>
        <source>%1 documents arrived, %2 failed</source>
        <translation>%1 Dokumente angekommen, %2 fehlgeschlagen</translation>
    </message>
    <message>
        <source>%1 documents arrived</source>
        <translation>%1 Dokumente angekommen</translation>
    </message>
    <message>
        <source>The last: %1.</source>
        <translation>Das letzte: %1.</translation>
    </message>
</context>
<context>
    <name>quorvane::attribute_rows</name>
    <message>
        <source>Color</source>
        <translation>Farbe</translation>
    </message>
    <message>
        <source>Duplex</source>
        <translation>Duplex</translation>
    </message>
    <message>
        <source>Landscape</source>
        <translation>Querformat</translation>
    </message>
    <message>
        <source>FEATURES</source>
        <translation>FUNKTIONEN</translation>
    </message>
    <message>
        <source>PAPER</source>
        <translation>PAPIER</translation>
    </message>
</context>
<context>
    <name>quorvane::general_view</name>
    <message>
        <source>Default</source>
        <translation>Standard</translation>
    </message>
    <message>
        <source>Action:</source>
        <translation>Aktion:</translation>
    </message>
    <message>
        <source>Nothing</source>
        <translation>Nichts</translation>
    </message>
    <message>
        <source>Open With:</source>
        <translation>Öffnen mit:</translation>
    </message>
    <message>
        <source>Open With</source>
        <translation>Öffnen mit</translation>
    </message>
    <message>
        <source>Print:</source>
        <translation>Drucken:</translation>
    </message>
    <message>
        <source>Print</source>
        <translation>Drucken</translation>
    </message>
    <message>
        <source>Unable to use folder &apos;%1&apos;: it does not exist or is not a folder. Choose another folder.</source>
        <translation>Der Ordner &apos;%1&apos; kann nicht verwendet werden: Es gibt ihn nicht, oder er ist kein Ordner. Wählen Sie einen anderen Ordner.</translation>
    </message>
    <message>
        <source>Unable to use folder &apos;%1&apos;: it is on a disk that cannot be written to. Choose another folder.</source>
        <translation>Der Ordner &apos;%1&apos; kann nicht verwendet werden: Er liegt auf einem Datenträger, der nicht beschrieben werden kann. Wählen Sie einen anderen Ordner.</translation>
    </message>
    <message>
        <source>Unable to use folder &apos;%1&apos;: you may not create files in it. Choose another folder.</source>
        <translation>Der Ordner &apos;%1&apos; kann nicht verwendet werden: Sie dürfen darin keine Dateien anlegen. Wählen Sie einen anderen Ordner.</translation>
    </message>
</context>
<context>
    <name>quorvane::help</name>
    <message>
        <source>Help Error</source>
        <translation>Hilfefehler</translation>
    </message>
    <message>
        <source>Unable to display help.</source>
        <translation>Die Hilfe kann nicht angezeigt werden.</translation>
    </message>
</context>
<context>
    <name>quorvane::http_client</name>
    <message>
        <source>Unable to download &apos;%1&apos;: the proxy server at %2 did not accept the username and password.</source>
        <translation>&apos;%1&apos; kann nicht heruntergeladen werden: Der Proxyserver %2 hat Benutzername und Passwort nicht angenommen.</translation>
    </message>
    <message>
        <source>Unable to download &apos;%1&apos;: the server answered %2 %3.</source>
        <translation>&apos;%1&apos; kann nicht heruntergeladen werden: Der Server antwortete %2 %3.</translation>
    </message>
    <message>
        <source>Unable to download &apos;%1&apos;: %2.</source>
        <translation>&apos;%1&apos; kann nicht heruntergeladen werden: %2.</translation>
    </message>
    <message>
        <source>Unable to download &apos;%1&apos;: the proxy server at %2 requires a username and password, and none was given.</source>
        <translation>&apos;%1&apos; kann nicht heruntergeladen werden: Der Proxyserver %2 verlangt Benutzername und Passwort, und keine wurden angegeben.</translation>
    </message>
</context>
<context>
    <name>quorvane::network_preferences</name>
    <message>
        <source>Enter an integer.</source>
        <translation>Geben Sie eine ganze Zahl ein.</translation>
    </message>
    <message>
        <source>Enter an integer between 1 and 65535.</source>
        <translation>Geben Sie eine ganze Zahl zwischen 1 und 65535 ein.</translation>
    </message>
</context>
<context>
    <name>quorvane::security</name>
    <message>
        <source>Everyone</source>
        <translation>Alle</translation>
    </message>
</context>
<context>
    <name>quorvane::tray_status</name>
    <message>
        <source>just now</source>
        <translation>gerade eben</translation>
    </message>
    <message>
        <source>1 minute ago</source>
        <translation>vor 1 Minute</translation>
    </message>
    <message>
        <source>%1 minutes ago</source>
        <translation>vor %1 Minuten</translation>
    </message>
    <message>
        <source>1 hour ago</source>
        <translation>vor 1 Stunde</translation>
    </message>
    <message>
        <source>%1 hours ago</source>
        <translation>vor %1 Stunden</translation>
    </message>
    <message>
        <source>1 day ago</source>
        <translation>vor 1 Tag</translation>
    </message>
    <message>
        <source>%1 days ago</source>
        <translation>vor %1 Tagen</translation>
    </message>
    <message>
        <source>Quorvane: connected to the print service</source>
        <translation>Quorvane: mit dem Druckdienst verbunden</translation>
    </message>
    <message>
        <source>Quorvane: not connected to the print service</source>
        <translation>Quorvane: nicht mit dem Druckdienst verbunden</translation>
    </message>
    <message>
        <source>Last document: %1, %2</source>
        <translation>Letztes Dokument: %1, %2</translation>
    </message>
    <message>
        <source>Last document: %1 from %2, %3</source>
        <translation>Letztes Dokument: %1 von %2, %3</translation>
    </message>
    <message>
        <source> (failed)</source>
        <translation> (fehlgeschlagen)</translation>
    </message>
</context>
<context>
    <name>quorvane::update_checker</name>
    <message>
        <source>The proxy server refused the update check: it asks for a username and password.</source>
        <translation>Der Proxyserver hat die Update-Suche abgelehnt: Er verlangt einen Benutzernamen und ein Passwort.</translation>
    </message>
    <message>
        <source>The update server answered with the HTTP status %1.</source>
        <translation>Der Update-Server antwortete mit dem HTTP-Status %1.</translation>
    </message>
    <message>
        <source>The update server could not be reached. Check the network connection, or try again later.</source>
        <translation>Der Update-Server ist nicht erreichbar. Prüfen Sie die Netzwerkverbindung, oder versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>The update address set in the preferences (UpdateFeedURL) is not an http or https address.</source>
        <translation>Die in den Einstellungen gesetzte Update-Adresse (UpdateFeedURL) ist keine http- oder https-Adresse.</translation>
    </message>
</context>
<context>
    <name>quorvane::update_feed</name>
    <message>
        <source>The update information is not a readable document (%1).</source>
        <translation>Die Update-Information ist kein lesbares Dokument (%1).</translation>
    </message>
    <message>
        <source>The update information is not an RSS feed.</source>
        <translation>Die Update-Information ist kein RSS-Feed.</translation>
    </message>
    <message>
        <source>The update information lists no release for this system.</source>
        <translation>Die Update-Information nennt keine Version für dieses System.</translation>
    </message>
</context>
<context>
    <name>quorvane::update_texts</name>
    <message>
        <source>Checking for updates...</source>
        <translation>Suche nach Updates...</translation>
    </message>
    <message>
        <source>Asking the update server for the newest version.</source>
        <translation>Der Update-Server wird nach der neuesten Version gefragt.</translation>
    </message>
    <message>
        <source>You&apos;re up to date!</source>
        <translation>Sie sind auf dem neuesten Stand!</translation>
    </message>
    <message>
        <source>Quorvane %1 is currently the newest version available.</source>
        <translation>Quorvane %1 ist die neueste verfügbare Version.</translation>
    </message>
    <message>
        <source>A new version of Quorvane is available!</source>
        <translation>Eine neue Version von Quorvane ist verfügbar!</translation>
    </message>
    <message>
        <source>Quorvane %1 is now available (you have %2). Would you like to download it now?</source>
        <translation>Quorvane %1 ist jetzt verfügbar (Sie haben %2). Möchten Sie es jetzt herunterladen?</translation>
    </message>
    <message>
        <source>Unable to check for updates.</source>
        <translation>Die Suche nach Updates ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Updates come with your system&apos;s software updates.</source>
        <translation>Updates kommen mit den Softwareaktualisierungen Ihres Systems.</translation>
    </message>
    <message>
        <source>Quorvane was installed as a package: the system&apos;s software updates bring its new versions, like those of your other programs.</source>
        <translation>Quorvane wurde als Paket installiert: Die Softwareaktualisierungen des Systems bringen seine neuen Versionen, wie die Ihrer anderen Programme.</translation>
    </message>
</context>
</TS>

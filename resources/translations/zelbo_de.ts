<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CTQ5170xHWPDlg</name>
    <message>
        <source>Loading Menu...</source>
        <translation>Menü wird geladen...</translation>
    </message>
    <message>
        <source>Initializing Chart Window...</source>
        <translation>Diagrammfenster wird initialisiert...</translation>
    </message>
    <message>
        <source>Initializing Controls...</source>
        <translation>Bedienelemente werden initialisiert...</translation>
    </message>
    <message>
        <source>Initializing Table...</source>
        <translation>Tabelle wird initialisiert...</translation>
    </message>
    <message>
        <source>Setting Default Values...</source>
        <translation>Standardwerte werden gesetzt...</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;New</source>
        <translation>&amp;Neu</translation>
    </message>
    <message>
        <source>&amp;Open</source>
        <translation>Ö&amp;ffnen</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Speichern</translation>
    </message>
    <message>
        <source>&amp;Exit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;Ansicht</translation>
    </message>
    <message>
        <source>&amp;Dynamic Window</source>
        <translation>&amp;Dynamisches Fenster</translation>
    </message>
    <message>
        <source>&amp;Tj Monitor</source>
        <translation>&amp;Tj-Monitor</translation>
    </message>
    <message>
        <source>&amp;Tools</source>
        <translation>E&amp;xtras</translation>
    </message>
    <message>
        <source>&amp;Language</source>
        <translation>&amp;Sprache</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>&amp;Oscilloscope</source>
        <translation>&amp;Oszilloskop</translation>
    </message>
    <message>
        <source>&amp;Calibrate</source>
        <translation>&amp;Kalibrieren</translation>
    </message>
    <message>
        <source>&amp;Version Information</source>
        <translation>&amp;Versionsinformation</translation>
    </message>
    <message>
        <source>&amp;About Zelbo...</source>
        <translation>&amp;Über Zelbo...</translation>
    </message>
    <message>
        <source>Please restart Zelbo.</source>
        <translation>Bitte starten Sie Zelbo neu.</translation>
    </message>
    <message>
        <source>Please power on software first.</source>
        <translation>Bitte schalten Sie zuerst die Versorgung ein.</translation>
    </message>
    <message>
        <source>This option is available in Clk-In mode or Pre-Driver only.</source>
        <translation>Diese Option ist nur im Clk-In-Modus oder Pre-Driver verfügbar.</translation>
    </message>
    <message>
        <source>Closing software. Continue?</source>
        <translation>Software wird beendet. Fortfahren?</translation>
    </message>
    <message>
        <source>%1 is not available yet in this version.</source>
        <translation>%1 ist in dieser Version noch nicht verfügbar.</translation>
    </message>
    <message>
        <source>Loading a settings file</source>
        <translation>Das Laden einer Einstellungsdatei</translation>
    </message>
    <message>
        <source>Saving a settings file</source>
        <translation>Das Speichern einer Einstellungsdatei</translation>
    </message>
    <message>
        <source>The Tj monitor</source>
        <translation>Der Tj-Monitor</translation>
    </message>
    <message>
        <source>The dynamic window</source>
        <translation>Das dynamische Fenster</translation>
    </message>
    <message>
        <source>Oscilloscope calibration</source>
        <translation>Die Oszilloskop-Kalibrierung</translation>
    </message>
    <message>
        <source>Changing the drive mode</source>
        <translation>Das Ändern des Antriebsmodus</translation>
    </message>
    <message>
        <source>Ready...</source>
        <translation>Bereit...</translation>
    </message>
    <message>
        <source>ON</source>
        <translation>EIN</translation>
    </message>
    <message>
        <source>OFF</source>
        <translation>AUS</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Switch:</source>
        <translation>Schalter:</translation>
    </message>
    <message>
        <source>Mode:</source>
        <translation>Modus:</translation>
    </message>
    <message>
        <source>Change</source>
        <translation>Ändern</translation>
    </message>
    <message>
        <source>POWER</source>
        <translation>VERSORGUNG</translation>
    </message>
    <message>
        <source>REFERENCES</source>
        <translation>REFERENZEN</translation>
    </message>
    <message>
        <source>SWEEP</source>
        <translation>SWEEP</translation>
    </message>
    <message>
        <source>CHANNELS</source>
        <translation>KANÄLE</translation>
    </message>
    <message>
        <source>TIME BASE</source>
        <translation>ZEITBASIS</translation>
    </message>
    <message>
        <source>ACQUISITION</source>
        <translation>ERFASSUNG</translation>
    </message>
    <message>
        <source>PINS</source>
        <translation>PINS</translation>
    </message>
    <message>
        <source>Continuous</source>
        <translation>Kontinuierlich</translation>
    </message>
    <message>
        <source>Manual</source>
        <translation>Manuell</translation>
    </message>
    <message>
        <source>Steps:</source>
        <translation>Schritte:</translation>
    </message>
    <message>
        <source>Duty</source>
        <translation>Tastgrad</translation>
    </message>
    <message>
        <source>Set</source>
        <translation>Setzen</translation>
    </message>
    <message>
        <source>Level</source>
        <translation>Pegel</translation>
    </message>
    <message>
        <source>Save Picture</source>
        <translation>Bild speichern</translation>
    </message>
    <message>
        <source>Voltage</source>
        <translation>Spannung</translation>
    </message>
    <message>
        <source>Current</source>
        <translation>Strom</translation>
    </message>
    <message>
        <source>Low</source>
        <translation>Low</translation>
    </message>
    <message>
        <source>High</source>
        <translation>High</translation>
    </message>
    <message>
        <source>Pin</source>
        <translation>Pin</translation>
    </message>
</context>
<context>
    <name>BringUp</name>
    <message>
        <source>Initializing...</source>
        <translation>Initialisierung...</translation>
    </message>
    <message>
        <source>Configuring Device...</source>
        <translation>Gerät wird konfiguriert...</translation>
    </message>
    <message>
        <source>Downloading Firmware...</source>
        <translation>Firmware wird geladen...</translation>
    </message>
    <message>
        <source>Downloading firmware...</source>
        <translation>Firmware wird geladen...</translation>
    </message>
    <message>
        <source>Firmware ready</source>
        <translation>Firmware bereit</translation>
    </message>
    <message>
        <source>Failed to download firmware</source>
        <translation>Firmware konnte nicht geladen werden</translation>
    </message>
    <message>
        <source>Configuring FPGA...</source>
        <translation>FPGA wird konfiguriert...</translation>
    </message>
    <message>
        <source>Ready...</source>
        <translation>Bereit...</translation>
    </message>
    <message>
        <source>Not Ready...</source>
        <translation>Nicht bereit...</translation>
    </message>
    <message>
        <source>FPGA Configuration failed!</source>
        <translation>FPGA-Konfiguration fehlgeschlagen!</translation>
    </message>
    <message>
        <source>FPGA Reset failed!</source>
        <translation>FPGA-Reset fehlgeschlagen!</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Loading Software...</source>
        <translation>Software wird geladen...</translation>
    </message>
    <message>
        <source>No signal</source>
        <translation>Kein Signal</translation>
    </message>
</context>
<context>
    <name>CAboutDlg</name>
    <message>
        <source>About Zelbo</source>
        <translation>Über Zelbo</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
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
    <name>CAboutDlg</name>
    <message>
        <source>About Zelbo</source>
        <translation>Über Zelbo</translation>
    </message>
    <message>
        <source>Without a board: start &quot;zelbo --demo&quot;, or choose File &gt; Restart in Demo Mode, to run on the simulated board.</source>
        <translation>Ohne Board: Starten Sie „zelbo --demo“ oder wählen Sie Datei &gt; Im Demomodus neu starten, um auf dem simulierten Board zu arbeiten.</translation>
    </message>
</context>
<context>
    <name>CClkInDlg</name>
    <message>
        <source>Pin Settings</source>
        <translation>Pin-Einstellungen</translation>
    </message>
    <message>
        <source>Pins</source>
        <translation>Pins</translation>
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
        <source>Chip Name</source>
        <translation>Chipname</translation>
    </message>
    <message>
        <source>Excitation Mode</source>
        <translation>Erregungsmodus</translation>
    </message>
    <message>
        <source>Advance</source>
        <translation>Erweitert</translation>
    </message>
</context>
<context>
    <name>CDlgAdvanceMode</name>
    <message>
        <source>Advance Mode</source>
        <translation>Erweiterter Modus</translation>
    </message>
    <message>
        <source>Pins</source>
        <translation>Pins</translation>
    </message>
    <message>
        <source>VDUT</source>
        <translation>VDUT</translation>
    </message>
    <message>
        <source>5V</source>
        <translation>5V</translation>
    </message>
    <message>
        <source>3.3V</source>
        <translation>3,3V</translation>
    </message>
    <message>
        <source>CLK</source>
        <translation>CLK</translation>
    </message>
    <message>
        <source>Voltage Sweep</source>
        <translation>Spannungsdurchlauf</translation>
    </message>
    <message>
        <source>Continuous</source>
        <translation>Fortlaufend</translation>
    </message>
    <message>
        <source>Single Step</source>
        <translation>Einzelschritt</translation>
    </message>
    <message>
        <source>Trigger</source>
        <translation>Trigger</translation>
    </message>
</context>
<context>
    <name>CDlgSlider</name>
    <message>
        <source>V</source>
        <translation>V</translation>
    </message>
    <message>
        <source>MAX</source>
        <translation>MAX</translation>
    </message>
    <message>
        <source>STEP</source>
        <translation>SCHRITT</translation>
    </message>
    <message>
        <source>MIN</source>
        <translation>MIN</translation>
    </message>
</context>
<context>
    <name>CDynamicDlg</name>
    <message>
        <source>Dynamic Settings</source>
        <translation>Dynamische Einstellungen</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>New</source>
        <translation>Neu</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>cycle 1-99</source>
        <translation>Zyklen 1-99</translation>
    </message>
    <message>
        <source> Infinite cycles</source>
        <translation> Endlos</translation>
    </message>
    <message>
        <source>%1: &quot;%2&quot; is not a number; kept %3.</source>
        <translation>%1: „%2“ ist keine Zahl; %3 bleibt.</translation>
    </message>
    <message>
        <source>Count</source>
        <translation>Anzahl</translation>
    </message>
    <message>
        <source>Repeat delay</source>
        <translation>Wiederholpause</translation>
    </message>
    <message>
        <source>ms</source>
        <translation>ms</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Row %1, %2: &quot;%3&quot; is not a number; kept &quot;%4&quot;.</source>
        <translation>Zeile %1, %2: „%3“ ist keine Zahl; „%4“ bleibt.</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Dynamic sequence is currently running.</source>
        <translation>Die dynamische Sequenz läuft gerade.</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Dynamic Settings Window #%1 is currently running.
Only one window can be active at any time.</source>
        <translation>Das Fenster Dynamische Einstellungen #%1 läuft gerade.
Es kann immer nur ein Fenster aktiv sein.</translation>
    </message>
    <message>
        <source>Row %1: %2</source>
        <translation>Zeile %1: %2</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Fortsetzen</translation>
    </message>
    <message>
        <source>Cannot open %1: %2</source>
        <translation>%1 kann nicht geöffnet werden: %2</translation>
    </message>
    <message>
        <source>Line %1 of %2 does not hold a whole row.</source>
        <translation>Zeile %1 von %2 enthält keine vollständige Tabellenzeile.</translation>
    </message>
    <message>
        <source>Opened %1</source>
        <translation>%1 geöffnet</translation>
    </message>
    <message>
        <source>Not saved: %1: %2</source>
        <translation>Nicht gespeichert: %1: %2</translation>
    </message>
    <message>
        <source>Saved to %1</source>
        <translation>Gespeichert in %1</translation>
    </message>
</context>
<context>
    <name>CLineChart</name>
    <message>
        <source>not yet acquired</source>
        <translation>noch nicht erfasst</translation>
    </message>
</context>
<context>
    <name>CModeDlg</name>
    <message>
        <source>Configure Zelbo</source>
        <translation>Zelbo konfigurieren</translation>
    </message>
    <message>
        <source>Input Voltage:</source>
        <translation>Eingangsspannung:</translation>
    </message>
    <message>
        <source>3.3 V</source>
        <translation>3,3 V</translation>
    </message>
    <message>
        <source>5.0 V</source>
        <translation>5,0 V</translation>
    </message>
    <message>
        <source>Select Mode:</source>
        <translation>Modus wählen:</translation>
    </message>
    <message>
        <source>Stepping Clk-In</source>
        <translation>Schrittbetrieb Clk-In</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>CTJMonDlg</name>
    <message>
        <source>Temperature Monitor</source>
        <translation>Temperaturüberwachung</translation>
    </message>
    <message>
        <source>VREF [V]</source>
        <translation>VREF [V]</translation>
    </message>
    <message>
        <source>MTH [V]</source>
        <translation>MTH [V]</translation>
    </message>
    <message>
        <source>Row %1, %2: &quot;%3&quot; was not taken; the cell keeps &quot;%4&quot;.</source>
        <translation>Zeile %1, %2: „%3“ wurde nicht übernommen; die Zelle behält „%4“.</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Save Chart</source>
        <translation>Diagramm speichern</translation>
    </message>
    <message>
        <source>Time (min)</source>
        <translation>Zeit (min)</translation>
    </message>
    <message>
        <source>RNF Resistor</source>
        <translation>RNF-Widerstand</translation>
    </message>
    <message>
        <source>VREF Divide</source>
        <translation>VREF-Teiler</translation>
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
        <source>&amp;Open...</source>
        <translation>&amp;Öffnen...</translation>
    </message>
    <message>
        <source>&amp;Save...</source>
        <translation>&amp;Speichern...</translation>
    </message>
    <message>
        <source>RNF: &quot;%1&quot; is not a number; kept %2 Ω.</source>
        <translation>RNF: „%1“ ist keine Zahl; %2 Ω bleibt.</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>Excel Workbook (*.xlsx)</source>
        <translation>Excel-Arbeitsmappe (*.xlsx)</translation>
    </message>
    <message>
        <source>Temperature log saved to %1</source>
        <translation>Temperaturprotokoll gespeichert in %1</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Cannot open %1: %2</source>
        <translation>%1 kann nicht geöffnet werden: %2</translation>
    </message>
    <message>
        <source>Line %1 of %2 does not hold a whole step.</source>
        <translation>Zeile %1 von %2 enthält keinen vollständigen Schritt.</translation>
    </message>
    <message>
        <source>Not saved: %1</source>
        <translation>Nicht gespeichert: %1</translation>
    </message>
    <message>
        <source>Steps saved to %1</source>
        <translation>Schritte gespeichert in %1</translation>
    </message>
</context>
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
    <message>
        <source>Restart in &amp;Demo Mode</source>
        <translation>Im &amp;Demomodus neu starten</translation>
    </message>
    <message>
        <source>Start Zelbo again on the simulated board</source>
        <translation>Zelbo erneut auf dem simulierten Board starten</translation>
    </message>
    <message>
        <source>The demo could not be started.</source>
        <translation>Die Demo konnte nicht gestartet werden.</translation>
    </message>
    <message>
        <source>Stepping Clk-In</source>
        <translation>Schrittbetrieb Clk-In</translation>
    </message>
    <message>
        <source>Io:</source>
        <translation>Io:</translation>
    </message>
    <message>
        <source>A</source>
        <translation>A</translation>
    </message>
    <message>
        <source>RNF Value:</source>
        <translation>RNF-Wert:</translation>
    </message>
    <message>
        <source>Ω</source>
        <translation>Ω</translation>
    </message>
    <message>
        <source>RNF Exchange Rate:</source>
        <translation>RNF-Umrechnungsfaktor:</translation>
    </message>
    <message>
        <source>&lt;</source>
        <translation>&lt;</translation>
    </message>
    <message>
        <source>&gt;</source>
        <translation>&gt;</translation>
    </message>
    <message>
        <source>CLK</source>
        <translation>CLK</translation>
    </message>
    <message>
        <source>Stop:</source>
        <translation>Stopp:</translation>
    </message>
    <message>
        <source>H</source>
        <translation>H</translation>
    </message>
    <message>
        <source>%</source>
        <translation>%</translation>
    </message>
    <message>
        <source>SOURCE</source>
        <translation>QUELLE</translation>
    </message>
    <message>
        <source>OUTPUT</source>
        <translation>AUSGANG</translation>
    </message>
    <message>
        <source>VALUE/DIV</source>
        <translation>WERT/DIV</translation>
    </message>
    <message>
        <source>ICC</source>
        <translation>ICC</translation>
    </message>
    <message>
        <source>SEC/DIV</source>
        <translation>SEK/DIV</translation>
    </message>
    <message>
        <source>SAMPLING RATE</source>
        <translation>ABTASTRATE</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>TRIGGER</source>
        <translation>TRIGGER</translation>
    </message>
    <message>
        <source>+</source>
        <translation>+</translation>
    </message>
    <message>
        <source>Level [%1]</source>
        <translation>Pegel [%1]</translation>
    </message>
    <message>
        <source>Run</source>
        <translation>Run</translation>
    </message>
    <message>
        <source>CALIBRATE</source>
        <translation>KALIBRIEREN</translation>
    </message>
    <message>
        <source>THERMOMETER</source>
        <translation>THERMOMETER</translation>
    </message>
    <message>
        <source>--.- °C</source>
        <translation>--,- °C</translation>
    </message>
    <message>
        <source>Set Pins...</source>
        <translation>Pins setzen...</translation>
    </message>
    <message>
        <source>Switches the driver IC&apos;s supply on or off; on also starts the step clock and the oscilloscope.</source>
        <translation>Schaltet die Versorgung des Treiber-ICs ein oder aus; beim Einschalten starten auch der Schrittakt und das Oszilloskop.</translation>
    </message>
    <message>
        <source>Changes the drive mode of the chip (resets the references and the clock).</source>
        <translation>Ändert den Betriebsmodus des Chips (setzt Referenzen und Takt zurück).</translation>
    </message>
    <message>
        <source>VREF: the reference voltage that sets the coil current, in V, from MIN to MAX (at most 0 to 3 V).</source>
        <translation>VREF: die Referenzspannung, die den Spulenstrom bestimmt, in V, von MIN bis MAX (höchstens 0 bis 3 V).</translation>
    </message>
    <message>
        <source>VREF in V, 0 to 3 V within MIN and MAX. Takes &quot;500m&quot; and a decimal comma; text without a number is refused.</source>
        <translation>VREF in V, 0 bis 3 V innerhalb von MIN und MAX. Nimmt „500m“ und ein Dezimalkomma an; Text ohne Zahl wird abgelehnt.</translation>
    </message>
    <message>
        <source>MTH: the decay threshold voltage, in V, from MIN to MAX (at most 0 to 3.5 V).</source>
        <translation>MTH: die Schwellspannung des Stromabfalls, in V, von MIN bis MAX (höchstens 0 bis 3,5 V).</translation>
    </message>
    <message>
        <source>MTH in V, 0 to 3.5 V within MIN and MAX. Takes &quot;500m&quot; and a decimal comma; text without a number is refused.</source>
        <translation>MTH in V, 0 bis 3,5 V innerhalb von MIN und MAX. Nimmt „500m“ und ein Dezimalkomma an; Text ohne Zahl wird abgelehnt.</translation>
    </message>
    <message>
        <source>CLK: the step clock frequency, in Hz, from MIN to MAX (at most 100 kHz).</source>
        <translation>CLK: die Frequenz des Schrittakts, in Hz, von MIN bis MAX (höchstens 100 kHz).</translation>
    </message>
    <message>
        <source>CLK in Hz, up to 100 kHz within MIN and MAX; &quot;2k&quot; is 2 kHz. Text without a number is refused.</source>
        <translation>CLK in Hz, bis 100 kHz innerhalb von MIN und MAX; „2k“ ist 2 kHz. Text ohne Zahl wird abgelehnt.</translation>
    </message>
    <message>
        <source>VREF MAX: the top of the VREF slider and sweep, in V, 0 to 3 V.</source>
        <translation>VREF MAX: das obere Ende von VREF-Schieberegler und -Durchlauf, in V, 0 bis 3 V.</translation>
    </message>
    <message>
        <source>VREF MIN: the bottom of the VREF slider and sweep, in V, 0 V to MAX.</source>
        <translation>VREF MIN: das untere Ende von VREF-Schieberegler und -Durchlauf, in V, 0 V bis MAX.</translation>
    </message>
    <message>
        <source>VREF STEP: one notch of the VREF slider and sweep, in V, 0.01 V to MAX - MIN.</source>
        <translation>VREF SCHRITT: eine Raste von VREF-Schieberegler und -Durchlauf, in V, 0,01 V bis MAX - MIN.</translation>
    </message>
    <message>
        <source>MTH MAX: the top of the MTH slider and sweep, in V, 0 to 3.5 V.</source>
        <translation>MTH MAX: das obere Ende von MTH-Schieberegler und -Durchlauf, in V, 0 bis 3,5 V.</translation>
    </message>
    <message>
        <source>MTH MIN: the bottom of the MTH slider and sweep, in V, 0 V to MAX.</source>
        <translation>MTH MIN: das untere Ende von MTH-Schieberegler und -Durchlauf, in V, 0 V bis MAX.</translation>
    </message>
    <message>
        <source>MTH STEP: one notch of the MTH slider and sweep, in V, 0.01 V to MAX - MIN.</source>
        <translation>MTH SCHRITT: eine Raste von MTH-Schieberegler und -Durchlauf, in V, 0,01 V bis MAX - MIN.</translation>
    </message>
    <message>
        <source>CLK MAX: the top of the CLK slider and sweep, in Hz, up to 100 kHz.</source>
        <translation>CLK MAX: das obere Ende von CLK-Schieberegler und -Durchlauf, in Hz, bis 100 kHz.</translation>
    </message>
    <message>
        <source>CLK MIN: the bottom of the CLK slider and sweep, in Hz, 0 Hz to MAX.</source>
        <translation>CLK MIN: das untere Ende von CLK-Schieberegler und -Durchlauf, in Hz, 0 Hz bis MAX.</translation>
    </message>
    <message>
        <source>CLK STEP: one notch of the CLK slider and sweep, in Hz, 10 Hz to MAX - MIN.</source>
        <translation>CLK SCHRITT: eine Raste von CLK-Schieberegler und -Durchlauf, in Hz, 10 Hz bis MAX - MIN.</translation>
    </message>
    <message>
        <source>Sweep: one STEP down from the present values.</source>
        <translation>Durchlauf: einen SCHRITT unter die aktuellen Werte.</translation>
    </message>
    <message>
        <source>Sweep: steps VREF, MTH and CLK from MIN to MAX by STEP, or stops.</source>
        <translation>Durchlauf: führt VREF, MTH und CLK in SCHRITTEN von MIN bis MAX, oder hält an.</translation>
    </message>
    <message>
        <source>Sweep: one STEP up from the present values.</source>
        <translation>Durchlauf: einen SCHRITT über die aktuellen Werte.</translation>
    </message>
    <message>
        <source>RNF: the board&apos;s current-sense resistor, in ohm, 0.01 to 1 ohm; Io is VREF / RNF / rate.</source>
        <translation>RNF: der Strommesswiderstand des Boards, in Ohm, 0,01 bis 1 Ohm; Io ist VREF / RNF / Faktor.</translation>
    </message>
    <message>
        <source>RNF exchange rate: the chip&apos;s VREF divider, 1 / 10 to 1 / 1.</source>
        <translation>RNF-Umrechnungsfaktor: der VREF-Teiler des Chips, 1 / 10 bis 1 / 1.</translation>
    </message>
    <message>
        <source>The step clock runs until stopped.</source>
        <translation>Der Schrittakt läuft, bis er angehalten wird.</translation>
    </message>
    <message>
        <source>The step clock runs the number of steps in Steps, then stops.</source>
        <translation>Der Schrittakt läuft die unter Schritte angegebene Anzahl und hält dann an.</translation>
    </message>
    <message>
        <source>Steps of a manual run, 1 to 255.</source>
        <translation>Schritte eines manuellen Laufs, 1 bis 255.</translation>
    </message>
    <message>
        <source>The level the clock line is left at when a manual run ends: H (high) or L (low).</source>
        <translation>Der Pegel, auf dem die Taktleitung nach einem manuellen Lauf bleibt: H (high) oder L (low).</translation>
    </message>
    <message>
        <source>Starts or stops the step clock.</source>
        <translation>Startet oder stoppt den Schrittakt.</translation>
    </message>
    <message>
        <source>Duty cycle of the step clock, in %, 1 to 100 (0 gives 50 %).</source>
        <translation>Tastverhältnis des Schrittakts, in %, 1 bis 100 (0 ergibt 50 %).</translation>
    </message>
    <message>
        <source>Sends the duty cycle to the clock generator.</source>
        <translation>Sendet das Tastverhältnis an den Taktgenerator.</translation>
    </message>
    <message>
        <source>Acquires and shows CH%1.</source>
        <translation>Erfasst und zeigt CH%1.</translation>
    </message>
    <message>
        <source>CH%1 settings: name, colour and position (-5 to 5 divisions).</source>
        <translation>Einstellungen von CH%1: Name, Farbe und Position (-5 bis 5 Teilungen).</translation>
    </message>
    <message>
        <source>What CH%1 measures: a voltage (V), the coil current (A) or the supply current ICC (A).</source>
        <translation>Was CH%1 misst: eine Spannung (V), den Spulenstrom (A) oder den Versorgungsstrom ICC (A).</translation>
    </message>
    <message>
        <source>The driver output CH%1 is connected to.</source>
        <translation>Der Treiberausgang, an dem CH%1 liegt.</translation>
    </message>
    <message>
        <source>CH%1 scale per division: 100 mV to 50 V for a voltage, 100 mA to 10 A for a current.</source>
        <translation>Skala von CH%1 je Teilung: 100 mV bis 50 V für eine Spannung, 100 mA bis 10 A für einen Strom.</translation>
    </message>
    <message>
        <source>Time per division, 500 ns to 50 ms.</source>
        <translation>Zeit je Teilung, 500 ns bis 50 ms.</translation>
    </message>
    <message>
        <source>Sampling rate of the oscilloscope, 2.5 kHz to 10 MHz.</source>
        <translation>Abtastrate des Oszilloskops, 2,5 kHz bis 10 MHz.</translation>
    </message>
    <message>
        <source>Keeps the sampling rate matched to the time per division.</source>
        <translation>Hält die Abtastrate passend zur Zeit je Teilung.</translation>
    </message>
    <message>
        <source>Trigger on: a sweep starts when the trigger channel crosses the level; off: free running.</source>
        <translation>Trigger ein: eine Aufnahme beginnt, wenn der Triggerkanal den Pegel kreuzt; aus: freilaufend.</translation>
    </message>
    <message>
        <source>Trigger slope: + on a rising edge, - on a falling edge.</source>
        <translation>Triggerflanke: + bei steigender, - bei fallender Flanke.</translation>
    </message>
    <message>
        <source>Triggers on CH%1.</source>
        <translation>Triggert auf CH%1.</translation>
    </message>
    <message>
        <source>Trigger level for a voltage channel, in V, -36 to 36 V.</source>
        <translation>Triggerpegel für einen Spannungskanal, in V, -36 bis 36 V.</translation>
    </message>
    <message>
        <source>Trigger level for a voltage channel, in V, -36 to 36 V; text without a number is refused.</source>
        <translation>Triggerpegel für einen Spannungskanal, in V, -36 bis 36 V; Text ohne Zahl wird abgelehnt.</translation>
    </message>
    <message>
        <source>Trigger level for a current channel, in A, -6 to 6 A.</source>
        <translation>Triggerpegel für einen Stromkanal, in A, -6 bis 6 A.</translation>
    </message>
    <message>
        <source>Trigger level for a current channel, in A, -6 to 6 A; text without a number is refused.</source>
        <translation>Triggerpegel für einen Stromkanal, in A, -6 bis 6 A; Text ohne Zahl wird abgelehnt.</translation>
    </message>
    <message>
        <source>Starts or stops the acquisition.</source>
        <translation>Startet oder stoppt die Erfassung.</translation>
    </message>
    <message>
        <source>Measures the zero offsets of the four channels (the acquisition must be stopped).</source>
        <translation>Misst die Nullpunktfehler der vier Kanäle (die Erfassung muss gestoppt sein).</translation>
    </message>
    <message>
        <source>Saves the chart as a JPEG picture.</source>
        <translation>Speichert das Diagramm als JPEG-Bild.</translation>
    </message>
    <message>
        <source>%1 stopped (%2).</source>
        <translation>%1 angehalten (%2).</translation>
    </message>
    <message>
        <source>Data folder %1 cannot be written (%2): running on the built-in chip list; settings and calibration are not saved.</source>
        <translation>Datenordner %1 ist nicht beschreibbar (%2): es wird die eingebaute Chipliste verwendet; Einstellungen und Kalibrierung werden nicht gespeichert.</translation>
    </message>
    <message>
        <source>Data folder %1 is read-only: settings and calibration are not saved.</source>
        <translation>Datenordner %1 ist schreibgeschützt: Einstellungen und Kalibrierung werden nicht gespeichert.</translation>
    </message>
    <message>
        <source>Trigger mode</source>
        <translation>Triggermodus</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Trigger state</source>
        <translation>Triggerzustand</translation>
    </message>
    <message>
        <source>Holdoff</source>
        <translation>Holdoff</translation>
    </message>
    <message>
        <source>Time after each sweep before the trigger is armed again</source>
        <translation>Zeit nach jeder Aufnahme, bevor der Trigger wieder scharf geschaltet wird</translation>
    </message>
</context>
<context>
    <name>CTjFinDlg</name>
    <message>
        <source>Temperature Monitor</source>
        <translation>Temperaturüberwachung</translation>
    </message>
    <message>
        <source>Temperature monitoring finished successfully.</source>
        <translation>Die Temperaturüberwachung wurde erfolgreich beendet.</translation>
    </message>
    <message>
        <source>Save Chart</source>
        <translation>Diagramm speichern</translation>
    </message>
    <message>
        <source>Discard Chart</source>
        <translation>Diagramm verwerfen</translation>
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
    <message>
        <source>Save Waveform</source>
        <translation>Signalform speichern</translation>
    </message>
    <message>
        <source>it is a folder</source>
        <translation>es ist ein Ordner</translation>
    </message>
    <message>
        <source>it could not be read</source>
        <translation>es konnte nicht gelesen werden</translation>
    </message>
</context>
<context>
    <name>zelbo::app::CalibrationFeature</name>
    <message>
        <source>Calibration needs the oscilloscope stopped: press &quot;%1&quot; first.</source>
        <translation>Zum Kalibrieren muss das Oszilloskop stehen: zuerst „%1“ drücken.</translation>
    </message>
</context>
<context>
    <name>zelbo::app::ProgramFeatures</name>
    <message>
        <source>Double-click to set the pins</source>
        <translation>Doppelklick, um die Pins zu setzen</translation>
    </message>
    <message>
        <source>THERMOMETER</source>
        <translation>THERMOMETER</translation>
    </message>
</context>
<context>
    <name>zelbo::app::SettingsFeature</name>
    <message>
        <source>Save As</source>
        <translation>Speichern unter</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Settings not saved: %1</source>
        <translation>Einstellungen nicht gespeichert: %1</translation>
    </message>
    <message>
        <source>Settings saved to %1</source>
        <translation>Einstellungen gespeichert in %1</translation>
    </message>
    <message>
        <source>Please power on software first.</source>
        <translation>Bitte schalten Sie zuerst die Versorgung ein.</translation>
    </message>
    <message>
        <source>Math channels not saved: %1</source>
        <translation>Mathematikkanäle nicht gespeichert: %1</translation>
    </message>
</context>
<context>
    <name>zelbo::drive::DriveBinder</name>
    <message>
        <source>High</source>
        <translation>High</translation>
    </message>
    <message>
        <source>Low</source>
        <translation>Low</translation>
    </message>
</context>
<context>
    <name>zelbo::drive::SweepBinder</name>
    <message>
        <source>VREF</source>
        <translation>VREF</translation>
    </message>
    <message>
        <source>MTH</source>
        <translation>MTH</translation>
    </message>
    <message>
        <source>CLK</source>
        <translation>CLK</translation>
    </message>
    <message>
        <source>The column that &quot;&lt;&quot;, &quot;&gt;&quot; and &quot;Start&quot; step</source>
        <translation>Die Spalte, die „&lt;“, „&gt;“ und „Start“ durchlaufen</translation>
    </message>
    <message>
        <source> ms</source>
        <translation> ms</translation>
    </message>
    <message>
        <source>Time per step of a sweep</source>
        <translation>Zeit je Schritt eines Durchlaufs</translation>
    </message>
    <message>
        <source>every</source>
        <translation>alle</translation>
    </message>
</context>
<context>
    <name>zelbo::scope::CChannelDlg</name>
    <message>
        <source>Voltage</source>
        <translation>Spannung</translation>
    </message>
    <message>
        <source>Current</source>
        <translation>Strom</translation>
    </message>
    <message>
        <source>ICC</source>
        <translation>ICC</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Color</source>
        <translation>Farbe</translation>
    </message>
    <message>
        <source>Position</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>Source</source>
        <translation>Quelle</translation>
    </message>
</context>
<context>
    <name>zelbo::scope::ChartView</name>
    <message>
        <source>Earlier</source>
        <translation>Früher</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Später</translation>
    </message>
    <message>
        <source>Zoom out: the whole sweep</source>
        <translation>Verkleinern: die ganze Aufnahme</translation>
    </message>
</context>
<context>
    <name>zelbo::scope::ScopeBinder</name>
    <message>
        <source>Auto</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>Normal</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>Single</source>
        <translation>Einzeln</translation>
    </message>
    <message>
        <source>Stop</source>
        <comment>trigger state</comment>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Wait</source>
        <comment>trigger state</comment>
        <translation>Warten</translation>
    </message>
    <message>
        <source>Armed</source>
        <comment>trigger state</comment>
        <translation>Bereit</translation>
    </message>
    <message>
        <source>Trig&apos;d</source>
        <comment>trigger state</comment>
        <translation>Ausgel.</translation>
    </message>
    <message>
        <source>Auto</source>
        <comment>trigger state</comment>
        <translation>Auto</translation>
    </message>
    <message>
        <source>Run</source>
        <comment>trigger state</comment>
        <translation>Läuft</translation>
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
        <source>ICC</source>
        <translation>ICC</translation>
    </message>
    <message>
        <source>Trigger level: &quot;%1&quot; is not a number; kept %2 V.</source>
        <translation>Triggerpegel: „%1“ ist keine Zahl; %2 V bleibt.</translation>
    </message>
    <message>
        <source>Trigger level: &quot;%1&quot; is not a number; kept %2 A.</source>
        <translation>Triggerpegel: „%1“ ist keine Zahl; %2 A bleibt.</translation>
    </message>
    <message>
        <source>Picture saved to %1</source>
        <translation>Bild gespeichert in %1</translation>
    </message>
    <message>
        <source>Picture not saved: %1</source>
        <translation>Bild nicht gespeichert: %1</translation>
    </message>
</context>
<context>
    <name>zelbo::scope::ScopeInstrument</name>
    <message>
        <source>Levels</source>
        <translation>Stufen</translation>
    </message>
    <message>
        <source>Ideal microstep levels of the excitation mode on the current channels</source>
        <translation>Ideale Mikroschrittstufen des Erregungsmodus auf den Stromkanälen</translation>
    </message>
    <message>
        <source>XY</source>
        <translation>XY</translation>
    </message>
    <message>
        <source>X</source>
        <translation>X</translation>
    </message>
    <message>
        <source>Y</source>
        <translation>Y</translation>
    </message>
    <message>
        <source>Save Data...</source>
        <translation>Export...</translation>
    </message>
    <message>
        <source> min</source>
        <translation> min</translation>
    </message>
    <message>
        <source>Recording duration (0 = until stopped)</source>
        <translation>Aufnahmedauer (0 = bis zum Anhalten)</translation>
    </message>
    <message>
        <source>∞ min</source>
        <translation>∞ min</translation>
    </message>
    <message>
        <source> MB</source>
        <translation> MB</translation>
    </message>
    <message>
        <source>Largest recording file (0 = any size)</source>
        <translation>Größte Aufnahmedatei (0 = beliebig groß)</translation>
    </message>
    <message>
        <source>∞ MB</source>
        <translation>∞ MB</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Aufnehmen</translation>
    </message>
    <message>
        <source>Save Data</source>
        <translation>Daten speichern</translation>
    </message>
    <message>
        <source>No sweep has been acquired yet, so there is no data to save. Press &quot;Run&quot; first.</source>
        <translation>Es wurde noch keine Aufnahme erfasst, daher gibt es keine Daten zu speichern. Zuerst „Run“ drücken.</translation>
    </message>
    <message>
        <source>Data saved to %1</source>
        <translation>Daten gespeichert in %1</translation>
    </message>
    <message>
        <source>Data not saved: %1</source>
        <translation>Daten nicht gespeichert: %1</translation>
    </message>
    <message>
        <source>Oscilloscope recording (*.zrec)</source>
        <translation>Oszilloskop-Aufzeichnung (*.zrec)</translation>
    </message>
    <message>
        <source>Stop Rec</source>
        <translation>Aufn. stoppen</translation>
    </message>
    <message>
        <source>%1 sweeps, %2 in %3</source>
        <translation>%1 Aufnahmen, %2 in %3</translation>
    </message>
    <message>
        <source>Recorded %1</source>
        <translation>Aufgezeichnet: %1</translation>
    </message>
    <message>
        <source>REC %1:%2:%3  %4 sweeps  %5</source>
        <translation>AUFN %1:%2:%3  %4 Aufnahmen  %5</translation>
    </message>
</context>
<context>
    <name>zelbo::scope::XyView</name>
    <message>
        <source>X: %1</source>
        <translation>X: %1</translation>
    </message>
    <message>
        <source>Y: %1</source>
        <translation>Y: %1</translation>
    </message>
</context>
<context>
    <name>zelbo::scope::AnalysisTools</name>
    <message>
        <source>Analysis</source>
        <translation>Analyse</translation>
    </message>
    <message>
        <source>Spectrum, math channels and amplitude cursors</source>
        <translation>Spektrum, Mathematikkanäle und Amplitudencursor</translation>
    </message>
    <message>
        <source>Spectrum</source>
        <translation>Spektrum</translation>
    </message>
    <message>
        <source>Math Channels...</source>
        <translation>Mathematikkanäle...</translation>
    </message>
    <message>
        <source>Amplitude Cursors...</source>
        <translation>Amplitudencursor...</translation>
    </message>
</context>
<context>
    <name>zelbo::scope::LevelCursorDialog</name>
    <message>
        <source>Amplitude Cursors</source>
        <translation>Amplitudencursor</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Anzeigen</translation>
    </message>
    <message>
        <source>Channel</source>
        <translation>Kanal</translation>
    </message>
    <message>
        <source>Level a</source>
        <translation>Pegel a</translation>
    </message>
    <message>
        <source>Level b</source>
        <translation>Pegel b</translation>
    </message>
</context>
<context>
    <name>zelbo::scope::MathDialog</name>
    <message>
        <source>Math Channels</source>
        <translation>Mathematikkanäle</translation>
    </message>
    <message>
        <source>Expression</source>
        <translation>Ausdruck</translation>
    </message>
    <message>
        <source>Unit</source>
        <translation>Einheit</translation>
    </message>
    <message>
        <source>Value/div</source>
        <translation>Wert/Div</translation>
    </message>
    <message>
        <source>Position</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>Label</source>
        <translation>Beschriftung</translation>
    </message>
    <message>
        <source>CH1..CH4, numbers with units (V, A, W, ohm; m, k prefixes), + - * / and brackets.
V x A gives W, V / ohm gives A; a plain number scales or offsets.</source>
        <translation>CH1..CH4, Zahlen mit Einheiten (V, A, W, Ohm; Vorsätze m, k), + - * / und Klammern.
V x A ergibt W, V / Ohm ergibt A; eine reine Zahl skaliert oder verschiebt.</translation>
    </message>
    <message>
        <source>%1: value/div must be a number above 0.</source>
        <translation>%1: Wert/Div muss eine Zahl größer 0 sein.</translation>
    </message>
</context>
<context>
    <name>zelbo::scope::SpectrumPanel</name>
    <message>
        <source>electrical frequency %1
</source>
        <translation>elektrische Frequenz %1
</translation>
    </message>
    <message>
        <source>dB</source>
        <translation>dB</translation>
    </message>
    <message>
        <source>Channel</source>
        <translation>Kanal</translation>
    </message>
    <message>
        <source>Window</source>
        <translation>Fenster</translation>
    </message>
    <message>
        <source>No sweep on this channel.</source>
        <translation>Keine Aufnahme auf diesem Kanal.</translation>
    </message>
    <message>
        <source>Fundamental %1
</source>
        <translation>Grundschwingung %1
</translation>
    </message>
    <message>
        <source>THD %1 % (%2 dB)
</source>
        <translation>THD %1 % (%2 dB)
</translation>
    </message>
    <message>
        <source>over %1 harmonics
</source>
        <translation>über %1 Harmonische
</translation>
    </message>
</context>
<context>
    <name>zelbo::scope::SpectrumView</name>
    <message>
        <source>No sweep</source>
        <translation>Keine Aufnahme</translation>
    </message>
</context>
</TS>

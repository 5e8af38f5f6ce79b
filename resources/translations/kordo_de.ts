<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>AppBase</name>
    <message>
        <location filename="../../app/appbase.cpp" line="220"/>
        <source>Control signal lost</source>
        <translation>Steuersignal verloren</translation>
    </message>
    <message>
        <location filename="../../app/appbase.cpp" line="238"/>
        <source>Log file is not created</source>
        <translation>Die Protokolldatei wurde nicht angelegt</translation>
    </message>
    <message>
        <location filename="../../app/appbase.cpp" line="241"/>
        <source>Data is not written to log file!</source>
        <translation>Daten wurden nicht in die Protokolldatei geschrieben!</translation>
    </message>
    <message>
        <location filename="../../app/appbase.cpp" line="250"/>
        <source>Error: 0x</source>
        <translation>Fehler: 0x</translation>
    </message>
    <message>
        <location filename="../../app/appbase.cpp" line="300"/>
        <source>Parameteres are send to the device, now</source>
        <translation>Die Parameter werden gerade an das Gerät gesendet</translation>
    </message>
    <message>
        <location filename="../../app/appbase.cpp" line="306"/>
        <source>Motor identification is still running</source>
        <translation>Die Motoridentifikation läuft noch</translation>
    </message>
    <message>
        <location filename="../../app/appbase.cpp" line="312"/>
        <source>Please disable control first</source>
        <translation>Bitte zuerst die Steuerung abschalten</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <location filename="../../app/commandline.cpp" line="8"/>
        <source>Configuration and diagnostics for the Kordo motor controller.</source>
        <translation>Konfiguration und Diagnose für den Kordo-Motorregler.</translation>
    </message>
    <message>
        <location filename="../../app/commandline.cpp" line="11"/>
        <source>Run on the built-in simulated controller.</source>
        <translation>Mit dem eingebauten simulierten Regler arbeiten.</translation>
    </message>
    <message>
        <location filename="../../app/commandline.cpp" line="13"/>
        <source>Add a serial port; a serial number starting with AE marks the maker&apos;s adapter.</source>
        <translation>Eine serielle Schnittstelle hinzufügen; eine Seriennummer, die mit AE beginnt, kennzeichnet den Adapter des Herstellers.</translation>
    </message>
    <message>
        <location filename="../../app/commandline.cpp" line="16"/>
        <source>Keep settings, logs and the motor database in this directory.</source>
        <translation>Einstellungen, Protokolle und Motordatenbank in diesem Verzeichnis ablegen.</translation>
    </message>
    <message>
        <location filename="../../app/commandline.cpp" line="19"/>
        <source>Write the motors of the database to a motor file and exit.</source>
        <translation>Die Motoren der Datenbank in eine Motordatei schreiben und beenden.</translation>
    </message>
    <message>
        <location filename="../../app/commandline.cpp" line="22"/>
        <source>With --export-motors: export only this motor (repeatable).</source>
        <translation>Mit --export-motors: nur diesen Motor exportieren (wiederholbar).</translation>
    </message>
    <message>
        <location filename="../../app/commandline.cpp" line="25"/>
        <source>Read the motors of a motor file into the database and exit.</source>
        <translation>Die Motoren einer Motordatei in die Datenbank einlesen und beenden.</translation>
    </message>
    <message>
        <location filename="../../app/commandline.cpp" line="28"/>
        <source>With --import-motors: replace the whole motor list instead of adding.</source>
        <translation>Mit --import-motors: die ganze Motorliste ersetzen statt zu ergänzen.</translation>
    </message>
    <message>
        <location filename="../../app/commandline.cpp" line="40"/>
        <source>Unexpected argument: %1</source>
        <translation>Unerwartetes Argument: %1</translation>
    </message>
    <message>
        <location filename="../../app/commandline.cpp" line="59"/>
        <source>--export-motors and --import-motors cannot be combined.</source>
        <translation>--export-motors und --import-motors können nicht kombiniert werden.</translation>
    </message>
    <message>
        <location filename="../../app/commandline.cpp" line="68"/>
        <source>--motor is used only with --export-motors.</source>
        <translation>--motor gilt nur zusammen mit --export-motors.</translation>
    </message>
    <message>
        <location filename="../../app/commandline.cpp" line="70"/>
        <source>--overwrite is used only with --import-motors.</source>
        <translation>--overwrite gilt nur zusammen mit --import-motors.</translation>
    </message>
    <message>
        <location filename="../../app/commandline.cpp" line="72"/>
        <source>The motor file name is empty.</source>
        <translation>Der Name der Motordatei ist leer.</translation>
    </message>
</context>
<context>
    <name>ControlPage</name>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="35"/>
        <source>Curve 1</source>
        <translation>Kurve 1</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="45"/>
        <source>Curve 2</source>
        <translation>Kurve 2</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="62"/>
        <source>Live</source>
        <translation>Live</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="65"/>
        <source>Uncheck to freeze the plot; the values keep updating</source>
        <translation>Abwählen hält das Diagramm an; die Werte laufen weiter</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="78"/>
        <source>Save plot...</source>
        <translation>Diagramm speichern...</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="81"/>
        <source>Save the plot as a PNG image</source>
        <translation>Das Diagramm als PNG-Bild speichern</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="88"/>
        <source>Save samples...</source>
        <translation>Messwerte speichern...</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="91"/>
        <source>Save the samples of this run as a CSV table</source>
        <translation>Die Messwerte dieses Laufs als CSV-Tabelle speichern</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="100"/>
        <source>Telemetry</source>
        <translation>Telemetrie</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="106"/>
        <source>Speed</source>
        <translation>Drehzahl</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="130"/>
        <source>V</source>
        <translation>V</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="154"/>
        <source>V-Dc</source>
        <translation>V-DC</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="178"/>
        <source>Power</source>
        <translation>Leistung</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="202"/>
        <source>Torque</source>
        <translation>Drehmoment</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="226"/>
        <source>I</source>
        <translation>I</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="250"/>
        <source>Pwm</source>
        <translation>PWM</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="274"/>
        <source>Rs</source>
        <translation>Rs</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="298"/>
        <source>Flux</source>
        <translation>Fluss</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="322"/>
        <source>Temp</source>
        <translation>Temperatur</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="349"/>
        <source>Duty cycle</source>
        <translation>Tastverhältnis</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="355"/>
        <source>Enable control</source>
        <translation>Steuerung aktivieren</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="406"/>
        <source>Dead Band</source>
        <translation>Totband</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="444"/>
        <source>Tuning</source>
        <translation>Abstimmung</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="451"/>
        <source>Toggling</source>
        <translation>Wechselbetrieb</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.ui" line="458"/>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.cpp" line="134"/>
        <source>Stop the motor (Esc)</source>
        <translation>Motor anhalten (Esc)</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.cpp" line="310"/>
        <source>Motor stopped</source>
        <translation>Motor angehalten</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.cpp" line="343"/>
        <source>Controller params tuninig is stopped because motor has not propeler or propeler is inconvenient. You can set approximation of params or default params</source>
        <translation>Die Abstimmung der Reglerparameter wurde beendet, weil der Motor keinen oder einen ungeeigneten Propeller hat. Sie können genäherte Parameter oder die Standardparameter setzen</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.cpp" line="381"/>
        <source>Save plot</source>
        <translation>Diagramm speichern</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.cpp" line="381"/>
        <source>PNG images (*.png)</source>
        <translation>PNG-Bilder (*.png)</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.cpp" line="385"/>
        <source>The plot could not be saved to %1</source>
        <translation>Das Diagramm konnte nicht in %1 gespeichert werden</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.cpp" line="388"/>
        <source>Plot saved to %1</source>
        <translation>Diagramm in %1 gespeichert</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.cpp" line="393"/>
        <source>Save samples</source>
        <translation>Messwerte speichern</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.cpp" line="393"/>
        <source>CSV tables (*.csv)</source>
        <translation>CSV-Tabellen (*.csv)</translation>
    </message>
    <message>
        <location filename="../../tuning/ui/controlpage.cpp" line="398"/>
        <source>The samples could not be saved to %1: %2</source>
        <translation>Die Messwerte konnten nicht in %1 gespeichert werden: %2</translation>
    </message>
    <message numerus="yes">
        <location filename="../../tuning/ui/controlpage.cpp" line="403"/>
        <source>%n samples saved to %1</source>
        <translation>
            <numerusform>%n Messwert in %1 gespeichert</numerusform>
            <numerusform>%n Messwerte in %1 gespeichert</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>DataDirectory</name>
    <message>
        <location filename="../../app/datadirectory.cpp" line="54"/>
        <source>The data directory %1 cannot be created or written to.</source>
        <translation>Das Datenverzeichnis %1 kann nicht angelegt oder beschrieben werden.</translation>
    </message>
    <message>
        <location filename="../../app/datadirectory.cpp" line="65"/>
        <source>No data directory can be written: neither %1 nor %2.</source>
        <translation>Kein Datenverzeichnis ist beschreibbar: weder %1 noch %2.</translation>
    </message>
    <message>
        <location filename="../../app/datadirectory.cpp" line="106"/>
        <source>The directory %1 cannot be created.</source>
        <translation>Das Verzeichnis %1 kann nicht angelegt werden.</translation>
    </message>
</context>
<context>
    <name>DbManager</name>
    <message>
        <location filename="../../motors/dbmanager.cpp" line="101"/>
        <source>the SQLite driver is missing</source>
        <translation>der SQLite-Treiber fehlt</translation>
    </message>
    <message>
        <location filename="../../motors/dbmanager.cpp" line="106"/>
        <source>its directory does not exist</source>
        <translation>ihr Verzeichnis existiert nicht</translation>
    </message>
    <message>
        <location filename="../../motors/dbmanager.cpp" line="136"/>
        <source>the table %1 lacks columns</source>
        <translation>der Tabelle %1 fehlen Spalten</translation>
    </message>
    <message>
        <location filename="../../motors/dbmanager.cpp" line="172"/>
        <source>The motor database %1 cannot be used: %2. Motors cannot be listed, stored or exchanged.</source>
        <translation>Die Motordatenbank %1 ist nicht nutzbar: %2. Motoren können weder aufgelistet noch gespeichert oder ausgetauscht werden.</translation>
    </message>
    <message>
        <location filename="../../motors/dbmanager.cpp" line="181"/>
        <source>The motor database %1 cannot be written: %2. Motors can be listed and exported, but not stored, renamed, removed or imported.</source>
        <translation>Die Motordatenbank %1 ist nicht beschreibbar: %2. Motoren können aufgelistet und exportiert, aber nicht gespeichert, umbenannt, gelöscht oder importiert werden.</translation>
    </message>
</context>
<context>
    <name>DeviceRecords</name>
    <message>
        <location filename="../../wire/records.cpp" line="537"/>
        <source>Hw</source>
        <translation>Hardware</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="538"/>
        <source>Eeprom</source>
        <translation>EEPROM</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="539"/>
        <source>Undervoltage</source>
        <translation>Unterspannung</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="540"/>
        <source>Overvoltage</source>
        <translation>Überspannung</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="541"/>
        <source>Time</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="542"/>
        <source>Params</source>
        <translation>Parameter</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="543"/>
        <source>Wrong Rs</source>
        <translation>Falscher Rs</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="544"/>
        <source>Watchdog</source>
        <translation>Watchdog</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="545"/>
        <source>Valid data</source>
        <translation>Gültige Daten</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="546"/>
        <location filename="../../wire/records.cpp" line="556"/>
        <source>Overtemp ESC</source>
        <translation>Übertemperatur Regler</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="547"/>
        <source>Phase A</source>
        <translation>Phase A</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="548"/>
        <source>Phase B</source>
        <translation>Phase B</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="549"/>
        <source>Phase C</source>
        <translation>Phase C</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="550"/>
        <source>DRV</source>
        <translation>Treiber</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="551"/>
        <source>Signal diff</source>
        <translation>Signaldifferenz</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="552"/>
        <source>DRV setup</source>
        <translation>Treibereinstellung</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="557"/>
        <source>Demagnization</source>
        <translation>Entmagnetisierung</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="558"/>
        <source>Motor stop</source>
        <translation>Motorstillstand</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="562"/>
        <source>None</source>
        <translation>Keine</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="563"/>
        <source>Torque</source>
        <translation>Drehmoment</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="564"/>
        <source>Speed</source>
        <translation>Drehzahl</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="565"/>
        <source>I</source>
        <translation>I</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="566"/>
        <source>V-Dc</source>
        <translation>V-DC</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="567"/>
        <source>V</source>
        <translation>V</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="568"/>
        <source>Power</source>
        <translation>Leistung</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="569"/>
        <source>Pwm</source>
        <translation>PWM</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="570"/>
        <source>Rs</source>
        <translation>Rs</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="571"/>
        <source>Flux</source>
        <translation>Fluss</translation>
    </message>
    <message>
        <location filename="../../wire/records.cpp" line="572"/>
        <source>Temp</source>
        <translation>Temperatur</translation>
    </message>
</context>
<context>
    <name>DeviceStatusView</name>
    <message>
        <location filename="../../app/devicestatusview.cpp" line="12"/>
        <source>Device </source>
        <translation>Gerät </translation>
    </message>
    <message>
        <location filename="../../app/devicestatusview.cpp" line="14"/>
        <source>No Device</source>
        <translation>Kein Gerät</translation>
    </message>
    <message>
        <location filename="../../app/devicestatusview.cpp" line="15"/>
        <source>Disconnected</source>
        <translation>Getrennt</translation>
    </message>
    <message>
        <location filename="../../app/devicestatusview.cpp" line="22"/>
        <source>Connected</source>
        <translation>Verbunden</translation>
    </message>
    <message>
        <location filename="../../app/devicestatusview.cpp" line="31"/>
        <source>Running</source>
        <translation>Läuft</translation>
    </message>
    <message>
        <location filename="../../app/devicestatusview.cpp" line="38"/>
        <location filename="../../app/devicestatusview.cpp" line="47"/>
        <source>Boot</source>
        <translation>Boot</translation>
    </message>
    <message>
        <location filename="../../app/devicestatusview.cpp" line="40"/>
        <location filename="../../app/devicestatusview.cpp" line="49"/>
        <source>Flashing</source>
        <translation>Flashen</translation>
    </message>
    <message>
        <location filename="../../app/devicestatusview.cpp" line="48"/>
        <source>Non-init device</source>
        <translation>Nicht initialisiertes Gerät</translation>
    </message>
</context>
<context>
    <name>EscSettingsPage</name>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="9"/>
        <source>PWM input</source>
        <translation>PWM-Eingang</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="15"/>
        <source>Low level</source>
        <translation>Unterer Pegel</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="34"/>
        <location filename="../../device/ui/escsettingspage.ui" line="60"/>
        <location filename="../../device/ui/escsettingspage.ui" line="86"/>
        <source> µs</source>
        <translation> µs</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="41"/>
        <source>Center level</source>
        <translation>Mittlerer Pegel</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="67"/>
        <source>High level</source>
        <translation>Oberer Pegel</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="93"/>
        <source>Dead zone</source>
        <translation>Totzone</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="112"/>
        <source> %</source>
        <translation> %</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="119"/>
        <source>PWM type</source>
        <translation>PWM-Art</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="127"/>
        <source>Unipolar</source>
        <translation>Unipolar</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="132"/>
        <source>Bipolar</source>
        <translation>Bipolar</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="140"/>
        <source>Control type</source>
        <translation>Regelungsart</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="148"/>
        <source>Voltage</source>
        <translation>Spannung</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="153"/>
        <source>Speed</source>
        <translation>Drehzahl</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="161"/>
        <source>Speed norm</source>
        <translation>Drehzahlnorm</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="180"/>
        <source> rpm</source>
        <translation> U/min</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="187"/>
        <source>Scale</source>
        <translation>Skalierung</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="213"/>
        <source>Digital control</source>
        <translation>Digitale Steuerung</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="220"/>
        <source>Analog control</source>
        <translation>Analoge Steuerung</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="230"/>
        <location filename="../../device/ui/escsettingspage.ui" line="476"/>
        <source>Stored in the device</source>
        <translation>Im Gerät gespeichert</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="250"/>
        <source>Motion</source>
        <translation>Bewegung</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="256"/>
        <source>Acceleration</source>
        <translation>Beschleunigung</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="309"/>
        <source>Low</source>
        <translation>Niedrig</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="316"/>
        <source>Mid</source>
        <translation>Mittel</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="323"/>
        <source>High</source>
        <translation>Hoch</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="332"/>
        <location filename="../../device/ui/escsettingspage.ui" line="361"/>
        <source>Brake</source>
        <translation>Bremse</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="368"/>
        <source>Reverse direction</source>
        <translation>Drehrichtung umkehren</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="375"/>
        <source>Device address</source>
        <translation>Geräteadresse</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="398"/>
        <source>Time to leave</source>
        <translation>Haltezeit</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="417"/>
        <source> ms</source>
        <translation> ms</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="424"/>
        <source>Controller Kp</source>
        <translation>Regler Kp</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="450"/>
        <location filename="../../device/ui/escsettingspage.cpp" line="333"/>
        <source>Controller Kff</source>
        <translation>Regler Kff</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="496"/>
        <source>PWM input characteristic</source>
        <translation>PWM-Eingangskennlinie</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="514"/>
        <source>Import</source>
        <translation>Importieren</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="521"/>
        <source>Export</source>
        <translation>Exportieren</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="540"/>
        <source>Diagnostics</source>
        <translation>Diagnose</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="548"/>
        <source>Get errors</source>
        <translation>Fehler lesen</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="555"/>
        <source>Clear errors</source>
        <translation>Fehler löschen</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="564"/>
        <source>Get run data</source>
        <translation>Laufdaten lesen</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="571"/>
        <source>Get resistances</source>
        <translation>Widerstände lesen</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="578"/>
        <source>All</source>
        <translation>Alle</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="585"/>
        <source>Previous</source>
        <translation>Vorherige</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="592"/>
        <source>Last</source>
        <translation>Letzte</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="599"/>
        <source>Last run</source>
        <translation>Letzter Lauf</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.ui" line="606"/>
        <source>Resistances</source>
        <translation>Widerstände</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.cpp" line="326"/>
        <source>Controller Ki</source>
        <translation>Regler Ki</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.cpp" line="579"/>
        <location filename="../../device/ui/escsettingspage.cpp" line="597"/>
        <source>Choose params</source>
        <translation>Parameter wählen</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.cpp" line="580"/>
        <location filename="../../device/ui/escsettingspage.cpp" line="598"/>
        <source>XML Files (*.xml)</source>
        <translation>XML-Dateien (*.xml)</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.cpp" line="587"/>
        <location filename="../../device/ui/escsettingspage.cpp" line="603"/>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.cpp" line="588"/>
        <source>File saving failed!</source>
        <translation>Speichern der Datei fehlgeschlagen!</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.cpp" line="591"/>
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.cpp" line="592"/>
        <source>Settings are exported.</source>
        <translation>Die Einstellungen wurden exportiert.</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.cpp" line="604"/>
        <source>File opening failed!</source>
        <translation>Öffnen der Datei fehlgeschlagen!</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.cpp" line="610"/>
        <source>Content</source>
        <translation>Inhalt</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.cpp" line="611"/>
        <source>File not contain settings!</source>
        <translation>Die Datei enthält keine Einstellungen!</translation>
    </message>
    <message>
        <location filename="../../device/ui/escsettingspage.cpp" line="625"/>
        <source>Values out of range were limited: %1</source>
        <translation>Werte außerhalb des Bereichs wurden begrenzt: %1</translation>
    </message>
</context>
<context>
    <name>EscSettingsText</name>
    <message>
        <location filename="../../device/escsettingstext.cpp" line="12"/>
        <source>Errors</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <location filename="../../device/escsettingstext.cpp" line="13"/>
        <source>Warns</source>
        <translation>Warnungen</translation>
    </message>
    <message>
        <location filename="../../device/escsettingstext.cpp" line="39"/>
        <source>Max temp ESC</source>
        <translation>Max. Temperatur Regler</translation>
    </message>
    <message>
        <location filename="../../device/escsettingstext.cpp" line="41"/>
        <source>Max temp Motor</source>
        <translation>Max. Temperatur Motor</translation>
    </message>
    <message>
        <location filename="../../device/escsettingstext.cpp" line="43"/>
        <source>Avg current</source>
        <translation>Mittlerer Strom</translation>
    </message>
    <message>
        <location filename="../../device/escsettingstext.cpp" line="45"/>
        <source>Max current</source>
        <translation>Max. Strom</translation>
    </message>
    <message>
        <location filename="../../device/escsettingstext.cpp" line="54"/>
        <source>Phase A</source>
        <translation>Phase A</translation>
    </message>
    <message>
        <location filename="../../device/escsettingstext.cpp" line="55"/>
        <source>Phase B</source>
        <translation>Phase B</translation>
    </message>
    <message>
        <location filename="../../device/escsettingstext.cpp" line="56"/>
        <source>Phase C</source>
        <translation>Phase C</translation>
    </message>
    <message>
        <location filename="../../device/escsettingstext.cpp" line="57"/>
        <source>Global</source>
        <translation>Gesamt</translation>
    </message>
</context>
<context>
    <name>IdSteps</name>
    <message>
        <location filename="../../ident/idsteps.cpp" line="19"/>
        <source>No movement</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="20"/>
        <location filename="../../ident/idsteps.cpp" line="41"/>
        <source>The motor is not spinning!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="20"/>
        <source>The motor produces high-frequency noise</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="21"/>
        <location filename="../../ident/idsteps.cpp" line="42"/>
        <source>The motor is spinning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="22"/>
        <location filename="../../ident/idsteps.cpp" line="38"/>
        <location filename="../../ident/idsteps.cpp" line="43"/>
        <source>Help, motor spins</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="24"/>
        <source>Acceleration</source>
        <translation type="unfinished">Beschleunigung</translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="25"/>
        <location filename="../../ident/idsteps.cpp" line="30"/>
        <location filename="../../ident/idsteps.cpp" line="36"/>
        <source>The motor is spinning!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="25"/>
        <source>The motor speed increases</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="26"/>
        <location filename="../../ident/idsteps.cpp" line="32"/>
        <source>The motor is not spinning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="27"/>
        <location filename="../../ident/idsteps.cpp" line="33"/>
        <source>Help, motor not spins</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="29"/>
        <source>Variable speed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="31"/>
        <source>The motor speed can oscillate, but the motor does not stop.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="35"/>
        <source>Decelaration</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="36"/>
        <source>The motor speed is decreasing to stop.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="37"/>
        <source>At the start, the motor is not spinning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="37"/>
        <source>At the end, the motor is spinning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="40"/>
        <source>Finish</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../ident/idsteps.cpp" line="41"/>
        <source>The identification is complete.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <location filename="../../app/mainwindow.ui" line="43"/>
        <location filename="../../app/mainwindow.cpp" line="402"/>
        <source>Select Port ...</source>
        <translation>Schnittstelle wählen ...</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.ui" line="72"/>
        <source>No Device</source>
        <translation>Kein Gerät</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.ui" line="101"/>
        <source>Disconnected</source>
        <translation>Getrennt</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.ui" line="139"/>
        <source>Welcome</source>
        <translation>Willkommen</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.ui" line="173"/>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.ui" line="207"/>
        <source>Motor</source>
        <translation>Motor</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.ui" line="241"/>
        <source>Control</source>
        <translation>Steuerung</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.ui" line="275"/>
        <source>Firmware</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.ui" line="323"/>
        <source>&lt;h2&gt;Kordo manager&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Kordo manager&lt;/h2&gt;</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.ui" line="333"/>
        <source>Connect the controller through its USB serial adapter. The program finds it on its own; choose the port with the port button when it cannot.
ESC settings: PWM input, motion and controller gains, diagnostics and the settings file.
Motor: the motor database and the motor identification.
Control: live telemetry and the duty command.
Firmware: updating the controller.</source>
        <translation>Verbinden Sie den Regler über seinen USB-Seriell-Adapter. Das Programm findet ihn selbst; wählen Sie die Schnittstelle mit der Schnittstellen-Taste, wenn es das nicht kann.
Reglereinstellungen: PWM-Eingang, Bewegung und Reglerverstärkungen, Diagnose und die Einstellungsdatei.
Motor: die Motordatenbank und die Motoridentifikation.
Steuerung: Live-Telemetrie und die Tastgradvorgabe.
Firmware: Aktualisieren des Reglers.</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.ui" line="356"/>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.cpp" line="338"/>
        <source>No port is available</source>
        <translation>Keine Schnittstelle verfügbar</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.cpp" line="345"/>
        <source>Select Zorbel Port</source>
        <translation>Zorbel-Schnittstelle wählen</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.cpp" line="345"/>
        <source>Select Port</source>
        <translation>Schnittstelle wählen</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.cpp" line="346"/>
        <source>Port:</source>
        <translation>Schnittstelle:</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.cpp" line="371"/>
        <source>Connection change</source>
        <translation>Verbindungswechsel</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.cpp" line="371"/>
        <source>Do you want to change current conection?</source>
        <translation>Möchten Sie die aktuelle Verbindung wechseln?</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.cpp" line="402"/>
        <source>Connecting ...</source>
        <translation>Verbinde ...</translation>
    </message>
    <message>
        <location filename="../../app/mainwindow.cpp" line="413"/>
        <source>Actually device is in communication mode. Do you run device?</source>
        <translation>Das Gerät ist im Kommunikationsmodus. Soll das Gerät gestartet werden?</translation>
    </message>
</context>
<context>
    <name>MotorBackupCommand</name>
    <message>
        <location filename="../../app/motorbackupcommand.cpp" line="25"/>
        <source>Export failed!</source>
        <translation>Export fehlgeschlagen!</translation>
    </message>
    <message>
        <location filename="../../app/motorbackupcommand.cpp" line="27"/>
        <location filename="../../app/motorbackupcommand.cpp" line="83"/>
        <source>The database directory cannot be used.</source>
        <translation>Das Datenbankverzeichnis ist nicht nutzbar.</translation>
    </message>
    <message>
        <location filename="../../app/motorbackupcommand.cpp" line="35"/>
        <source>The motor list cannot be read.</source>
        <translation>Die Motorliste kann nicht gelesen werden.</translation>
    </message>
    <message>
        <location filename="../../app/motorbackupcommand.cpp" line="45"/>
        <source>There is no motor named &quot;%1&quot;.</source>
        <translation>Es gibt keinen Motor namens „%1“.</translation>
    </message>
    <message>
        <location filename="../../app/motorbackupcommand.cpp" line="54"/>
        <source>The file %1 cannot be written: %2</source>
        <translation>Die Datei %1 kann nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <location filename="../../app/motorbackupcommand.cpp" line="59"/>
        <source>A motor cannot be read or written to the file.</source>
        <translation>Ein Motor kann nicht gelesen oder in die Datei geschrieben werden.</translation>
    </message>
    <message numerus="yes">
        <location filename="../../app/motorbackupcommand.cpp" line="60"/>
        <source>Exported %n motor(s) to %1.</source>
        <translation>
            <numerusform>%n Motor nach %1 exportiert.</numerusform>
            <numerusform>%n Motoren nach %1 exportiert.</numerusform>
        </translation>
    </message>
    <message>
        <location filename="../../app/motorbackupcommand.cpp" line="66"/>
        <source>Import failed!</source>
        <translation>Import fehlgeschlagen!</translation>
    </message>
    <message>
        <location filename="../../app/motorbackupcommand.cpp" line="69"/>
        <source>The file %1 cannot be opened: %2</source>
        <translation>Die Datei %1 kann nicht geöffnet werden: %2</translation>
    </message>
    <message>
        <location filename="../../app/motorbackupcommand.cpp" line="73"/>
        <source>The file is too large to be a motor file.</source>
        <translation>Die Datei ist zu groß für eine Motordatei.</translation>
    </message>
    <message>
        <location filename="../../app/motorbackupcommand.cpp" line="80"/>
        <source>The file is damaged: %1</source>
        <translation>Die Datei ist beschädigt: %1</translation>
    </message>
    <message>
        <location filename="../../app/motorbackupcommand.cpp" line="89"/>
        <source>The database refused the motors.</source>
        <translation>Die Datenbank hat die Motoren abgelehnt.</translation>
    </message>
    <message numerus="yes">
        <location filename="../../app/motorbackupcommand.cpp" line="94"/>
        <source>Imported %n motor(s) from %1, replacing the motor list.</source>
        <translation>
            <numerusform>%n Motor aus %1 importiert; er ersetzt die Motorliste.</numerusform>
            <numerusform>%n Motoren aus %1 importiert; sie ersetzen die Motorliste.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <location filename="../../app/motorbackupcommand.cpp" line="95"/>
        <source>Imported %n motor(s) from %1, added to the motor list.</source>
        <translation>
            <numerusform>%n Motor aus %1 importiert und zur Motorliste hinzugefügt.</numerusform>
            <numerusform>%n Motoren aus %1 importiert und zur Motorliste hinzugefügt.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <location filename="../../app/motorbackupcommand.cpp" line="97"/>
        <source>The database holds %n motor(s).</source>
        <translation>
            <numerusform>Die Datenbank enthält %n Motor.</numerusform>
            <numerusform>Die Datenbank enthält %n Motoren.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>MotorFileExchange</name>
    <message>
        <location filename="../../motors/motorfileexchange.cpp" line="73"/>
        <source>Export failed!</source>
        <translation>Export fehlgeschlagen!</translation>
    </message>
    <message>
        <location filename="../../motors/motorfileexchange.cpp" line="79"/>
        <source>Import failed!</source>
        <translation>Import fehlgeschlagen!</translation>
    </message>
</context>
<context>
    <name>MotorLibrary</name>
    <message>
        <location filename="../../motors/motorlibrary.cpp" line="12"/>
        <source>Motor was saved to database!</source>
        <translation>Der Motor wurde in der Datenbank gespeichert!</translation>
    </message>
    <message>
        <location filename="../../motors/motorlibrary.cpp" line="13"/>
        <source>Problem with database!</source>
        <translation>Problem mit der Datenbank!</translation>
    </message>
    <message>
        <location filename="../../motors/motorlibrary.cpp" line="14"/>
        <source>This name exists or is not valid</source>
        <translation>Dieser Name existiert bereits oder ist ungültig</translation>
    </message>
</context>
<context>
    <name>MotorPage</name>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="16"/>
        <source>Motor list</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="22"/>
        <source>Actual motor</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="36"/>
        <source>Motor hours</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="69"/>
        <source>Motor</source>
        <translation type="unfinished">Motor</translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="74"/>
        <source>Stored</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="84"/>
        <source>Write the selected motor into the controller</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="87"/>
        <source>Set motor</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="94"/>
        <source>Rename the selected motor</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="97"/>
        <source>Rename</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="104"/>
        <source>Remove the selected motor from the list</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="107"/>
        <source>Remove</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="121"/>
        <source>Save motors to a motor file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="124"/>
        <source>Export</source>
        <translation type="unfinished">Exportieren</translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="131"/>
        <source>Load motors from a motor file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="134"/>
        <source>Import</source>
        <translation type="unfinished">Importieren</translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="146"/>
        <source>Motor data</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="152"/>
        <source>Max current [A]</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="169"/>
        <source>Kv  [rpm/V]</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="186"/>
        <source>LiPo cells</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="200"/>
        <source>Pole pairs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="214"/>
        <source>NoLoadCurrent</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="234"/>
        <source>&lt;b&gt;Max current &lt;/b&gt;&lt;i&gt;(from motor specification)&lt;/i&gt;&lt;br&gt;- Continous max current in A&lt;br&gt;&lt;br&gt;&lt;b&gt;Kv &lt;/b&gt;&lt;i&gt;(from motor specification)&lt;/i&gt;&lt;br&gt;- Motor velocity constant in rpm/V&lt;br&gt;&lt;br&gt;&lt;b&gt;LiPo cells &lt;/b&gt;&lt;i&gt;(user choice)&lt;/i&gt;&lt;br&gt;- Operating voltage given by Lipo cell (4.2V)&lt;br&gt;- Example: 6 =&amp;gt; 6S LiPo = 4.2*6 = 25.2 V&lt;br&gt;&lt;br&gt;&lt;b&gt;Pole pairs &lt;/b&gt;&lt;i&gt;(from motor specification)&lt;/i&gt;&lt;br&gt;- Pole number of permanent magnet in motor&lt;br&gt;- Example: 7 =&amp;gt; 12N14P, 14 poles, 7 pole pairs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="257"/>
        <source>The motor identification comes in a later version of the program.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.ui" line="260"/>
        <source>Identify motor</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="73"/>
        <source>Error</source>
        <translation type="unfinished">Fehler</translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="142"/>
        <source>Device is running</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="145"/>
        <source>Bootloader mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="148"/>
        <source>Device is disconnected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="156"/>
        <location filename="../../motors/ui/motorpage.cpp" line="178"/>
        <location filename="../../motors/ui/motorpage.cpp" line="200"/>
        <source>No motor is selected!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="167"/>
        <source>Problem. Motor is not set!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="171"/>
        <source>Motor is set</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="182"/>
        <source>Rename motor</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="182"/>
        <source>New motor name:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="214"/>
        <source>Which motor to save to the file?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="228"/>
        <location filename="../../motors/ui/motorpage.cpp" line="238"/>
        <source>Export failed!</source>
        <translation type="unfinished">Export fehlgeschlagen!</translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="234"/>
        <source>Save motors</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="234"/>
        <location filename="../../motors/ui/motorpage.cpp" line="243"/>
        <source>MS Files (*.ms)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="243"/>
        <source>Load motors</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="247"/>
        <source>What operation to perform on the original motor list?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../motors/ui/motorpage.cpp" line="251"/>
        <source>Import failed!</source>
        <translation type="unfinished">Import fehlgeschlagen!</translation>
    </message>
</context>
<context>
    <name>ParamsHelper</name>
    <message>
        <location filename="../../device/paramshelper.cpp" line="185"/>
        <location filename="../../device/paramshelper.cpp" line="193"/>
        <source>Device did not confirm the settings</source>
        <translation>Das Gerät hat die Einstellungen nicht bestätigt</translation>
    </message>
    <message>
        <location filename="../../device/paramshelper.cpp" line="245"/>
        <source>Error log was cleared</source>
        <translation>Das Fehlerprotokoll wurde gelöscht</translation>
    </message>
    <message>
        <location filename="../../device/paramshelper.cpp" line="247"/>
        <source>Problem with clearing of error log</source>
        <translation>Problem beim Löschen des Fehlerprotokolls</translation>
    </message>
    <message>
        <location filename="../../device/paramshelper.cpp" line="362"/>
        <source>Device is not connected</source>
        <translation>Das Gerät ist nicht verbunden</translation>
    </message>
</context>
<context>
    <name>PendingPage</name>
    <message>
        <location filename="../../app/mainwindow.cpp" line="188"/>
        <source>Firmware update</source>
        <translation>Firmware-Aktualisierung</translation>
    </message>
    <message>
        <location filename="../../app/pendingpage.cpp" line="29"/>
        <source>%1: coming in a later version of the program.</source>
        <translation>%1: kommt in einer späteren Version des Programms.</translation>
    </message>
</context>
<context>
    <name>PingHelper</name>
    <message>
        <location filename="../../device/pinghelper.cpp" line="199"/>
        <source>Stalled motor</source>
        <translation>Motor blockiert</translation>
    </message>
    <message>
        <location filename="../../device/pinghelper.cpp" line="201"/>
        <source>Error occured</source>
        <translation>Ein Fehler ist aufgetreten</translation>
    </message>
</context>
<context>
    <name>SimulatedPort</name>
    <message>
        <location filename="../../sim/simulatedport.cpp" line="41"/>
        <source>The simulated controller is gone</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>StorageBackWorker</name>
    <message>
        <location filename="../../recording/storagebackworker.cpp" line="91"/>
        <source>no sample directory</source>
        <translation>kein Messdatenverzeichnis</translation>
    </message>
    <message>
        <location filename="../../recording/storagebackworker.cpp" line="93"/>
        <source>the directory cannot be created</source>
        <translation>das Verzeichnis kann nicht angelegt werden</translation>
    </message>
    <message>
        <location filename="../../recording/storagebackworker.cpp" line="115"/>
        <source>%1 telemetry samples are not written to %2: %3</source>
        <translation>%1 Telemetriewerte wurden nicht nach %2 geschrieben: %3</translation>
    </message>
</context>
</TS>

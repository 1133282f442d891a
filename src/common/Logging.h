#pragma once
// The program's logging categories. Warnings are on, debug and info lines off, until the
// environment asks for more, for example
//   QT_LOGGING_RULES="zentlog.serial.debug=true"        every request and reply of the line
//   QT_LOGGING_RULES="zentlog.*.debug=true"             everything
// Use: qCDebug(lcSerial) << ...; qCWarning(lcDiagnostics) << ...;

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcSerial)      // "zentlog.serial": the port, requests and replies
Q_DECLARE_LOGGING_CATEGORY(lcMeasure)     // "zentlog.measure": measurement cycles
Q_DECLARE_LOGGING_CATEGORY(lcHistory)     // "zentlog.history": the recorder and the export
Q_DECLARE_LOGGING_CATEGORY(lcDiagnostics) // "zentlog.diagnostics": counters and the frame trace
Q_DECLARE_LOGGING_CATEGORY(lcConfig)      // "zentlog.config": config.txt, PortCom.dat, zentlog.ini
Q_DECLARE_LOGGING_CATEGORY(lcLogger)      // "zentlog.logger": logger files and their extraction
Q_DECLARE_LOGGING_CATEGORY(lcApp)         // "zentlog.app": the program and its windows
Q_DECLARE_LOGGING_CATEGORY(lcPublish)     // "zentlog.publish": the MQTT publisher
// "zentlog.station": zentlog-station's account of itself (start, inputs and port changing state,
// reloads); its info lines are on, since the journal is where a service is watched.
Q_DECLARE_LOGGING_CATEGORY(lcStation)

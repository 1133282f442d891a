#include "common/Logging.h"

// QtWarningMsg: warnings and critical messages are shown by default, debug and info only when a
// logging rule turns them on.
Q_LOGGING_CATEGORY(lcSerial, "zentlog.serial", QtWarningMsg)
Q_LOGGING_CATEGORY(lcMeasure, "zentlog.measure", QtWarningMsg)
Q_LOGGING_CATEGORY(lcHistory, "zentlog.history", QtWarningMsg)
Q_LOGGING_CATEGORY(lcDiagnostics, "zentlog.diagnostics", QtWarningMsg)
Q_LOGGING_CATEGORY(lcConfig, "zentlog.config", QtWarningMsg)
Q_LOGGING_CATEGORY(lcLogger, "zentlog.logger", QtWarningMsg)
Q_LOGGING_CATEGORY(lcApp, "zentlog.app", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPublish, "zentlog.publish", QtWarningMsg)
Q_LOGGING_CATEGORY(lcStation, "zentlog.station", QtInfoMsg)

#pragma once

#include <QObject>
#include <QString>

#include <functional>

// The handler types of the socket client's events. An empty function is an unset handler
// and is skipped.

// Something happened to the sender.
using NotifyEvent = std::function<void(QObject *sender)>;
// Something stands in the way: the handler may mend it (connect, change the host or the
// name) and set retry to have it tried once more. Left false, the caller fails.
using RetryEvent = std::function<void(bool &retry)>;
// A status text passed the client's ReportLevel.
using StatusEvent = std::function<void(QObject *sender, const QString &status)>;
// A socket call failed: its error number and the text LookupErrorText gives for it.
using ErrorEvent = std::function<void(QObject *sender, quint16 error, const QString &text)>;

#pragma once

#include <QObject>
#include <QString>

#include <functional>

// Event types of the socket client. An empty function is an unset handler and is skipped.
using TNotifyEvent = std::function<void(QObject *Sender)>;
using THandlerEvent = std::function<void(bool &Handled)>;
using TOnStatus = std::function<void(QObject *Sender, const QString &Status)>;
using TOnHostResolved = std::function<void(QObject *Sender)>;
using TOnErrorEvent = std::function<void(QObject *Sender, quint16 Errno, const QString &Errmsg)>;

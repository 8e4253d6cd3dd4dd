#pragma once

#include <QGuiApplication>
#include <QScopeGuard>

// Runs work under a busy cursor (a large HEIC photo takes a second or more to read, all of
// it on this thread); the cursor is put back however the work ends, by an exception too.
template <typename Work> auto WhileBusy(Work work)
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restore = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
    return work();
}

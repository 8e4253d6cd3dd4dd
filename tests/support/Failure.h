#pragma once

#include "platform/Exception.h"
#include "support/Printers.h" // a message that differs prints as text

#include <QString>

// The message of the exception of type E that the call throws, or `none` when it throws nothing.
template <typename E = Exception, typename Call> QString FailureOf(Call call, const QString &none = QString())
{
    try {
        call();
    } catch (const E &e) {
        return e.Message;
    }
    return none;
}

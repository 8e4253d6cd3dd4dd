#include "platform/Command.h"

#include "platform/Exception.h"
#include "platform/MsgBox.h"

#include <QCoreApplication>

#include <new>

void RunCommand(const std::function<void()> &command)
{
    try {
        command();
    } catch (const Exception &e) {
        ErrorBox(e.Message);
    } catch (const std::bad_alloc &) {
        ErrorBox(QCoreApplication::translate("Command", "メモリが足りません。"));
    } catch (const std::exception &e) {
        ErrorBox(QString::fromUtf8(e.what()));
    }
}

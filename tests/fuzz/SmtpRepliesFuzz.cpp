// libFuzzer target for the reading of SMTP replies: any bytes from a server are read line by line into replies of
// continuation lines, or fail with an Exception; what is kept of a reply stays within its bounds.
#include "mail/SmtpClient.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Not connected: a read ends with the bytes the server sent, as when it has hung up after them.
    SmtpClient client;
    client.ReceiveBuffer = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
    for (;;) {
        QList<QByteArray> lines;
        try {
            QByteArray reply = client.ReadLn();
            client.ReadContinuationLines(reply, lines);
        } catch (const Exception &) {
            return 0;
        }
        if (lines.isEmpty() || lines.size() > SmtpClient::MaxContinuationLines + 1)
            std::abort();
        for (const QByteArray &line : lines)
            if (line.size() > SmtpClient::MaxReplyLine + 1)
                std::abort();
    }
}

// libFuzzer target for the reading of SMTP replies: any bytes from a server read line by line into replies of
// continuation lines, or fail with an Exception; what is kept of a reply stays within its bounds.
#include "mail/SmtpClient.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    SmtpClient client; // not connected: the reads end with what the server sent, as when it hung up after it
    client.ReceiveBuffer = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        for (;;) {
            QList<QByteArray> lines;
            QByteArray reply = client.ReadLn();
            client.ReadContinuationLines(reply, lines);
            if (lines.isEmpty() || lines.size() > SmtpClient::MaxContinuationLines + 1 ||
                std::any_of(lines.begin(), lines.end(),
                            [](const QByteArray &line) { return line.size() > SmtpClient::MaxReplyLine + 1; }))
                std::abort();
        }
    } catch (const Exception &) {
    }
    return 0;
}

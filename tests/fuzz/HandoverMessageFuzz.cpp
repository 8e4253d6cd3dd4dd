// libFuzzer target for the message a later start hands to the running kelvo. Any bytes read as incomplete (only
// while shorter than the longest message, and every start of a complete one), invalid or complete; a complete one is
// what a start makes of what it holds, and any path keeps its bytes, UTF-8 or not.
#include "app/HandoverMessage.h"
#include "platform/FileName.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView received(reinterpret_cast<const char *>(data), qsizetype(size));
    HandedOver handed, again;
    const MessageRead read = ReadHandoverMessage(received, handed);
    const QByteArray message = HandoverMessage(handed);
    if (FileNameToBytes(FileNameFromBytes(received)) != received ||
        (read == MessageRead::Incomplete && received.size() >= MaxHandoverMessageBytes) ||
        (read == MessageRead::Complete &&
         (!received.startsWith(message) || ReadHandoverMessage(message, again) != MessageRead::Complete ||
          again.Picture != handed.Picture || again.LaunchToken != handed.LaunchToken)))
        std::abort();
    // Every piece a complete message may arrive in so far is only incomplete.
    for (qsizetype n = 0; read == MessageRead::Complete && n < message.size(); ++n)
        if (ReadHandoverMessage(QByteArrayView(message).first(n), again) != MessageRead::Incomplete)
            std::abort();
    return 0;
}

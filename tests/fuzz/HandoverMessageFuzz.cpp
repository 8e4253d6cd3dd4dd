// libFuzzer target for the message a later start hands to the running kelvo. Any bytes read as incomplete (only
// while shorter than the longest message; never refused when a complete one is cut short), invalid or complete; a
// complete one is what a start makes of what it holds, and any path keeps its bytes, UTF-8 or not.
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
    // No start of a complete message, however it was cut on its way, is refused (one that ends
    // with the path, before the launch token, is itself complete).
    for (qsizetype n = 0; read == MessageRead::Complete && n < message.size(); ++n)
        if (ReadHandoverMessage(QByteArrayView(message).first(n), again) == MessageRead::Invalid)
            std::abort();
    return 0;
}

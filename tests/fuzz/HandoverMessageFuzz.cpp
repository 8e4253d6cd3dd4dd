// libFuzzer target for the message a later start hands to the running kelvo. Any bytes are read as incomplete
// (only while shorter than the longest message), invalid or complete; a complete one is the message a start makes
// of what it holds, and its path keeps its bytes, UTF-8 or not.
#include "app/HandoverMessage.h"
#include "platform/FileName.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView received(reinterpret_cast<const char *>(data), qsizetype(size));
    if (FileNameToBytes(FileNameFromBytes(received)) != received)
        std::abort();
    HandedOver handed;
    switch (ReadHandoverMessage(received, handed)) {
    case MessageRead::Incomplete:
        if (received.size() >= MaxHandoverMessageBytes)
            std::abort(); // a peer could hold the connection for ever
        break;
    case MessageRead::Invalid:
        break;
    case MessageRead::Complete: {
        HandedOver again;
        const QByteArray message = HandoverMessage(handed);
        if (ReadHandoverMessage(message, again) != MessageRead::Complete || again.Picture != handed.Picture ||
            again.LaunchToken != handed.LaunchToken || !received.startsWith(message))
            std::abort();
        break;
    }
    }
    return 0;
}

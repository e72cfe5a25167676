// Any bytes from a socket peer, arriving in arbitrary chunks: readHttp must neither crash nor
// overrun its limits, as a request reader (the host) and as a response reader (the bridge).
//
// Input layout: byte 0 picks request or response; byte 1 the chunk size; the rest is what the
// peer sends, in chunks of that size, before it closes.
#include "AssistantShared.h"

#include <cstdlib>
#include <memory>
#include <thread>

#include <sys/socket.h>

using namespace velto::assistant;

namespace
{
/** Budget per input: long enough for loopback, short enough to keep the fuzzer fast. */
constexpr int readBudgetMs = 200;

juce::StreamingSocket& listener()
{
    static juce::StreamingSocket socket;
    static const bool listening = socket.createListener (0, "127.0.0.1");
    (void) listening;
    return socket;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;

    const bool isRequest = (data[0] & 1) != 0;
    const size_t chunk = 1 + data[1];
    const auto* bytes = reinterpret_cast<const char*> (data + 2);
    const size_t length = size - 2;

    juce::StreamingSocket reader;

    if (! reader.connect ("127.0.0.1", listener().getBoundPort(), 1000))
        return 0;

    std::unique_ptr<juce::StreamingSocket> peer (listener().waitForNextConnection());

    if (peer == nullptr)
        return 0;

    std::thread writer ([&]
    {
        for (size_t sent = 0; sent < length;)
        {
            const auto n = ::send (peer->getRawSocketHandle(), bytes + sent, std::min (chunk, length - sent), MSG_NOSIGNAL);

            if (n <= 0)
                break;

            sent += (size_t) n;
        }

        peer->close();
    });

    HttpMessage message;
    const bool ok = readHttp (reader, message, isRequest, readBudgetMs);
    reader.close();
    writer.join();

    if (ok && message.body.getNumBytesAsUTF8() > (size_t) (maxHttpBodyBytes + httpReadChunkBytes) * 3)
        std::abort();   // U+FFFD can triple a byte, but nothing more

    if (! ok && message.body.isNotEmpty())
        std::abort();   // the body is only ever set on success

    return 0;
}

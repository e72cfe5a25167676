// Any endpoint file content: readEndpoint never fails in any way but the empty result, and what
// it returns is always usable.
#include "AssistantShared.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    static const auto file = juce::File::createTempFile ("velto-fuzz-endpoint.json");
    file.replaceWithData (data, size);

    if (const auto endpoint = velto::assistant::readEndpoint (file))
        if (endpoint->port < 1 || endpoint->port > 65535 || endpoint->token.length() < 32)
            std::abort();

    return 0;
}

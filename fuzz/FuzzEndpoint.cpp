// Any endpoint file content: parseEndpoint never fails in any way but the empty result, and what
// it returns is always usable.
#include <velto_assistant/velto_assistant.h>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const std::string_view bytes (reinterpret_cast<const char*> (data), size);

    if (const auto endpoint = velto::assistant::parseEndpoint (bytes))
        if (endpoint->port < 1 || endpoint->port > 65535 || endpoint->token.length() < 32)
            std::abort();

    return 0;
}

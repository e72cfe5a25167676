// Any line on stdin, offline: what the bridge writes must be valid UTF-8 JSON on one line, at
// most one line per input line, each a JSON-RPC message or batch, and nothing on stderr.
#include "Bridge.h"

#include <cstdlib>

using namespace velto;

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    // The loop splits stdin at LF; one fuzz input is one line
    std::string_view line (reinterpret_cast<const char*> (data), size);
    line = line.substr (0, line.find ('\n'));
    const auto text = bridge::lineText (line);

    if (text.empty())
        return 0;

    int replies = 0;
    const bridge::Output output {
        [&] (const juce::var& reply)
        {
            ++replies;
            const auto json = assistant::toJson (reply);
            const auto* utf8 = json.toRawUTF8();
            const auto bytes = json.getNumBytesAsUTF8();

            if (! juce::CharPointer_UTF8::isValidString (utf8, (int) bytes) || json.containsChar ('\n'))
                std::abort();

            juce::var back;

            if (! assistant::parseJson (json, back) || ! (back.isObject() || back.isArray()))
                std::abort();

            const auto first = back.isArray() ? back[0] : back;

            if (first.getProperty ("jsonrpc", {}).toString() != "2.0" || ! first.getDynamicObject()->hasProperty ("id"))
                std::abort();
        },
        [] (const juce::String&) { std::abort(); }   // offline there is nothing to diagnose
    };

    bridge::handle (text, bridge::offlineForwarder(), output);

    if (replies > 1)
        std::abort();

    return 0;
}

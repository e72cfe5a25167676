// Any line on stdin, offline: what the bridge writes must be valid UTF-8 JSON on one line, at
// most one line per input line, each a JSON-RPC message or batch, and nothing on stderr. And
// the one-pass rewrite that relays a line must give exactly what parsing and writing it give.
#include "Bridge.h"

#include <cstdlib>

using namespace velto;

namespace
{
void check (bool condition)
{
    if (! condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    // The loop splits stdin at LF; one fuzz input is one line
    std::string_view line (reinterpret_cast<const char*> (data), size);
    line = line.substr (0, line.find ('\n'));

    // Any text at all, not only a line: the rewrite takes exactly what parsing takes, and gives
    // what parsing and then writing give, a name given twice included
    const std::string_view text (reinterpret_cast<const char*> (data), size);
    std::string rewritten;
    juce::var parsed;
    const bool parsedOk = assistant::parseJson (text, parsed);

    check (assistant::rewriteJson (text, rewritten) == parsedOk);
    check (! parsedOk || rewritten == assistant::toJson (parsed).toStdString());

    // The envelopes succeed and fail exactly where parsing does: as a message, and as its params,
    // whose members are read in runs of their own
    juce::var envelopes, unused;
    check (assistant::parseEnvelopes (text, envelopes) == parsedOk);
    const auto asParams = "{\"params\":" + std::string (text) + "}";
    check (assistant::parseEnvelopes (asParams, envelopes) == assistant::parseJson (std::string_view (asParams), unused));

    const auto trimmed = bridge::lineText (line);

    if (trimmed.empty())
        return 0;

    // Offline, every line gets one reply or none, and nothing to diagnose
    const auto [reply, diagnostic] = bridge::handle (trimmed, {});
    check (diagnostic.isEmpty());

    if (! reply.empty())
    {
        check (juce::CharPointer_UTF8::isValidString (reply.data(), (int) reply.size()) && reply.find ('\n') == std::string::npos);

        juce::var back;
        check (assistant::parseJson (std::string_view (reply), back) && (back.isObject() || back.isArray()));

        const auto first = back.isArray() ? back[0] : back;
        check (first.getProperty ("jsonrpc", {}).toString() == "2.0" && first.getDynamicObject()->hasProperty ("id"));
    }

    return 0;
}

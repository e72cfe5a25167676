// Any bytes of one request to the reference host, handled as its server handles them: framed,
// refused from the head or answered by the demo session. What it would write back must be one
// whole response that the bridge can read: a known status, a body within the limit, and for a
// 200 a JSON object or array.
#include "DemoSession.h"

#include <cstdlib>

using namespace velto::assistant;

namespace
{
/** The token of the seeds, so that the fuzzer starts past the refusals. */
const juce::String token = "0123456789abcdef0123456789abcdef";

void check (bool condition)
{
    if (! condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    static velto::host::DemoSession session;
    static const MessageHandler answerOne = [] (const juce::var& message) { return session.answer (message); };

    // The peer has sent these bytes and closed, as the server's loop would see them at the end
    HttpMessage request;
    const auto frame = frameHttp (std::string_view (reinterpret_cast<const char*> (data), size), true, true, &request);
    juce::String response;

    if (frame.headBytes > 0)
        if (const auto status = refusalStatus (request, token))
            response = httpResponse (status, {}, {});

    if (response.isEmpty() && frame.status == HttpFrame::Status::complete)
        response = answerRequest (request, token, answerOne);

    if (response.isEmpty())
        return 0;   // nothing to answer: the connection is closed

    HttpMessage answer;
    const auto bytes = response.toStdString();
    check (frameHttp (bytes, false, true, &answer).status == HttpFrame::Status::complete);
    check (answer.body.getNumBytesAsUTF8() <= (size_t) maxHttpBodyBytes);

    switch (answer.status)
    {
        case 200:
        {
            juce::var reply;
            check (parseJson (answer.body, reply) && (reply.isObject() || reply.isArray()));
            break;
        }
        case 202: case 400: case 401: case 403: case 404: case 405: case 413: case 500: break;
        default: check (false);
    }

    return 0;
}

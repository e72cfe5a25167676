// Any bytes of one HTTP message, framed as readHttp frames them: whole, and split into reads of
// the sizes that the input picks. Neither may crash or overrun a limit, and wherever the split
// cannot matter (a head within its limit, a body within its cap) both must agree exactly.
//
// Input layout: byte 0 picks request or response; byte 1 seeds the sizes of the reads; the rest
// is what the peer sends before it closes.
#include "AssistantShared.h"

#include <cstdlib>

using namespace velto::assistant;

namespace
{
using Status = HttpFrame::Status;

struct Framed
{
    HttpFrame frame;
    HttpMessage message;
};

/** Feeds the bytes in reads of at most httpReadChunkBytes, as a socket would bring them. */
Framed frameInReads (std::string_view bytes, bool isRequest, unsigned seed)
{
    Framed result;
    size_t given = 0;

    for (;;)
    {
        const bool ended = given == bytes.size();
        result.frame = frameHttp (bytes.substr (0, given), isRequest, ended, result.message, result.frame);

        if (result.frame.status != Status::readMore)
            return result;

        // Read sizes from 1 to httpReadChunkBytes, changing with every read
        seed = seed * 1103515245u + 12345u;
        const size_t read = 1 + (seed >> 8) % (seed % 4 == 0 ? (unsigned) httpReadChunkBytes : 64u);
        given = std::min (bytes.size(), given + read);
    }
}

void check (bool condition)
{
    if (! condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;

    const bool isRequest = (data[0] & 1) != 0;
    const std::string_view bytes (reinterpret_cast<const char*> (data + 2), size - 2);

    Framed whole;
    whole.frame = frameHttp (bytes, isRequest, true, whole.message);
    Framed split = frameInReads (bytes, isRequest, data[1]);

    for (const Framed* framed : { &whole, &split })
    {
        check (framed->frame.status != Status::readMore);   // nothing more comes: a verdict is due
        check (framed->frame.status == Status::complete || framed->message.body.isEmpty());   // body only on success
        check (framed->frame.headBytes <= bytes.size());
        check (framed->frame.bodyBytes <= maxHttpBodyBytes || framed->frame.status == Status::failed);
    }

    // A split cannot turn a failure into a success
    if (whole.frame.status == Status::failed)
        check (split.frame.status == Status::failed);

    // Where no limit was in reach, the split changes nothing
    const bool withinLimits = whole.frame.status == Status::complete && whole.frame.headBytes <= (size_t) maxHttpHeadBytes
                           && (whole.frame.bodyBytes >= 0 || bytes.size() - whole.frame.headBytes <= (size_t) maxHttpBodyBytes);

    if (withinLimits)
    {
        check (split.frame.status == Status::complete && split.frame.headBytes == whole.frame.headBytes);
        check (split.message.body == whole.message.body && split.message.status == whole.message.status);
        check (split.message.method == whole.message.method && split.message.path == whole.message.path);
        check (split.message.headers == whole.message.headers);
    }

    return 0;
}

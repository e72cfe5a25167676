// Any bytes of one HTTP message, framed as readHttp frames them: whole, and split into reads of
// the sizes that the input picks. Neither may crash or overrun a limit, and wherever the split
// cannot matter (a head within its limit, a body within its cap) both must agree exactly.
//
// Input layout: byte 0 picks request or response (bit 0) and whether the whole message is also
// read into an HttpMessage (bits 1 and 2 both set), which costs what the framing alone does not:
// allocations;
// byte 1 seeds the sizes of the reads; the rest is what the peer sends before it closes.
#include <velto_assistant/AssistantInternal.h>

#include <cstdlib>

using namespace velto::assistant;

namespace
{
using Status = HttpFrame::Status;

/** Feeds the bytes in reads of at most httpReadChunkBytes, split where the seed says, as a
    socket would bring them; the framing alone. */
HttpFrame frameInReads (std::string_view bytes, bool isRequest, unsigned seed)
{
    HttpFrame frame;
    size_t given = 0;

    for (;;)
    {
        frame = frameHttp (bytes.substr (0, given), isRequest, given == bytes.size(), nullptr, frame);

        if (frame.status != Status::readMore)
            return frame;

        // From one byte to a whole read, changing with every read
        seed = seed * 1103515245u + 12345u;
        given = std::min (bytes.size(), given + 1 + (seed >> 8) % (unsigned) httpReadChunkBytes);
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

    const auto whole = frameHttp (bytes, isRequest, true, nullptr);
    const auto split = frameInReads (bytes, isRequest, data[1]);

    for (const auto& frame : { whole, split })
    {
        check (frame.status != Status::readMore);   // nothing more comes: a verdict is due
        check (frame.headBytes <= bytes.size());
        check (frame.bodyBytes <= maxHttpBodyBytes || frame.status == Status::failed);
    }

    // A split cannot turn a failure into a success, and where no limit was in reach it changes nothing
    if (whole.status == Status::failed)
        check (split.status == Status::failed);

    const bool withinLimits = whole.status == Status::complete && whole.headBytes <= (size_t) maxHttpHeadBytes
                           && (whole.bodyBytes >= 0 || bytes.size() - whole.headBytes <= (size_t) maxHttpBodyBytes);

    if (withinLimits)
        check (split.status == Status::complete && split.headBytes == whole.headBytes && split.bodyBytes == whole.bodyBytes);

    // Read into a message, the same bytes frame the same, and the body is there on success only
    if ((data[0] & 6) == 6)
    {
        HttpMessage message;
        const auto filled = frameHttp (bytes, isRequest, true, &message);
        check (filled.status == whole.status && filled.headBytes == whole.headBytes && filled.bodyBytes == whole.bodyBytes);
        check (filled.status == Status::complete || message.body.isEmpty());
        check (message.body.getNumBytesAsUTF8() <= (size_t) (maxHttpBodyBytes + httpReadChunkBytes) * 3);   // U+FFFD triples a byte at most
    }

    return 0;
}

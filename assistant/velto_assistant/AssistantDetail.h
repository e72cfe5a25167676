// The helpers that more than one of the module's sources use: deadlines, the retry of a call that
// a signal interrupted, one step of receiving or of sending on a socket, and the few text rules
// of HTTP heads.
// Internal to the module's sources and this project's programs: not part of its interface.
#pragma once

#include "AssistantPlatform.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <limits>
#include <string_view>

#include <poll.h>

namespace velto::assistant::detail
{
using Clock = std::chrono::steady_clock;

/** The time `timeoutMs` from now; a negative time out is none. */
inline Clock::time_point after (int timeoutMs)
{
    return Clock::now() + std::chrono::milliseconds (std::max (0, timeoutMs));
}

/** The milliseconds left until the deadline, for poll(): rounded up, so that a wait never ends
    just before the deadline with time left unused; 0 once it has passed. */
inline int millisecondsUntil (Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds> (deadline - Clock::now()).count();
    return (int) std::clamp<std::int64_t> (left, 0, std::numeric_limits<int>::max());
}

/** Calls `call` again for as long as it fails with EINTR, as a signal that arrives during a
    system call makes it: what it then returns, with errno as it left it. */
template <typename Call>
auto retryOnInterrupt (Call&& call)
{
    for (;;)
        if (const auto result = call(); result >= 0 || errno != EINTR)
            return result;
}

/** Waits until the handle is ready for `events`, or has failed, until the deadline. False when
    time ran out or poll() failed. */
inline bool waitFor (int handle, short events, Clock::time_point deadline)
{
    pollfd wait { handle, events, 0 };
    return retryOnInterrupt ([&] { return ::poll (&wait, 1, millisecondsUntil (deadline)); }) > 0;
}

/** Reads what the socket holds now, at most `size` bytes into `into`, never waiting: the count
    read; 0 when nothing has come yet; -1 once the peer has closed it, or it failed. */
inline long receiveSome (int handle, char* into, size_t size)
{
    const auto count = retryOnInterrupt ([&] { return ::recv (handle, into, size, MSG_DONTWAIT); });

    if (count > 0)
        return (long) count;

    return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
}

/** What one turn of sending gave. */
enum class Sent
{
    all,          // every byte has gone
    noRoomYet,    // the socket's buffer is full, or (macOS) the connection is still being made
    failed        // EPIPE, ECONNRESET, ECONNREFUSED and the like: nothing more will go
};

/** Sends what the socket takes now of the bytes after `sent`, which it moves on, never waiting
    and never raising SIGPIPE. */
inline Sent sendSome (int handle, std::string_view bytes, size_t& sent)
{
    while (sent < bytes.size())
    {
        const auto count = retryOnInterrupt ([&] { return ::send (handle, bytes.data() + sent, bytes.size() - sent, platform::sendFlags); });

        if (count > 0)
        {
            sent += (size_t) count;
            continue;
        }

        const bool connecting = sent == 0 && count < 0 && errno == ENOTCONN && platform::pendingError (handle) == 0;
        return (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) || connecting ? Sent::noRoomYet : Sent::failed;
    }

    return Sent::all;
}

//==============================================================================
// The text of HTTP heads: bytes, compared and read as ASCII

/** One look-up per byte, not six comparisons: heads are scanned byte by byte. */
inline bool isWhiteSpace (char c)
{
    static constexpr auto table = []
    {
        std::array<bool, 256> result {};

        for (const char w : { ' ', '\t', '\r', '\n', '\v', '\f' })
            result[(unsigned char) w] = true;

        return result;
    }();

    return table[(unsigned char) c];
}

inline std::string_view trimmed (std::string_view text)
{
    while (! text.empty() && isWhiteSpace (text.front()))
        text.remove_prefix (1);

    while (! text.empty() && isWhiteSpace (text.back()))
        text.remove_suffix (1);

    return text;
}

/** The integer that begins the text: optional white space and sign, then decimal digits up to
    the first other character; 0 without digits. Saturates instead of wrapping, so a huge
    Content-Length is refused as too large instead of turning negative. */
inline std::int64_t leadingInteger (std::string_view text)
{
    text = trimmed (text);
    bool negative = false;

    if (! text.empty() && (text[0] == '+' || text[0] == '-'))
    {
        negative = (text[0] == '-');
        text.remove_prefix (1);
    }

    std::int64_t value = 0;
    constexpr std::int64_t saturated = std::numeric_limits<std::int64_t>::max() / 10 - 10;

    for (const char c : text)
    {
        if (c < '0' || c > '9')
            break;

        if (value < saturated)
            value = value * 10 + (c - '0');
    }

    return negative ? -value : value;
}

/** Whether `text` is `lowerCase` in any mix of ASCII cases. */
inline bool equalsIgnoringAsciiCase (std::string_view text, std::string_view lowerCase)
{
    return text.size() == lowerCase.size()
        && std::equal (text.begin(), text.end(), lowerCase.begin(),
                       [] (char a, char b) { return (a >= 'A' && a <= 'Z' ? (char) (a - 'A' + 'a') : a) == b; });
}
} // namespace velto::assistant::detail

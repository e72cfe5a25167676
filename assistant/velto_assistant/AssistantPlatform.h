// Where macOS and Linux differ for the module's sockets and pipes, and nowhere else.
// Internal to the module's sources: not part of its interface.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

namespace velto::assistant::platform
{
// A write to a connection that the peer has closed must fail with EPIPE, not raise SIGPIPE and
// kill the host or the bridge. Linux has a per-call flag for it; macOS has only the socket
// option, set once on every socket this module makes or accepts. MSG_DONTWAIT makes every
// write non-blocking whatever state the socket was left in, so that callers can wait for
// progress with a time limit instead of blocking without one.
#if defined(__APPLE__) || ! defined(MSG_NOSIGNAL)
inline constexpr int sendFlags = MSG_DONTWAIT;

inline void preventBrokenPipeSignal (int handle)
{
    int on = 1;
    ::setsockopt (handle, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof (on));
}
#else
inline constexpr int sendFlags = MSG_DONTWAIT | MSG_NOSIGNAL;

inline void preventBrokenPipeSignal (int) {}
#endif

/** Sets close-on-exec, and non-blocking when asked. Linux can do both when the descriptor is
    made; macOS needs fcntl afterwards, which is what this does there. */
inline bool setDescriptorFlags (int handle, bool nonBlocking)
{
    return ::fcntl (handle, F_SETFD, FD_CLOEXEC) == 0
        && (! nonBlocking || ::fcntl (handle, F_SETFL, ::fcntl (handle, F_GETFL) | O_NONBLOCK) == 0);
}

/** Accepts one connection: non-blocking, close-on-exec, writes to it never raising SIGPIPE.
    -1 with errno as accept() left it when there is none. */
inline int acceptConnection (int listener)
{
   #if defined(__linux__)
    const int handle = ::accept4 (listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
   #else
    const int handle = ::accept (listener, nullptr, nullptr);

    if (handle >= 0 && ! setDescriptorFlags (handle, /* nonBlocking */ true))
    {
        ::close (handle);
        return -1;
    }
   #endif

    if (handle >= 0)
        preventBrokenPipeSignal (handle);

    return handle;
}

/** The error pending on a socket (SO_ERROR): what made a connection fail, or 0. */
inline int pendingError (int handle)
{
    int error = 0;
    socklen_t size = sizeof (error);
    return ::getsockopt (handle, SOL_SOCKET, SO_ERROR, &error, &size) == 0 ? error : errno;
}

/** A TCP socket, non-blocking and close-on-exec; -1 when none could be made. */
inline int newTcpSocket()
{
   #if defined(__linux__)
    return ::socket (AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
   #else
    const int handle = ::socket (AF_INET, SOCK_STREAM, 0);

    if (handle >= 0 && ! setDescriptorFlags (handle, /* nonBlocking */ true))
    {
        ::close (handle);
        return -1;
    }

    return handle;
   #endif
}

/** A TCP connection to 127.0.0.1 at `port`, begun without waiting for it: non-blocking,
    close-on-exec, writes to it never raising SIGPIPE. It may still be being made when this
    returns (a send then fails with EAGAIN, or ENOTCONN on macOS); -1 when it failed at once. */
inline int beginLoopbackConnection (int port)
{
    if (port < 1 || port > 65535)
        return -1;

    const int handle = newTcpSocket();

    if (handle < 0)
        return -1;

    preventBrokenPipeSignal (handle);

    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons ((uint16_t) port);
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);

    if (::connect (handle, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) != 0 && errno != EINPROGRESS)
    {
        ::close (handle);
        return -1;
    }

    return handle;
}

/** A socket listening on 127.0.0.1 at a port that the system picks, non-blocking and
    close-on-exec; -1 when none could be made. */
inline int listenOnLoopback()
{
    const int handle = newTcpSocket();

    if (handle < 0)
        return -1;

    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);

    if (::bind (handle, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) != 0 || ::listen (handle, SOMAXCONN) != 0)
    {
        ::close (handle);
        return -1;
    }

    return handle;
}

/** The port that a socket is bound to; 0 when it is none. */
inline int boundPort (int handle)
{
    sockaddr_in address {};
    socklen_t size = sizeof (address);

    if (handle < 0 || ::getsockname (handle, reinterpret_cast<sockaddr*> (&address), &size) != 0)
        return 0;

    return ntohs (address.sin_port);
}

/** A pipe whose ends are non-blocking and close-on-exec; false when none could be made. */
inline bool makeWakePipe (int ends[2])
{
   #if defined(__linux__)
    return ::pipe2 (ends, O_NONBLOCK | O_CLOEXEC) == 0;
   #else
    if (::pipe (ends) != 0)
        return false;

    if (setDescriptorFlags (ends[0], /* nonBlocking */ true) && setDescriptorFlags (ends[1], /* nonBlocking */ true))
        return true;

    ::close (ends[0]);
    ::close (ends[1]);
    return false;
   #endif
}
} // namespace velto::assistant::platform

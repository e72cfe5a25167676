/* The least a relay with VeltoMCP's contract can do, in plain C, for the benchmark to measure
 * the bridge against. For every line of stdin it reads the endpoint file anew (a regular file
 * of at most 64 KiB), opens a new connection to 127.0.0.1 within 2000 ms, posts the line with
 * its Content-Length and the Bearer token, reads the answer by its Content-Length within
 * 20000 ms, and writes the body as one line, flushed before it reads or waits again. Its request
 * goes out in one send, head and body together, as the bridge's does: the same system calls,
 * TCP segments and acknowledgements a message. It skips nothing that the bridge must do on the
 * network or with the file; what it leaves out is the JSON: it neither checks the line nor
 * writes the answer again in the wire form.
 *
 * The endpoint is found with the least possible parsing: the digits after "port": and the
 * string after "token":. */
#include "yardstick.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0
#endif

enum { maxEndpointBytes = 65536, connectTimeoutMs = 2000, answerTimeoutMs = 20000, maxAnswerBytes = 1048576 + 16384 + 8192 };

static char endpointPath[4096];
static char answer[maxAnswerBytes + 1];

static long long nowMs (void)
{
    struct timespec t;
    clock_gettime (CLOCK_MONOTONIC, &t);
    return (long long) t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

static int readEndpoint (int* port, char* token, size_t tokenSize)
{
    char bytes[maxEndpointBytes + 1];
    struct stat info;
    int handle = open (endpointPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);

    if (handle < 0)
        return 0;

    if (fstat (handle, &info) != 0 || ! S_ISREG (info.st_mode) || info.st_size > maxEndpointBytes)
    {
        close (handle);
        return 0;
    }

    ssize_t size = read (handle, bytes, (size_t) info.st_size);
    close (handle);

    if (size <= 0)
        return 0;

    bytes[size] = 0;
    const char* p = strstr (bytes, "\"port\":");
    const char* t = strstr (bytes, "\"token\":");

    if (p == NULL || t == NULL || (t = strchr (t + 8, '"')) == NULL)
        return 0;

    *port = atoi (p + 7);
    const char* end = strchr (++t, '"');

    if (end == NULL || (size_t) (end - t) >= tokenSize)
        return 0;

    memcpy (token, t, (size_t) (end - t));
    token[end - t] = 0;
    return *port > 0 && *port < 65536;
}

static int waitFor (int handle, short events, long long deadline)
{
    struct pollfd wait = { handle, events, 0 };
    long long left = deadline - nowMs();
    return left > 0 && poll (&wait, 1, (int) left) > 0;
}

static int sendAll (int handle, const char* bytes, size_t size, long long deadline)
{
    while (size > 0)
    {
        ssize_t sent = send (handle, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);

        if (sent > 0) { bytes += sent; size -= (size_t) sent; continue; }
        if (sent < 0 && (errno == EAGAIN || errno == ENOTCONN) && waitFor (handle, POLLOUT, deadline)) continue;
        if (sent < 0 && errno == EINTR) continue;
        return 0;
    }

    return 1;
}

/** Posts one message; writes the answer's body as a line when there is one. */
static void relay (const char* line, size_t length)
{
    int port;
    char token[1024], head[1536];

    if (! readEndpoint (&port, token, sizeof token))
        return;

#ifdef SOCK_NONBLOCK
    int handle = socket (AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
#else
    int handle = socket (AF_INET, SOCK_STREAM, 0), on = 1;   /* macOS: flags afterwards */

    if (handle >= 0)
    {
        fcntl (handle, F_SETFL, O_NONBLOCK);
        fcntl (handle, F_SETFD, FD_CLOEXEC);
        setsockopt (handle, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
    }
#endif
    struct sockaddr_in address = { 0 };
    address.sin_family = AF_INET;
    address.sin_port = htons ((unsigned short) port);
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);

    if (handle < 0 || (connect (handle, (struct sockaddr*) &address, sizeof address) != 0 && errno != EINPROGRESS))
    {
        if (handle >= 0) close (handle);
        return;
    }

    int headBytes = snprintf (head, sizeof head, "POST /mcp HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nAuthorization: Bearer %s\r\n"
                                                 "Content-Type: application/json\r\nAccept: application/json, text/event-stream\r\n"
                                                 "Content-Length: %zu\r\nConnection: close\r\n\r\n", port, token, length);

    /* Head and body in one buffer, grown as lines grow, for one send */
    static char* request = NULL;
    static size_t requestRoom = 0;
    size_t requestBytes = (size_t) headBytes + length;

    if (requestBytes > requestRoom)
    {
        char* grown = realloc (request, requestBytes);

        if (grown == NULL)
        {
            close (handle);
            return;
        }

        request = grown;
        requestRoom = requestBytes;
    }

    memcpy (request, head, (size_t) headBytes);
    memcpy (request + headBytes, line, length);

    if (! sendAll (handle, request, requestBytes, nowMs() + connectTimeoutMs))
    {
        close (handle);
        return;
    }

    long long deadline = nowMs() + answerTimeoutMs;
    size_t received = 0;
    const char* body = NULL;
    long contentLength = -1;

    while (received < maxAnswerBytes && waitFor (handle, POLLIN, deadline))
    {
        ssize_t count = recv (handle, answer + received, maxAnswerBytes - received, MSG_DONTWAIT);

        if (count < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (count <= 0) break;

        received += (size_t) count;
        answer[received] = 0;

        if (body == NULL && (body = strstr (answer, "\r\n\r\n")) != NULL)
        {
            body += 4;
            const char* lengthAt = strstr (answer, "Content-Length:");
            contentLength = lengthAt != NULL && lengthAt < body ? atol (lengthAt + 15) : -1;
        }

        if (body != NULL && contentLength >= 0 && (long) (received - (size_t) (body - answer)) >= contentLength)
            break;
    }

    close (handle);

    if (body != NULL && contentLength > 0 && (long) (received - (size_t) (body - answer)) >= contentLength)
    {
        answer[(body - answer) + contentLength] = '\n';
        (void) ! write (STDOUT_FILENO, body, (size_t) contentLength + 1);
    }
}

int main (void)
{
    static char buffer[1 << 20];
    size_t filled = 0;

    endpointPathInto (endpointPath, sizeof endpointPath);
    signal (SIGPIPE, SIG_IGN);

    for (;;)
    {
        ssize_t count = read (STDIN_FILENO, buffer + filled, sizeof buffer - filled);

        if (count <= 0)
            return 0;

        filled += (size_t) count;
        char* start = buffer;
        char* lineFeed;

        while ((lineFeed = memchr (start, '\n', filled - (size_t) (start - buffer))) != NULL)
        {
            relay (start, (size_t) (lineFeed - start));
            start = lineFeed + 1;
        }

        filled -= (size_t) (start - buffer);
        memmove (buffer, start, filled);
    }
}

/* The least an offline answerer with VeltoMCP's contract can do, in plain C, for the benchmark
 * to measure the bridge against: for every line of stdin, one stat of the endpoint file's path
 * (the bridge must look for Velto before every message) and one ping reply, written and flushed
 * on its own. It reads nothing of the line but where it ends. "--version" prints the version,
 * as the bridge does: start-up is measured on both. */
#include "yardstick.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int main (int argc, char** argv)
{
    static const char reply[] = "{\"jsonrpc\": \"2.0\", \"id\": 1, \"result\": {}}\n";
    static char buffer[65536];
    char endpointPath[4096];
    struct stat info;

    if (argc > 1 && strcmp (argv[1], "--version") == 0)
    {
        static const char version[] = "VeltoMCP 0.8.0\n";
        return write (STDOUT_FILENO, version, sizeof version - 1) == (ssize_t) sizeof version - 1 ? 0 : 1;
    }

    endpointPathInto (endpointPath, sizeof endpointPath);
    signal (SIGPIPE, SIG_IGN);

    for (;;)
    {
        ssize_t count = read (STDIN_FILENO, buffer, sizeof buffer);

        if (count <= 0)
            return 0;

        for (const char* p = buffer; (p = memchr (p, '\n', (size_t) (buffer + count - p))) != NULL; ++p)
        {
            (void) stat (endpointPath, &info);

            if (write (STDOUT_FILENO, reply, sizeof reply - 1) < 0)
                return 0;
        }
    }
}

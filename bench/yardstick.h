/* What both yardsticks need the same way as the bridge: where the endpoint file is. */
#pragma once

#include <stdio.h>
#include <stdlib.h>

/** The endpoint file's path under HOME, worked out once, as the bridge does. */
static void endpointPathInto (char* path, size_t size)
{
    const char* home = getenv ("HOME");
#ifdef __APPLE__
    snprintf (path, size, "%s/Library/Application Support/Velto/assistant.json", home ? home : "");
#else
    snprintf (path, size, "%s/.config/Application Support/Velto/assistant.json", home ? home : "");
#endif
}

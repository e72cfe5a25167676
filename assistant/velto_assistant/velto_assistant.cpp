// The module's one compile unit, as JUCE's tools compile a module: its sources in one, in the order
// of the interface's groups. Each keeps its own helpers in an unnamed namespace, which one unit
// merges, so no two declare the same name; what several need is in an internal header of its own
// (AssistantDetail.h, AssistantPlatform.h, and the JSON reader's AssistantJson*.h).
#include "AssistantJson.cpp"
#include "AssistantProtocol.cpp"
#include "AssistantEndpoint.cpp"
#include "AssistantHttp.cpp"
#include "AssistantRequest.cpp"
#include "AssistantServer.cpp"

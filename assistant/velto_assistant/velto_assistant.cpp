// The module's one compile unit, as JUCE's tools compile a module: its sources, in one.
#include "AssistantShared.cpp"
#include "AssistantJson.cpp"
#include "AssistantHttp.cpp"
#include "AssistantServer.cpp"

/*******************************************************************************
 velto_assistant: what VeltoMCP, the stdio MCP bridge, and Velto's own assistant server share.
 The interface is AssistantShared.h; this header makes the folder a JUCE module, which the
 Projucer and CMake's juce_add_module read from the block below. They compile the files named
 after the module at its top: velto_assistant.cpp, the module's one compile unit.

 BEGIN_JUCE_MODULE_DECLARATION

  ID:                 velto_assistant
  vendor:             Velto
  name:               Velto AI assistant connection
  version:            0.8.0
  description:        The endpoint file, access tokens, loopback HTTP, the JSON wire format, JSON-RPC envelopes and the MCP tool catalogue that VeltoMCP and Velto's assistant server share.
  license:            MIT
  minimumCppStandard: 17

  dependencies:       juce_core

 END_JUCE_MODULE_DECLARATION

 The version here is for the Projucer, which shows it. The code takes its own from
 serverVersion in AssistantShared.h, as the Projucer compiles the module without this project's
 build; CMake refuses to configure when the two differ.
*******************************************************************************/
#pragma once

#include "AssistantShared.h"

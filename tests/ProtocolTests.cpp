#include "Bridge.h"

#include <gtest/gtest.h>

using namespace velto::assistant;
using velto::bridge::answerLocally;

namespace
{
std::string wire (const juce::var& value)
{
    return toJson (value).toStdString();
}

juce::var parse (const std::string& text)
{
    juce::var value;
    EXPECT_TRUE (parseJson (std::string_view (text), value)) << text;
    return value;
}

std::string answer (const std::string& request)
{
    return wire (answerLocally (parse (request)));
}

juce::var findTool (const juce::String& name)
{
    const auto tools = toolDefinitions();

    for (const auto& tool : *tools.getArray())
        if (tool["name"] == name)
            return tool;

    return {};
}
} // namespace

TEST (Envelopes, ExactBytes)
{
    EXPECT_EQ (wire (rpcResult (7, juce::var (new juce::DynamicObject()))), R"({"jsonrpc": "2.0", "id": 7, "result": {}})");
    EXPECT_EQ (wire (rpcResult ("7", true)), R"({"jsonrpc": "2.0", "id": "7", "result": true})");
    EXPECT_EQ (wire (rpcError ({}, -32700, "Parse error")),
               R"({"jsonrpc": "2.0", "id": null, "error": {"code": -32700, "message": "Parse error"}})");
    EXPECT_EQ (wire (toolText ("", false)), R"({"content": [{"type": "text", "text": ""}], "isError": false})");
    EXPECT_EQ (wire (toolText ("x", true)), R"({"content": [{"type": "text", "text": "x"}], "isError": true})");
}

TEST (Identity, RevisionsAndInstructions)
{
    EXPECT_EQ (protocolVersions(), juce::StringArray ({ "2025-06-18", "2025-03-26", "2024-11-05" }));
    EXPECT_EQ (instructions().length(), 558);
    EXPECT_FALSE (instructions().containsAnyOf ("\r\n"));
    EXPECT_EQ (juce::String (velto::bridge::notOpenText).length(), 125);
}

TEST (Catalogue, ShapeOfEveryTool)
{
    const auto tools = toolDefinitions();
    ASSERT_EQ (tools.size(), 6);
    const char* names[] = { "describe_session", "describe_track", "get_notes", "play", "set_loop", "stop" };

    for (int i = 0; i < 6; ++i)
    {
        const auto& tool = tools[i];
        EXPECT_EQ (tool["name"].toString(), names[i]);

        const auto& keys = tool.getDynamicObject()->getProperties();
        ASSERT_EQ (keys.size(), 5);
        EXPECT_EQ (keys.getName (0).toString() + keys.getName (1).toString() + keys.getName (2).toString()
                       + keys.getName (3).toString() + keys.getName (4).toString(),
                   "nametitledescriptioninputSchemaannotations");

        const bool readOnly = i < 3;
        EXPECT_EQ (wire (tool["annotations"]),
                   std::string ("{\"readOnlyHint\": ") + (readOnly ? "true" : "false") + ", \"destructiveHint\": false, "
                       + "\"idempotentHint\": " + (readOnly ? "true" : "false") + ", \"openWorldHint\": false}");
    }
}

TEST (Catalogue, Schemas)
{
    struct Case { const char* tool; std::string schema; };
    const Case cases[] = {
        { "describe_session", R"({"type": "object", "properties": {}})" },
        { "stop", R"({"type": "object", "properties": {}})" },
        { "describe_track", R"({"type": "object", "properties": {"track": {"type": "string", "description": "Track name (as shown in Velto) or numeric id"}}, "required": ["track"]})" },
        { "get_notes", R"J({"type": "object", "properties": {"track": {"type": "string", "description": "MIDI track name or id"}, "clip": {"type": "integer", "description": "Only this clip (id from describe_track)"}, "from_bar": {"type": "number", "description": "Only notes starting at or after this bar (1-based)"}, "to_bar": {"type": "number", "description": "Only notes starting before this bar (1-based)"}}, "required": ["track"]})J" },
        { "play", R"J({"type": "object", "properties": {"from_bar": {"type": "number", "description": "Bar to start from (1-based)"}, "to_bar": {"type": "number", "description": "Stop when the playhead reaches this bar (1-based; 5 = the start of bar 5)"}, "loop_times": {"type": "integer", "description": "Play the loop this many times, then stop at its end. Starts at the loop start unless from_bar is inside the loop"}}})J" },
        { "set_loop", R"J({"type": "object", "properties": {"from_bar": {"type": "number", "description": "Loop start (1-based)"}, "to_bar": {"type": "number", "description": "Loop end: the bar it jumps back from"}, "on": {"type": "boolean", "description": "false turns the loop off (the region is kept). Default true"}}})J" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (wire (findTool (c.tool)["inputSchema"]), c.schema) << c.tool;
}

TEST (Catalogue, TitlesAndDescriptions)
{
    EXPECT_EQ (findTool ("describe_session")["title"].toString(), "Describe the session");
    EXPECT_EQ (findTool ("get_notes")["title"].toString(), "Get MIDI notes");
    EXPECT_EQ (findTool ("set_loop")["title"].toString(), "Set the loop");
    EXPECT_TRUE (wire (findTool ("describe_track")["description"]).find (R"(or a return, or \"Master\"))") != std::string::npos);
    EXPECT_TRUE (findTool ("get_notes")["description"].toString().endsWith ("Returns at most 2000 notes."));
    EXPECT_TRUE (findTool ("stop")["description"].toString().startsWith ("Stops playback, like pressing Stop."));
    EXPECT_EQ (wire (toolDefinitions()), wire (toolDefinitions()));
}

TEST (LocalAnswers, Table)
{
    const std::string notOpen = R"({"content": [{"type": "text", "text": "Velto isn't open, or its AI assistant connection is off. Open Velto and turn it on in Options > AI Assistant, then try again."}], "isError": true})";

    struct Case { const char* label; std::string request; std::string reply; };
    const Case cases[] = {
        { "ping", R"({"jsonrpc":"2.0","id":1,"method":"ping"})", R"({"jsonrpc": "2.0", "id": 1, "result": {}})" },
        { "null id is present", R"({"jsonrpc":"2.0","id":null,"method":"ping"})", R"({"jsonrpc": "2.0", "id": null, "result": {}})" },
        { "string id", R"({"id":"7","method":"ping"})", R"({"jsonrpc": "2.0", "id": "7", "result": {}})" },
        { "object id echoed", R"({"id":{"a":[1]},"method":"ping"})", R"({"jsonrpc": "2.0", "id": {"a": [1]}, "result": {}})" },
        { "no jsonrpc member", R"({"id":3,"method":"ping"})", R"({"jsonrpc": "2.0", "id": 3, "result": {}})" },
        { "notification", R"({"jsonrpc":"2.0","method":"ping"})", "null" },
        { "notification of unknown method", R"({"method":"notifications/initialized"})", "null" },
        { "unknown method", R"({"id":2,"method":"resources/list"})", R"({"jsonrpc": "2.0", "id": 2, "error": {"code": -32601, "message": "Method not found: resources/list"}})" },
        { "case differs", R"({"id":2,"method":"TOOLS/LIST"})", R"({"jsonrpc": "2.0", "id": 2, "error": {"code": -32601, "message": "Method not found: TOOLS/LIST"}})" },
        { "no method", R"({"id":2,"result":{}})", R"({"jsonrpc": "2.0", "id": 2, "error": {"code": -32601, "message": "Method not found: "}})" },
        { "method not a string", R"({"id":2,"method":5})", R"({"jsonrpc": "2.0", "id": 2, "error": {"code": -32601, "message": "Method not found: 5"}})" },
        { "method true is 1, as its text form", R"({"id":2,"method":true})", R"({"jsonrpc": "2.0", "id": 2, "error": {"code": -32601, "message": "Method not found: 1"}})" },
        { "method false is 0", R"({"id":2,"method":false})", R"({"jsonrpc": "2.0", "id": 2, "error": {"code": -32601, "message": "Method not found: 0"}})" },
        { "method null is empty", R"({"id":2,"method":null})", R"({"jsonrpc": "2.0", "id": 2, "error": {"code": -32601, "message": "Method not found: "}})" },
        { "known tool", R"({"id":4,"method":"tools/call","params":{"name":"play"}})", R"({"jsonrpc": "2.0", "id": 4, "result": )" + notOpen + "}" },
        { "unknown tool", R"({"id":4,"method":"tools/call","params":{"name":"x"}})", R"({"jsonrpc": "2.0", "id": 4, "result": )" + notOpen + "}" },
        { "tool call without params", R"({"id":4,"method":"tools/call"})", R"({"jsonrpc": "2.0", "id": 4, "result": )" + notOpen + "}" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (answer (c.request), c.reply) << c.label;
}

TEST (LocalAnswers, InitializeNegotiatesTheRevision)
{
    struct Case { const char* params; const char* revision; };
    const Case cases[] = {
        { R"(,"params":{"protocolVersion":"2024-11-05"})", "2024-11-05" },
        { R"(,"params":{"protocolVersion":"2025-03-26"})", "2025-03-26" },
        { R"(,"params":{"protocolVersion":"2025-06-18"})", "2025-06-18" },
        { R"(,"params":{"protocolVersion":"2099-01-01"})", "2025-06-18" },
        { R"(,"params":{"protocolVersion":"2024-11-05 "})", "2025-06-18" },
        { R"(,"params":{})", "2025-06-18" },
        { R"(,"params":[1])", "2025-06-18" },
        { "", "2025-06-18" },
    };

    for (const auto& c : cases)
    {
        const auto reply = answer (std::string (R"({"id":1,"method":"initialize")") + c.params + "}");
        EXPECT_EQ (reply, std::string (R"({"jsonrpc": "2.0", "id": 1, "result": {"protocolVersion": ")") + c.revision
                              + R"(", "capabilities": {"tools": {"listChanged": false}}, "serverInfo": {"name": "velto", "title": "Velto", "version": ")" VELTO_PROJECT_VERSION R"("}, "instructions": ")"
                              + instructions().toStdString() + "\"}}")
            << c.params;
    }
}

TEST (AnswerMessage, ObjectsAndBatches)
{
    struct Case { const char* label; std::string message; std::string reply; };
    const Case cases[] = {
        { "request", R"({"id":1,"method":"ping"})", R"({"jsonrpc": "2.0", "id": 1, "result": {}})" },
        { "notification", R"({"method":"ping"})", "null" },
        { "empty batch", "[]", "null" },
        { "notifications and non-objects only", R"([{"method":"a"},5,"x",[]])", "null" },
        { "mixed batch keeps order", R"([{"id":2,"method":"ping"},{"method":"n"},{"id":1,"method":"ping"}])",
          R"([{"jsonrpc": "2.0", "id": 2, "result": {}}, {"jsonrpc": "2.0", "id": 1, "result": {}}])" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (wire (answerMessage (parse (c.message), answerLocally)), c.reply) << c.label;
}

TEST (ModuleValues, JucesOwnWriterWritesEveryOne)
{
    // Host authors write what the module hands them with JUCE's writer: it must be plain values,
    // which JUCE writes as the same JSON that the module's own writer gives
    const auto request = [] (const char* method) { return parse (std::string (R"({"jsonrpc":"2.0","id":1,"method":")") + method + "\"}"); };

    struct Case { const char* label; juce::var value; };
    const Case cases[] = {
        { "initialize", answerProtocol (request ("initialize")) },
        { "ping", answerProtocol (request ("ping")) },
        { "tools/list", answerProtocol (request ("tools/list")) },
        { "unknown method", answerProtocol (request ("x")) },
        { "catalogue", toolDefinitions() },
        { "tool text", toolText ("caf\xc3\xa9", true) },
        { "batch", answerMessage (parse (R"([{"id":1,"method":"ping"},{"id":2,"method":"tools/list"}])"), answerProtocol) },
    };

    for (const auto& c : cases)
    {
        juce::var readBack;
        ASSERT_TRUE (parseJson (juce::JSON::toString (c.value, true), readBack)) << c.label;
        EXPECT_EQ (wire (readBack), wire (c.value)) << c.label;
    }

    // The bridge keeps the catalogue as text, and gives the same bytes
    EXPECT_EQ (wire (answerLocally (request ("tools/list"))), wire (answerProtocol (request ("tools/list"))));

    // Each caller owns its copy of the catalogue
    auto mine = toolDefinitions();
    mine[0].getDynamicObject()->setProperty ("name", "changed");
    EXPECT_EQ (toolDefinitions()[0]["name"].toString(), "describe_session");
}

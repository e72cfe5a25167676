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
    EXPECT_EQ (instructions(), "Velto is a small DAW (digital audio workstation). These tools read the project that is open in Velto and "
                               "control its transport. Positions are in bars (1-based) and beats. A MIDI track's notes go through its "
                               "plug-ins in order: a generator plug-in (one that makes its own notes, like an arpeggiator or a "
                               "sequencer) comes before the instrument it drives. A MIDI track can take its notes from another MIDI "
                               "track, and an audio track can take another track's sound; tracks that take their input from "
                               "somewhere only hear it while armed or with monitoring set to In.");
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
    // Each tool's arguments, in order, and which are required; every schema an object of typed,
    // described properties
    struct Case { const char* tool; std::vector<std::string> properties; std::string required; };
    const Case cases[] = {
        { "describe_session", {}, "" },
        { "describe_track", { "track:string" }, R"(["track"])" },
        { "get_notes", { "track:string", "clip:integer", "from_bar:number", "to_bar:number" }, R"(["track"])" },
        { "play", { "from_bar:number", "to_bar:number", "loop_times:integer" }, "" },
        { "set_loop", { "from_bar:number", "to_bar:number", "on:boolean" }, "" },
        { "stop", {}, "" },
    };

    for (const auto& c : cases)
    {
        const auto schema = findTool (c.tool)["inputSchema"];
        EXPECT_EQ (schema["type"].toString(), "object") << c.tool;
        EXPECT_EQ (c.required.empty() ? "null" : c.required, wire (schema["required"])) << c.tool;

        const auto& properties = schema["properties"].getDynamicObject()->getProperties();
        ASSERT_EQ ((size_t) properties.size(), c.properties.size()) << c.tool;

        for (int i = 0; i < properties.size(); ++i)
        {
            const auto& property = properties.getValueAt (i);
            EXPECT_EQ (properties.getName (i).toString() + ":" + property["type"].toString(), juce::String (c.properties[(size_t) i])) << c.tool;
            EXPECT_TRUE (property["description"].toString().isNotEmpty()) << c.tool << " " << i;
        }
    }

    EXPECT_EQ (wire (findTool ("describe_track")["inputSchema"]["properties"]["track"]["description"]), R"("Track name (as shown in Velto) or numeric id")");
}

TEST (Catalogue, TitlesAndDescriptions)
{
    EXPECT_EQ (findTool ("describe_session")["title"].toString(), "Describe the session");
    EXPECT_EQ (findTool ("get_notes")["title"].toString(), "Get MIDI notes");
    EXPECT_EQ (findTool ("set_loop")["title"].toString(), "Set the loop");
    EXPECT_TRUE (wire (findTool ("describe_track")["description"]).find (R"(or a return, or \"Master\"))") != std::string::npos);
    EXPECT_TRUE (findTool ("get_notes")["description"].toString().endsWith ("Returns at most 2000 notes."));
    EXPECT_TRUE (findTool ("stop")["description"].toString().startsWith ("Stops playback, like pressing Stop."));
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

// The built bridge as a child process with no Velto around: exact stdout, empty stderr, status 0.
#include "Bridge.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace velto::test;

namespace
{
const std::string pong1 = R"({"jsonrpc": "2.0", "id": 1, "result": {}})" "\n";
const std::string parseError = R"({"jsonrpc": "2.0", "id": null, "error": {"code": -32700, "message": "Parse error"}})" "\n";

/** A literal's bytes, NULs included, without the terminator. */
template <size_t size>
std::string bytes (const char (&literal)[size])
{
    return std::string (literal, size - 1);
}

std::string pong (const std::string& id)
{
    return R"({"jsonrpc": "2.0", "id": )" + id + R"(, "result": {}})" "\n";
}

void expectClean (const ProcessResult& result)
{
    EXPECT_EQ (result.err, "");
    EXPECT_EQ (result.exitCode, 0);
    EXPECT_FALSE (result.timedOut);
}
} // namespace

TEST (BridgeOffline, LinesAndFraming)
{
    TempHome home;
    struct Case { const char* label; std::string input; std::string output; };
    const Case cases[] = {
        { "no input", "", "" },
        { "empty and blank lines", "\n \t \n\r\n", "" },
        { "LF", "{\"id\":1,\"method\":\"ping\"}\n", pong1 },
        { "CR LF", "{\"id\":1,\"method\":\"ping\"}\r\n", pong1 },
        { "last line without LF", "{\"id\":1,\"method\":\"ping\"}", pong1 },
        { "surrounding blanks", "  \t{\"id\":1,\"method\":\"ping\"}  \n", pong1 },
        { "text after the object", "{\"id\":1,\"method\":\"ping\"} junk {\n", pong1 },
        { "NUL ends the line's text", bytes ("{\"id\":1,\"method\":\"ping\"}\0garbage\n"), pong1 },
        { "NUL inside the object", bytes ("{\"id\":1,\0\"method\":\"ping\"}\n"), parseError },
        { "a number", "42\n", parseError },
        { "a string", "\"ping\"\n", parseError },
        { "true", "true\n", parseError },
        { "a lone brace", "{\n", parseError },
        { "not JSON", "hello\n", parseError },
        { "invalid UTF-8 outside strings", "\xff\xfe\n", parseError },
        { "deep nesting", std::string (60000, '[') + "\n", parseError },
        { "one reply per line, in order", "{\"id\":1,\"method\":\"ping\"}\nx\n{\"id\":2,\"method\":\"ping\"}\n", pong1 + parseError + pong ("2") },
    };

    for (const auto& c : cases)
    {
        const auto result = runBridge (home, c.input);
        EXPECT_EQ (result.out, c.output) << c.label;
        expectClean (result);
    }
}

TEST (BridgeOffline, IdsAreEchoedExactly)
{
    TempHome home;
    struct Case { std::string id; std::string echoed; };
    const Case cases[] = {
        { "7", "7" }, { "\"7\"", "\"7\"" }, { "null", "null" }, { "-1", "-1" }, { "0", "0" },
        { "9223372036854775807", "9223372036854775807" },
        { "123456789012345678901234567890", "123456789012345678901234567890" },
        { "1.5", "1.5" }, { "2.5e-15", "2.5e-15" }, { "true", "true" }, { "[1,\"a\"]", "[1, \"a\"]" }, { "{}", "{}" },
        { "\"é😀\"", "\"é😀\"" },
        { "\"\\u00e9\"", "\"é\"" },
        { "\"a\\u0001\\u007f\\t\"", "\"a\\u0001\x7f\\t\"" },
        { "\"\\ud800\"", "\"\\ud800\"" },
        { "\"\\u0000\"", "\"\\u0000\"" },
        { "\"\xff\"", "\"\xEF\xBF\xBD\"" },
    };

    for (const auto& c : cases)
    {
        const auto result = runBridge (home, "{\"method\":\"ping\",\"id\":" + c.id + "}\n");
        EXPECT_EQ (result.out, pong (c.echoed)) << c.id;
        EXPECT_TRUE (juce::CharPointer_UTF8::isValidString (result.out.c_str(), (int) result.out.size())) << c.id;
        expectClean (result);
    }
}

TEST (BridgeOffline, MethodsAndBatches)
{
    TempHome home;
    const std::string notOpen = R"({"content": [{"type": "text", "text": "Velto isn't open, or its AI assistant connection is off. Open Velto and turn it on in Options > AI Assistant, then try again."}], "isError": true})";

    struct Case { const char* label; std::string input; std::string output; };
    const Case cases[] = {
        { "notification", "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n", "" },
        { "case-different method", "{\"id\":1,\"method\":\"Ping\"}\n", R"({"jsonrpc": "2.0", "id": 1, "error": {"code": -32601, "message": "Method not found: Ping"}})" "\n" },
        { "non-ASCII method echoed", "{\"id\":1,\"method\":\"pïng\"}\n", R"({"jsonrpc": "2.0", "id": 1, "error": {"code": -32601, "message": "Method not found: pïng"}})" "\n" },
        { "tool call", "{\"id\":5,\"method\":\"tools/call\",\"params\":{\"name\":\"stop\",\"arguments\":{}}}\n", R"({"jsonrpc": "2.0", "id": 5, "result": )" + notOpen + "}\n" },
        { "empty batch", "[]\n", "" },
        { "notification and a number", "[{\"method\":\"x\"},5]\n", "" },
        { "mixed batch", "[{\"id\":1,\"method\":\"ping\"},{\"method\":\"n\"},{\"id\":2,\"method\":\"zz\"}]\n",
          R"([{"jsonrpc": "2.0", "id": 1, "result": {}}, {"jsonrpc": "2.0", "id": 2, "error": {"code": -32601, "message": "Method not found: zz"}}])" "\n" },
        { "nested batch is not a message", "[[{\"id\":1,\"method\":\"ping\"}]]\n", "" },
    };

    for (const auto& c : cases)
    {
        const auto result = runBridge (home, c.input);
        EXPECT_EQ (result.out, c.output) << c.label;
        expectClean (result);
    }
}

TEST (BridgeOffline, ArgumentScan)
{
    TempHome home;
    const auto help = "VeltoMCP: lets an AI app (an MCP client) see and control Velto.\n"
                      "Add it to the app as a local (stdio) MCP server, then turn the connection on in\n"
                      "Velto: Options > AI Assistant. It reads "
                    + home.endpointFile().getFullPathName().toStdString() + "\n";
    const std::string version = "VeltoMCP " VELTO_PROJECT_VERSION "\n";   // the project's version, from the build
    const std::string ping = "{\"id\":1,\"method\":\"ping\"}\n";

    struct Case { std::vector<std::string> args; std::string output; };
    const Case cases[] = {
        { { "--version" }, version },
        { { "--help" }, help },
        { { "-h" }, help },
        { { "--verbose", "--help" }, help },
        { { "--help", "--version" }, help },
        { { "--version", "--help" }, version },
        // Not recognised: the bridge serves stdin
        { { "-v" }, pong1 }, { { "-H" }, pong1 }, { { "--Version" }, pong1 }, { { "help" }, pong1 },
        { { "--help=1" }, pong1 }, { { "" }, pong1 },
    };

    for (const auto& c : cases)
    {
        const auto result = runBridge (home, ping, c.args);
        EXPECT_EQ (result.out, c.output) << (c.args.empty() ? "" : c.args[0]);
        expectClean (result);
    }

    EXPECT_EQ (version.size(), 15u);
    EXPECT_FALSE (home.endpointFile().exists());   // the help names the file but never makes it
}

TEST (BridgeOffline, BadEndpointFilesAreIgnoredSilently)
{
    TempHome home;
    const char* contents[] = { "", "{", "[1]", "{\"port\":0,\"token\":\"0123456789abcdef0123456789abcdef\"}",
                               "{\"port\":8123,\"token\":\"short\"}", "\xff\xfe\x00" };

    for (const auto* content : contents)
    {
        home.endpointFile().getParentDirectory().createDirectory();
        home.endpointFile().replaceWithText (content);
        const auto result = runBridge (home, "{\"id\":1,\"method\":\"ping\"}\n");
        EXPECT_EQ (result.out, pong1) << content;
        expectClean (result);
    }

    // A folder where the file should be
    home.endpointFile().deleteFile();
    home.endpointFile().createDirectory();
    const auto result = runBridge (home, "{\"id\":1,\"method\":\"ping\"}\n");
    EXPECT_EQ (result.out, pong1);
    expectClean (result);
}

TEST (BridgeOffline, LongLinesAndManyLines)
{
    TempHome home;
    const std::string big (4 * 1024 * 1024, 'x');
    std::string input = "{\"id\":1,\"method\":\"ping\",\"pad\":\"" + big + "\"}\n";
    std::string expected = pong1;

    for (int i = 0; i < 2000; ++i)
    {
        input += "{\"id\":" + std::to_string (i) + ",\"method\":\"ping\"}\n";
        expected += pong (std::to_string (i));
    }

    const auto result = runBridge (home, input);
    EXPECT_EQ (result.out, expected);
    expectClean (result);
}

TEST (BridgeOffline, WideObjectsAreAnsweredWhole)
{
    // 80,000 members, a megabyte, where a member is found among the rest: what decides the
    // answer, wherever it stands among them. (Their time is JsonParser's to check, by shape.)
    TempHome home;
    const auto wide = [] (const char* separator, const char* colon)
    {
        std::string members;

        for (int i = 0; i < 80000; ++i)
            members.append (i > 0 ? separator : "").append ("\"").append (std::to_string (i)).append ("\"").append (colon).append ("0");

        return members;
    };
    const auto members = wide (",", ":");
    const auto input = R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"play","arguments":{)" + members + "}}}\n"
                     + R"({"jsonrpc":"2.0","id":2,"method":"initialize","params":{)" + members + R"(,"protocolVersion":"2024-11-05"}})" "\n"
                     + "{" + members + R"(,"id":3,"method":"ping"})" "\n"
                     + R"({"id":{)" + members + R"(},"method":"ping"})" "\n";

    const auto result = runBridge (home, input);
    expectClean (result);
    const auto replies = juce::StringArray::fromLines (juce::String (result.out).trimEnd());
    ASSERT_EQ (replies.size(), 4) << result.out.substr (0, 200);
    EXPECT_EQ (replies[0].toStdString(), R"({"jsonrpc": "2.0", "id": 1, "result": {"content": [{"type": "text", "text": ")"
                                             + std::string (velto::bridge::notOpenText) + R"("}], "isError": true}})");
    EXPECT_TRUE (replies[1].startsWith (R"({"jsonrpc": "2.0", "id": 2, "result": {"protocolVersion": "2024-11-05", )")) << replies[1];
    EXPECT_EQ (replies[2].toStdString() + "\n", pong ("3"));
    EXPECT_EQ (replies[3].toStdString() + "\n", pong ("{" + wide (", ", ": ") + "}"));
}

TEST (Lines, SplitAtLineFeedsWithEachByteLookedAtOnce)
{
    const auto split = [] (const std::string& input, size_t readBytes)
    {
        velto::bridge::Lines lines;
        std::string out;

        for (size_t at = 0; at < input.size(); at += readBytes)
        {
            lines.append (std::string_view (input).substr (at, readBytes));

            for (std::string_view line; lines.next (line);)
                out += "[" + std::string (line) + "]";
        }

        EXPECT_EQ (lines.bytesSearched(), input.size());   // however the reads fall
        return out + "rest:" + std::string (lines.rest());
    };

    struct Case { const char* label; std::string input; std::string lines; };
    const Case cases[] = {
        { "nothing", "", "rest:" },
        { "one line", "ab\n", "[ab]rest:" },
        { "empty lines", "\n\n", "[][]rest:" },
        { "CR stays for the trim", "a\r\nb", "[a\r]rest:b" },
        { "last line without LF", "a\nbc", "[a]rest:bc" },
        { "NUL is no line end", std::string ("a\0b\n", 4), std::string ("[a\0b]rest:", 10) },
    };

    for (const auto& c : cases)
    {
        EXPECT_EQ (split (c.input, c.input.size() + 1), c.lines) << c.label << ", whole";
        EXPECT_EQ (split (c.input, 1), c.lines) << c.label << ", byte by byte";
    }

    // A line far longer than one read is searched once, not again from its start at every read
    const std::string longLine (8 * 1024 * 1024, 'x');
    EXPECT_EQ (split (longLine + "\n", 65536), "[" + longLine + "]rest:");
}

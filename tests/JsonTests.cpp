#include <velto_assistant/AssistantInternal.h>
#include "TestSupport.h"
#include "support/JsonShapes.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace velto::assistant;

namespace
{
std::string wire (const juce::var& value)
{
    return toJson (value).toStdString();
}

/** Parses `line` and writes it back; "PARSE ERROR" when it does not parse. */
std::string roundTrip (const std::string& line)
{
    juce::var value;
    return parseJson (std::string_view (line), value) ? wire (value) : "PARSE ERROR";
}

/** The one-pass rewrite of `line`; "REFUSED" when it gives it up. */
std::string rewritten (const std::string& line)
{
    std::string out = "kept:";
    return rewriteJson (line, out) ? out.substr (5) : (out == "kept:" ? "REFUSED" : "CHANGED OUT ON REFUSAL");
}

/** What parseEnvelopes keeps of `line`, as written; "PARSE ERROR" when it does not parse. */
std::string envelopes (const std::string& line)
{
    juce::var value;
    return parseEnvelopes (line, value) ? wire (value) : "PARSE ERROR";
}

bool isValidUtf8 (const std::string& s)
{
    return juce::CharPointer_UTF8::isValidString (s.c_str(), (int) s.size());
}
} // namespace

TEST (JsonWriter, SingleLineSeparatorsAndOrder)
{
    auto* object = new juce::DynamicObject();
    object->setProperty ("b", 1);
    object->setProperty ("a", juce::Array<juce::var> { 1, "x", true, juce::var() });
    object->setProperty ("c", juce::var (new juce::DynamicObject()));
    object->setProperty ("d", juce::Array<juce::var>());
    EXPECT_EQ (wire (juce::var (object)), R"({"b": 1, "a": [1, "x", true, null], "c": {}, "d": []})");
}

TEST (JsonWriter, StringEscapes)
{
    struct Case { const char* label; std::string in; std::string out; };
    const Case cases[] = {
        { "quote and backslash", "a\"b\\c", R"("a\"b\\c")" },
        { "two-letter escapes", "\b\t\n\f\r", R"("\b\t\n\f\r")" },
        { "bell is \\u0007, not \\a", "\x07", R"("\u0007")" },
        { "other controls lower-case hex", "\x01\x1f", R"("\u0001\u001f")" },
        { "DEL as itself", "\x7f", "\"\x7f\"" },
        { "slash not escaped", "a/b", R"("a/b")" },
        { "non-ASCII as UTF-8", "é€😀", "\"é€😀\"" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (wire (juce::String::fromUTF8 (c.in.data(), (int) c.in.size())), c.out) << c.label;
}

TEST (JsonWriter, Numbers)
{
    struct Case { const char* label; juce::var in; std::string out; };
    const Case cases[] = {
        { "int", 7, "7" },
        { "negative int", -32700, "-32700" },
        { "int64", (juce::int64) 9007199254740993LL, "9007199254740993" },
        { "int64 min", (juce::int64) INT64_MIN, "-9223372036854775808" },
        { "half", 0.5, "0.5" },
        { "whole double keeps .0", 120.0, "120.0" },
        { "shortest round trip", 0.1, "0.1" },
        { "negative fraction", -2.25, "-2.25" },
        { "15 decimal places that carry it", 0.000000000000123, "0.000000000000123" },
        // Where 15 places would change the value: never rounded, an id must come back as sent
        { "16 places: plain is shorter", 0.12345678901234566, "0.12345678901234566" },
        { "17 digits, one before the point", 1.2345678901234567, "1.2345678901234567" },
        { "2.5e-15, not 0.000000000000002", 2.5e-15, "2.5e-15" },
        { "1.5e-15, not 1e-15", 1.5e-15, "1.5e-15" },
        { "9.99e-14, not 1e-13", 9.99e-14, "9.99e-14" },
        { "exponent form is shorter", 1.234567890123457e-7, "1.234567890123457e-7" },
        { "negative", -2.5e-15, "-2.5e-15" },
        { "large", 1e20, "100000000000000000000.0" },
        { "huge uses exponent", 1e300, "1e300" },
        { "tiny uses exponent rather than 0", 1e-20, "1e-20" },
        { "infinity is null", std::numeric_limits<double>::infinity(), "null" },
        { "NaN is null", std::numeric_limits<double>::quiet_NaN(), "null" },
        { "bools", true, "true" },
        { "void is null", juce::var(), "null" },
        { "undefined is null", juce::var::undefined(), "null" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (wire (c.in), c.out) << c.label;
}

TEST (JsonWriter, InvalidUtf8InsideAStringBecomesReplacementCharacters)
{
    // A String built from raw bytes that are not UTF-8 must still give valid UTF-8 JSON
    const char bytes[] = { 'a', (char) 0xC3, 'b', (char) 0xFF, (char) 0xED, (char) 0xA0, (char) 0x80, 0 };
    const juce::String text { juce::CharPointer_UTF8 (bytes) };
    const auto out = wire (text);
    EXPECT_TRUE (isValidUtf8 (out)) << out;
    EXPECT_EQ (out.front(), '"');
    EXPECT_EQ (out.back(), '"');
}

TEST (JsonWriter, MultiLineForm)
{
    auto* object = new juce::DynamicObject();
    object->setProperty ("port", 8123);
    object->setProperty ("list", juce::Array<juce::var> { 1, 2 });
    object->setProperty ("empty", juce::var (new juce::DynamicObject()));
    EXPECT_EQ (toJsonMultiLine (juce::var (object)).toStdString(),
               "{\r\n  \"port\": 8123,\r\n  \"list\": [\r\n    1,\r\n    2\r\n  ],\r\n  \"empty\": {}\r\n}");
}

TEST (JsonParser, RoundTrips)
{
    struct Case { const char* label; std::string in; std::string out; };
    const Case cases[] = {
        { "object", R"({"a":1,"b":[true,false,null]})", R"({"a": 1, "b": [true, false, null]})" },
        { "leading white space", " \t\r\n{}", "{}" },
        { "text after the value is ignored", R"({"a":1} trailing {"b":2})", R"({"a": 1})" },
        { "repeated key keeps first place, last value", R"({"a":1,"b":2,"a":3})", R"({"a": 3, "b": 2})" },
        // The last value, even where JUCE holds the two equal
        { "repeated key, a value JUCE holds equal", R"({"a":[1],"b":0,"a":["1"]})", R"({"a": ["1"], "b": 0})" },
        { "repeated key, doubles JUCE holds equal", R"({"a":0.1,"a":0.10000000000000002})", R"({"a": 0.10000000000000002})" },
        { "repeated key in a nested object", R"([{"a":{"x":1,"x":2},"a":{"y":3,"y":[4]}}])", R"([{"a": {"y": [4]}}])" },
        { "repeated key past the first eight names", R"({"0":0,"1":1,"2":2,"3":3,"4":4,"5":5,"6":6,"7":7,"8":8,"9":9,"8":10})",
          R"({"0": 0, "1": 1, "2": 2, "3": 3, "4": 4, "5": 5, "6": 6, "7": 7, "8": 10, "9": 9})" },
        { "ten names, none repeated", R"({"0":0,"1":1,"2":2,"3":3,"4":4,"5":5,"6":6,"7":7,"8":8,"9":9})",
          R"({"0": 0, "1": 1, "2": 2, "3": 3, "4": 4, "5": 5, "6": 6, "7": 7, "8": 8, "9": 9})" },
        { "escapes", R"(["\"\\\/\b\f\n\r\t"])", R"(["\"\\/\b\f\n\r\t"])" },
        { "unicode escape", R"(["\u00e9\u20AC"])", "[\"é€\"]" },
        { "surrogate pair", R"(["\ud83d\ude00"])", "[\"😀\"]" },
        { "lone high surrogate kept escaped", R"(["\ud800x"])", R"(["\ud800x"])" },
        { "lone low surrogate kept escaped", R"(["\udc00"])", R"(["\udc00"])" },
        { "NUL kept escaped", R"(["a\u0000b"])", R"(["a\u0000b"])" },
        { "NUL in a key becomes U+FFFD", R"({"a\u0000":1})", "{\"a\xEF\xBF\xBD\": 1}" },
        { "raw control character tolerated", "[\"a\tb\"]", R"(["a\tb"])" },
        { "raw NUL kept as \\u0000, not cut", std::string ("[\"a\0b\"]", 7), R"(["a\u0000b"])" },
        { "raw NUL in a key becomes U+FFFD", std::string ("{\"\0\":1}", 8), "{\"\xEF\xBF\xBD\": 1}" },
        { "int32 max", "[2147483647]", "[2147483647]" },
        { "int64", "[9223372036854775807,-9223372036854775808]", "[9223372036854775807, -9223372036854775808]" },
        { "beyond 64 bits kept exactly", "[99999999999999999999999]", "[99999999999999999999999]" },
        { "negative beyond 64 bits", "[-9223372036854775809]", "[-9223372036854775809]" },
        { "fraction", "[1.5,-0.25]", "[1.5, -0.25]" },
        { "exponent", "[1e3,2E-2]", "[1000.0, 0.02]" },
        { "beyond a double kept exactly", "[1e400]", "[1e400]" },
        { "underflow kept exactly", "[1e-400]", "[1e-400]" },
        { "value kept where 15 places would change it", "[2.5e-15,1.5E-15,0.0000000000000999,1.234567890123457e-7]",
          "[2.5e-15, 1.5e-15, 9.99e-14, 1.234567890123457e-7]" },
        { "zero with exponent", "[0e5]", "[0.0]" },
        // The rewrite makes room for a little more than the text; this is near six times as long
        { "numbers written far longer than read", "[1E20" + juce::String::repeatedString (",1E20", 301).toStdString() + "]",
          "[100000000000000000000.0" + juce::String::repeatedString (", 100000000000000000000.0", 301).toStdString() + "]" },
        { "nesting", R"([[[{"a":[]}]]])", R"([[[{"a": []}]]])" },
        { "members of every plain kind", R"({"s":"x","t":true,"f":false,"n":null,"i":-12,"z":0,"b":123456789012345678})",
          R"({"s": "x", "t": true, "f": false, "n": null, "i": -12, "z": 0, "b": 123456789012345678})" },
        { "member values not written as read", R"({"m":-0,"l":-123456789012345678,"r":1.50,"e":1E3,"u":"A"})",
          R"({"m": 0, "l": -123456789012345678, "r": 1.5, "e": 1000.0, "u": "A"})" },
        { "white space around a member's parts", "{ \"a\" :1 ,\"b\":\t\"x\"\n}", R"({"a": 1, "b": "x"})" },
        { "names and strings that hold a member's punctuation", R"({"#:1,x":2,"#":3,":,}":"#:4,","x":"\":5}"})",
          R"({"#:1,x": 2, "#": 3, ":,}": "#:4,", "x": "\":5}"})" },
    };

    // The rewrite gives the same bytes in one pass
    for (const auto& padding : { std::string(), std::string (32, ' ') })
    {
        for (const auto& c : cases)
        {
            EXPECT_EQ (roundTrip (c.in + padding), c.out) << c.label;
            EXPECT_EQ (rewritten (c.in + padding), c.out) << c.label;
            EXPECT_NE (envelopes (c.in + padding), "PARSE ERROR") << c.label;

            // Most members of params are skipped, not built: the skip takes what parsing takes
            const auto asParams = "{\"params\":" + c.in + padding + "}";
            EXPECT_EQ (envelopes (asParams) == "PARSE ERROR", roundTrip (asParams) == "PARSE ERROR") << c.label << ", as params";
        }
    }
}

TEST (JsonParser, Refusals)
{
    const char* cases[] = {
        "", "   ", "42", "\"text\"", "true", "null", "{", "[", "[1,", "[1 2]", "{\"a\"}", "{\"a\":}",
        "{a:1}", "[01]", "[1.]", "[.5]", "[-]", "[1e]", "[+1]", "[\"\\x\"]", "[\"\\u12\"]", "[\"abc",
        "[tru]", "[nul]", "[1,]", "{\"a\":1,}", "[NaN]", "[Infinity]",
        // The same faults as members
        "{\"a\":01}", "{\"a\":-01}", "{\"a\":-}", "{\"a\":1.}", "{\"a\":1e}", "{\"a\":tru}", "{\"a\":\"abc",
        "{\"a\":\"\\x\"}", "{\"\\x\":1}", "{\"a\":1 \"b\":2}", "{\"a\":1,\"b\"}", "{\"a\":1,\"b\":}", "{\"a\":1,\"b\":2,}",
        // and where what looks like a member's end is inside a string, or a name is not followed by ':'
        "{\"a\":\",\"b\":1}", "{\"a\":\"x\\,\"b\":1}", "{\"a\" 1}",
    };

    // Padded too: what follows the value must not change how it is read
    for (const auto& padding : { std::string(), std::string (32, ' ') })
    {
        for (const auto* text : cases)
        {
            EXPECT_EQ (roundTrip (text + padding), "PARSE ERROR") << text;
            EXPECT_EQ (rewritten (text + padding), "REFUSED") << text;
            EXPECT_EQ (envelopes (text + padding), "PARSE ERROR") << text;

            // As params too, where most members are skipped rather than built
            if (text[0] == '{')
            {
                EXPECT_EQ (envelopes ("{\"params\":" + std::string (text) + padding + "}"), "PARSE ERROR") << text << ", as params";
            }
        }
    }
}

TEST (JsonParser, EnvelopesKeepWhatDecidesAnAnswer)
{
    struct Case { const char* label; std::string in; std::string out; };
    const Case cases[] = {
        { "a message's id, method and params", R"({"jsonrpc":"2.0","id":7,"method":"ping","params":{}})", R"({"id": 7, "method": "ping", "params": {}})" },
        { "params keep only the revision", R"({"params":{"x":[1],"protocolVersion":"2024-11-05","y":2}})", R"({"params": {"protocolVersion": "2024-11-05"}})" },
        { "params that are not an object", R"({"params":[1,{"b":2,"a":1}]})", R"({"params": [1, {"b": 2, "a": 1}]})" },
        { "an object id kept as written", R"({"id":{"b":1,"a":[2.5]}})", R"({"id": {"b": 1, "a": [2.5]}})" },
        { "an id with a repeated key, as parsed", R"({"id":{"a":1,"b":2,"a":3}})", R"({"id": {"a": 3, "b": 2}})" },
        { "a repeated id: first place, last value", R"({"id":1,"method":"m","id":2})", R"({"id": 2, "method": "m"})" },
        { "a repeated id that JUCE holds equal", R"({"id":0.1,"id":0.10000000000000002,"method":"ping"})",
          R"({"id": 0.10000000000000002, "method": "ping"})" },
        { "dropped members may repeat", R"({"x":1,"x":{"y":1,"y":2},"id":1})", R"({"id": 1})" },
        { "a batch: objects are messages, the rest void", R"([{"id":1,"z":2},5,[1],{}])", R"([{"id": 1}, null, null, {}])" },
        { "an empty batch", "[]", "[]" },
        { "a name is judged as read, escapes and all", R"({"\u0069d":5,"method":"m"})", R"({"id": 5, "method": "m"})" },
        { "in params too", R"({"params":{"a":1,"\u0070rotocolVersion":"v"}})", R"({"params": {"protocolVersion": "v"}})" },
    };

    for (const auto& c : cases)
    {
        EXPECT_EQ (envelopes (c.in), c.out) << c.label;
        EXPECT_EQ (envelopes (c.in + std::string (32, ' ')), c.out) << c.label << ", padded";
    }

    // The same depth limit as parsing, in what is kept and in what is dropped
    const auto nested = [] (int depth) { return std::string ((size_t) depth, '[') + std::string ((size_t) depth, ']'); };

    for (const std::string member : { "id", "x" })
    {
        const auto inMessage = [&] (int depth) { return "{\"" + member + "\":" + nested (depth - 1) + "}"; };
        EXPECT_NE (envelopes (inMessage (maxJsonDepth)), "PARSE ERROR") << member;
        EXPECT_EQ (envelopes (inMessage (maxJsonDepth + 1)), "PARSE ERROR") << member;
        EXPECT_EQ (roundTrip (inMessage (maxJsonDepth + 1)), "PARSE ERROR") << member;
    }
}

TEST (JsonParser, StringsAndNumbersEndedAtEveryLength)
{
    // Plain text is read in runs: each byte that ends a run, after runs of every length up to 17,
    // in a name and in a value, before more members and as the last of the text
    struct Piece { const char* label; std::string in; std::string out; };
    const Piece pieces[] = {
        { "escaped quote", "\\\"", "\\\"" }, { "escaped backslash", "\\\\", "\\\\" },
        { "unicode escape", "\\u0041", "A" }, { "raw tab", "\t", "\\t" }, { "DEL", "\x7f", "\x7f" },
        { "two-byte UTF-8", "\xC3\xA9", "\xC3\xA9" }, { "invalid byte", "\x80", "\xEF\xBF\xBD" },
    };

    for (const auto& piece : pieces)
    {
        for (size_t plain = 0; plain <= 17; ++plain)
        {
            const auto text = std::string (plain, 'p'), in = text + piece.in, out = text + piece.out;
            const std::string label = std::string (piece.label) + " after " + std::to_string (plain);
            const auto first = "{\"" + in + "\":\"" + in + "\",\"k\":1}", last = "{\"k\":1,\"" + in + "\":\"" + in + "\"}";

            EXPECT_EQ (rewritten (first), "{\"" + out + "\": \"" + out + "\", \"k\": 1}") << label;
            EXPECT_EQ (rewritten (last), "{\"k\": 1, \"" + out + "\": \"" + out + "\"}") << label;
            EXPECT_EQ (roundTrip (last), rewritten (last)) << label;
            EXPECT_EQ (envelopes ("{\"params\":" + first + ",\"id\":" + last + "}"), R"({"params": {}, "id": )" + rewritten (last) + "}") << label;
        }
    }

    // Integers go across as they stand; what follows the digits, after every length up to 19
    for (std::string digits = "1"; digits.size() <= 19; digits += (char) ('0' + digits.size() % 10))
    {
        for (const auto& number : { digits, "-" + digits })
        {
            EXPECT_EQ (rewritten ("{\"n\":" + number + "}"), "{\"n\": " + number + "}") << number;
            EXPECT_EQ (rewritten ("{\"n\":" + number + ",\"k\":1}"), "{\"n\": " + number + ", \"k\": 1}") << number;
            EXPECT_EQ (rewritten ("{\"n\":" + number + ".5}"), roundTrip ("{\"n\":" + number + ".5}")) << number;
            EXPECT_EQ (rewritten ("{\"n\":" + number + "x}"), "REFUSED") << number;
            EXPECT_EQ (envelopes ("{\"n\":" + number + "e2}"), "{}") << number;
        }
    }
}

TEST (JsonParser, RepeatedNamesInWideObjects)
{
    // Names past the first few are looked up in a table: a repeat among thousands is found, and
    // takes the first place with the last value, as a parsed object has it
    const auto object = [] (int members, const std::string& prefix, const std::string& extra, bool written)
    {
        std::string text = "{";

        for (int i = 0; i < members; ++i)
            text += (i > 0 ? (written ? ", \"" : ",\"") : "\"") + prefix + std::to_string (i) + (written ? "\": " : "\":") + std::to_string (i);

        return text + extra + "}";
    };

    EXPECT_EQ (rewritten (object (20000, "n", "", false)), object (20000, "n", "", true));
    EXPECT_EQ (rewritten (object (20000, "q\\\"", "", false)), object (20000, "q\\\"", "", true));

    struct Case { const char* label; std::string in; };
    const Case repeated[] = {
        { "the last name repeats one in the middle", object (20000, "n", ",\"n12345\":0", false) },
        { "with an escaped quote in every name", object (20000, "q\\\"", ",\"q\\\"777\":0", false) },
        { "equal once written, not as read", object (20000, "n", ",\"\\u006e19999\":0", false) },
        { "the ninth name repeats the first", object (8, "n", ",\"n0\":0", false) },
    };

    for (const auto& c : repeated)
    {
        EXPECT_EQ (rewritten (c.in), roundTrip (c.in)) << c.label;
        EXPECT_NE (envelopes (c.in), "PARSE ERROR") << c.label;
    }
}

TEST (JsonParser, NestedRepeatsAreWrittenOnce)
{
    // Objects inside objects, each giving its name twice: each is written in the order a parse
    // keeps, and each byte once, however deep they nest (400 levels, around a long string)
    const auto chain = [] (int depth, const std::string& inside, bool written)
    {
        std::string text = inside;

        for (int i = 0; i < depth; ++i)
            text = written ? "{\"a\": " + text + ", \"b\": 2}" : "{\"a\":1,\"b\":2,\"a\":" + text + "}";

        return text;
    };

    EXPECT_EQ (rewritten (chain (3, "[]", false)), chain (3, "[]", true));
    EXPECT_EQ (rewritten (chain (3, "[]", false)), roundTrip (chain (3, "[]", false)));

    const auto plain = "[" + velto::shapes::text (800 * 1000, "abcdefgh") + "]";
    const auto nested = chain (400, plain, false);
    const auto fastestMicroseconds = [] (const std::string& line)
    {
        double fastest = 1e12;

        for (int i = 0; i < 3; ++i)
        {
            const auto start = std::chrono::steady_clock::now();
            std::string out;
            EXPECT_TRUE (rewriteJson (line, out));
            fastest = std::min (fastest, std::chrono::duration<double, std::micro> (std::chrono::steady_clock::now() - start).count());
        }

        return fastest;
    };

    // Copied again at every level, it would take about 400 times as long as the string alone
    const auto ratio = fastestMicroseconds (nested) / fastestMicroseconds (plain);
    EXPECT_LT (ratio, 8) << "800 KB inside 400 objects that repeat a name took " << ratio << " times the 800 KB alone";
    velto::test::report ("json-scaling", "JSON, 800 KB inside 400 objects that repeat a name, rewrite: " + juce::String (ratio, 2).toStdString()
                                            + " times the 800 KB alone (bound 8; copied at every level, about 400)");
}

TEST (JsonParser, DepthLimit)
{
    const auto nested = [] (int depth) { return std::string ((size_t) depth, '[') + std::string ((size_t) depth, ']'); };
    EXPECT_NE (roundTrip (nested (maxJsonDepth)), "PARSE ERROR");
    EXPECT_EQ (roundTrip (nested (maxJsonDepth + 1)), "PARSE ERROR");
    EXPECT_EQ (rewritten (nested (maxJsonDepth)), roundTrip (nested (maxJsonDepth)));
    EXPECT_EQ (rewritten (nested (maxJsonDepth + 1)), "REFUSED");

    // Far deeper than any stack could take, if the parser recursed without a limit
    EXPECT_EQ (roundTrip (std::string (1000000, '[')), "PARSE ERROR");
    EXPECT_EQ (roundTrip (std::string (500000, '{') ), "PARSE ERROR");
}

TEST (JsonParser, InvalidUtf8InStringsBecomesReplacementCharacters)
{
    const std::string line = "[\"a\xC3\x28" "b\xFF\xED\xA0\x80" "c\xF4\x90\x80\x80\"]";
    const auto out = roundTrip (line);
    EXPECT_TRUE (isValidUtf8 (out)) << out;
    EXPECT_EQ (out, "[\"a\xEF\xBF\xBD(b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
                    "c\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"]");
}

TEST (JsonParser, RefusesNonAsciiOutsideStrings)
{
    EXPECT_EQ (roundTrip ("[\xC3\xA9]"), "PARSE ERROR");
    EXPECT_EQ (roundTrip ("\xEF\xBB\xBF{}"), "PARSE ERROR");   // a byte-order mark is not white space
}

TEST (JsonParser, FromWireBytesStopsAtNulAndReplacesInvalidBytes)
{
    EXPECT_EQ (fromWireBytes ("ab\0cd", 5), "ab");
    EXPECT_EQ (fromWireBytes ("\xC3\xA9", 2), juce::String (juce::CharPointer_UTF8 ("\xC3\xA9")));
    EXPECT_EQ (fromWireBytes ("\xC3", 1).toStdString(), "\xEF\xBF\xBD");
}

TEST (JsonParser, EveryShapeTakesTimeInProportionToItsBytes)
{
    // Each shape in one line, and in as many lines of a thirty-second of its size, on each path
    // that a line takes: the bridge's envelopes (offline), the rewrite (relayed, both ways) and a
    // host's parse. The two are the same bytes: in time in proportion to them they take about as
    // long, in time in their square the one line 32 times as long. Being the same work, a busy
    // machine slows both alike; the bound sits far from both.
    constexpr size_t largeBytes = 800 * 1000, pieces = 32;
    constexpr double bound = 8;

    const auto fastestMicroseconds = [] (const std::function<bool()>& run)
    {
        double fastest = 1e12;

        for (int i = 0; i < 3; ++i)
        {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_TRUE (run());
            fastest = std::min (fastest, std::chrono::duration<double, std::micro> (std::chrono::steady_clock::now() - start).count());
        }

        return fastest;
    };

    for (const auto& shape : velto::shapes::all())
    {
        const auto small = velto::shapes::toolCall (shape.make (largeBytes / pieces)), large = velto::shapes::toolCall (shape.make (largeBytes));

        struct Path { const char* label; bool (*run) (const std::string&); };
        std::vector<Path> paths {
            { "envelopes", [] (const std::string& line) { juce::var value; return parseEnvelopes (line, value); } },
            { "rewrite", [] (const std::string& line) { std::string out; return rewriteJson (line, out); } },
        };

        if (! shape.wideObject)
            paths.push_back ({ "host's parse", [] (const std::string& line) { juce::var value; return parseJson (std::string_view (line), value); } });

        for (const auto& path : paths)
        {
            const auto inPieces = fastestMicroseconds ([&]
            {
                bool all = true;

                for (size_t i = 0; i < pieces; ++i)
                    all = path.run (small) && all;

                return all;
            });

            const auto ratio = fastestMicroseconds ([&] { return path.run (large); }) / inPieces;
            const auto figure = std::string ("JSON, ") + shape.label + ", " + path.label + ": one line of " + std::to_string (largeBytes / 1000)
                              + " KB took " + juce::String (ratio, 2).toStdString() + " times as long as " + std::to_string (pieces) + " lines of "
                              + std::to_string (largeBytes / pieces / 1000) + " KB (bound " + juce::String (bound, 0).toStdString()
                              + "; in the square of the bytes, " + std::to_string (pieces) + ")";
            EXPECT_LT (ratio, bound) << figure;
            velto::test::report ("json-scaling", figure);
        }
    }
}

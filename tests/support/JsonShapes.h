// The shapes of JSON that the bridge and a host carry, each made to a size, for the tests that
// catch time in the square of a line's size and for the benchmark's scaling table: every shape
// where a byte or a member could be looked at more than once.
#pragma once

#include <string>
#include <vector>

namespace velto::shapes
{
struct Shape
{
    const char* label;
    bool wideObject;   // a host's parse builds it member by member, in time in their square
    std::string (*make) (size_t bytes);   // a JSON value of about `bytes`
};

/** `piece` again and again, `separator` between, to about `bytes`, between `open` and `close`. */
inline std::string repeated (size_t bytes, const std::string& open, const std::string& close, const std::string& separator,
                             std::string (*piece) (size_t index))
{
    std::string text = open;

    for (size_t i = 0; text.size() < bytes; ++i)
        text.append (i > 0 ? separator : "").append (piece (i));

    return text + close;
}

/** A string of `unit` again and again, to about `bytes`. */
inline std::string text (size_t bytes, const char* unit)
{
    std::string body = "\"";

    while (body.size() < bytes)
        body += unit;

    return body + "\"";
}

inline const std::vector<Shape>& all()
{
    static const std::vector<Shape> shapes {
        { "a plain string", false, [] (size_t bytes) { return text (bytes, "abcdefgh"); } },
        { "text with a \\n every few characters", false, [] (size_t bytes) { return text (bytes, "ab\\ncd\\n"); } },
        { "text with \\\" and \\\\", false, [] (size_t bytes) { return text (bytes, "a\\\"b\\\\c"); } },
        { "text of \\u00e9", false, [] (size_t bytes) { return text (bytes, "\\u00e9"); } },
        { "text of surrogate pairs", false, [] (size_t bytes) { return text (bytes, "\\ud83d\\ude00"); } },
        { "text of raw UTF-8", false, [] (size_t bytes) { return text (bytes, "\xC3\xA9\xE2\x82\xAC"); } },
        { "an array of short strings", false, [] (size_t bytes)
          { return repeated (bytes, "[", "]", ",", [] (size_t i) { return "\"s" + std::to_string (i % 100) + "\""; }); } },
        { "an array of fractions", false, [] (size_t bytes)
          { return repeated (bytes, "[", "]", ",", [] (size_t i) { return std::to_string (i % 1000) + "." + std::to_string (1000 + i % 8999); }); } },
        { "an array of exponents", false, [] (size_t bytes)
          { return repeated (bytes, "[", "]", ",", [] (size_t i) { return "1." + std::to_string (i % 997) + "e-" + std::to_string (i % 300); }); } },
        { "an array of integers beyond 64 bits", false, [] (size_t bytes)
          { return repeated (bytes, "[", "]", ",", [] (size_t i) { return "123456789012345678901" + std::to_string (i % 100); }); } },
        { "an array of notes", false, [] (size_t bytes)
          { return repeated (bytes, "[", "]", ",", [] (size_t i)
            { return "{\"pitch\":" + std::to_string (36 + i % 48) + ",\"start\":" + std::to_string (i / 4) + "." + std::to_string (i % 4 * 25)
                     + ",\"length\":0.25,\"velocity\":0.7874015748031497}"; }); } },
        { "nested arrays and objects", false, [] (size_t bytes)
          { return repeated (bytes, "[", "]", ",", [] (size_t) { return std::string ("[{},[],{\"a\":[{}]}]"); }); } },
        { "a wide object", true, [] (size_t bytes)
          { return repeated (bytes, "{", "}", ",", [] (size_t i) { return "\"" + std::to_string (i) + "\":" + std::to_string (i); }); } },
        { "a wide object, its first name again at the end", true, [] (size_t bytes)
          { auto object = repeated (bytes, "{", "}", ",", [] (size_t i) { return "\"" + std::to_string (i) + "\":" + std::to_string (i); });
            return object.insert (object.size() - 1, ",\"0\":\"again\""); } },
        { "a wide object, every name twice", true, [] (size_t bytes)
          { return repeated (bytes, "{", "}", ",", [] (size_t i) { return "\"" + std::to_string (i / 2) + "\":" + std::to_string (i); }); } },
        { "a wide object of escaped names", true, [] (size_t bytes)
          { return repeated (bytes, "{", "}", ",", [] (size_t i) { return "\"n\\u00e9" + std::to_string (i) + "\":\"x\""; }); } },
    };

    return shapes;
}

/** A tools/call whose arguments hold `value` under one name: how the value comes to the bridge. */
inline std::string toolCall (const std::string& value)
{
    return R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"add_notes","arguments":{"v":)" + value + "}}}";
}
} // namespace velto::shapes

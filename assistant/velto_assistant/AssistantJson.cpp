// The JSON wire format over juce::var: the writer, and the entry points of the reader, whose
// scanner and two walkers are AssistantJsonScanner.h, AssistantJsonBuilder.h and
// AssistantJsonRewriter.h.
//
// JUCE's own JSON code is not used for the wire: its writer escapes non-ASCII as \u, writes
// "\a" and "undefined", and formats numbers differently between versions; its parser recurses
// without limit and wraps integers beyond 64 bits. Bytes on stdout and on the loopback link must
// be the same on every JUCE version and always valid UTF-8 JSON, so both directions live here.
#include "AssistantInternal.h"
#include "AssistantJsonBuilder.h"

namespace velto::assistant
{
namespace
{
using namespace json;

struct Layout
{
    bool multiLine;
    const char* lineBreak;
};

constexpr Layout wireLayout { false, "" }, endpointFileLayout { true, "\r\n" };

void writeLineAndIndent (std::string& out, const Layout& layout, int indent)
{
    if (layout.multiLine)
    {
        out += layout.lineBreak;
        out.append ((size_t) indent, ' ');
    }
}

/** An array's or an object's `count` items between `open` and `close`, each written by
    `writeItem`, on lines of their own where the layout has them. */
template <typename WriteItem>
void writeItems (std::string& out, char open, char close, int count, const Layout& layout, int indent, WriteItem&& writeItem)
{
    out += open;

    for (int i = 0; i < count; ++i)
    {
        if (i > 0)
            out += layout.multiLine ? "," : ", ";

        writeLineAndIndent (out, layout, indent + 2);
        writeItem (i);
    }

    if (count > 0)
        writeLineAndIndent (out, layout, indent);

    out += close;
}

void writeValue (std::string& out, const juce::var& value, const Layout& layout, int indent)
{
    if (value.isString())
    {
        writeString (out, value.toString());
    }
    else if (value.isBool())
    {
        out += (bool) value ? "true" : "false";
    }
    else if (value.isInt() || value.isInt64())
    {
        out += std::to_string ((juce::int64) value);
    }
    else if (value.isDouble())
    {
        out += doubleText ((double) value).view();
    }
    else if (const auto* array = value.getArray())
    {
        writeItems (out, '[', ']', array->size(), layout, indent, [&] (int i)
        {
            writeValue (out, array->getReference (i), layout, indent + 2);
        });
    }
    else if (auto* object = value.getDynamicObject())
    {
        const auto& properties = object->getProperties();

        writeItems (out, '{', '}', properties.size(), layout, indent, [&] (int i)
        {
            const auto& member = properties.begin()[i];   // getName (i) would copy its Identifier
            writeString (out, member.name.toString());
            out += ": ";
            writeValue (out, member.value, layout, indent + 2);
        });
    }
    else if (const auto* literal = dynamic_cast<const JsonLiteral*> (value.getObject()))
    {
        out += literal->text;
    }
    else
    {
        out += "null";   // void, undefined, and what JSON cannot carry (methods, binary data)
    }
}

juce::String toJsonWithLayout (const juce::var& value, const Layout& layout)
{
    std::string out;
    out.reserve (256);
    writeValue (out, value, layout, 0);
    return stringFromValidUtf8 (out);
}
} // namespace

//==============================================================================
bool parseJson (std::string_view utf8, juce::var& result)
{
    Scanner in (utf8);
    juce::var parsed;

    if (! in.atObjectOrArray() || ! Builder (in).parseValue (parsed, 0))
        return false;

    result = std::move (parsed);
    return true;
}

bool parseJson (const juce::String& text, juce::var& result)
{
    return parseJson (std::string_view (text.toRawUTF8(), text.getNumBytesAsUTF8()), result);
}

bool parseEnvelopes (std::string_view utf8, juce::var& result)
{
    Scanner in (utf8);
    juce::var parsed;

    if (! in.atObjectOrArray() || ! Builder (in).parseEnvelopes (parsed))
        return false;

    result = std::move (parsed);
    return true;
}

bool rewriteJson (std::string_view utf8, std::string& out)
{
    const auto size = out.size();
    const auto expectedBytes = utf8.size() + utf8.size() / 4 + 16;   // separators grow by a blank each
    Scanner in (utf8);

    if (in.atObjectOrArray() && Rewriter (in, out, expectedBytes).rewrite (0))
        return true;

    out.resize (size);
    return false;
}

juce::String toJson (const juce::var& value)
{
    return toJsonWithLayout (value, wireLayout);
}

void appendJson (std::string& out, const juce::var& value)
{
    writeValue (out, value, wireLayout, 0);
}

juce::String toJsonMultiLine (const juce::var& value)
{
    return toJsonWithLayout (value, endpointFileLayout);
}
} // namespace velto::assistant

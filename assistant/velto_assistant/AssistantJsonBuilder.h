// The walker that builds values: the juce::var of a whole text (parseJson), or only what
// decides a message's answer (parseEnvelopes). Internal to the module's sources.
#pragma once

#include "AssistantJsonRewriter.h"

namespace velto::assistant::json
{
class Builder
{
public:
    explicit Builder (Scanner& text) : in (text) {}

    /** The value at the scanner, at `depth`. A name given twice in an object keeps its first
        place and takes its last value. */
    bool parseValue (juce::var& result, int depth)
    {
        switch (in.peek())
        {
            case 0:   return false;
            case '{': return parseMembers<keepWhole> (result, depth + 1);
            case '[': return parseArray (result, depth + 1);
            case '"': return parseString (result);
            case 't': result = true;        return in.consumeWord ("true");
            case 'f': result = false;       return in.consumeWord ("false");
            case 'n': result = juce::var(); return in.consumeWord ("null");
            default:  return parseNumber (result);
        }
    }

    /** The envelopes of the object or batch at the scanner: parseEnvelopes. */
    bool parseEnvelopes (juce::var& result)
    {
        if (in.peek() == '{')
            return parseMembers<keptInMessage> (result, 1);

        // A batch, whose elements are at depth 2 as parseValue would take them: each object is a
        // message, and anything else, which gets no answer, is read and dropped
        result = juce::Array<juce::var>();

        return in.elements (1, [&]
        {
            juce::var element;
            const bool read = in.peek() == '{' ? parseMembers<keptInMessage> (element, 2) : in.skipValue (1);
            result.getArray()->add (std::move (element));
            return read;
        });
    }

private:
    Scanner& in;
    std::string scratch;   // the string being read, its memory kept from one to the next

    bool parseArray (juce::var& result, int depth)
    {
        result = juce::Array<juce::var>();

        return in.elements (depth, [&]
        {
            juce::var element;
            const bool read = parseValue (element, depth);
            result.getArray()->add (std::move (element));
            return read;
        });
    }

    /** A string value. U+0000 and unpaired surrogates cannot live in a juce::String, so a value
        holding one becomes a JsonLiteral of its JSON text. */
    bool parseString (juce::var& result)
    {
        bool needsLiteral = false;
        scratch.clear();

        if (! in.readString (scratch, /* literalAllowed */ true, needsLiteral))
            return false;

        if (needsLiteral)
        {
            std::string json;
            writeQuoted (json, scratch);
            result = juce::var (new JsonLiteral (std::move (json)));
        }
        else
        {
            result = stringFromValidUtf8 (scratch);
        }

        return true;
    }

    bool parseNumber (juce::var& result)
    {
        std::string_view text;
        NumberForm form;

        if (! in.number (text, form))
            return false;

        const auto number = readNumber (text, form);

        switch (number.kind)
        {
            case Number::Kind::integer:
                result = number.integer >= INT32_MIN && number.integer <= INT32_MAX ? juce::var ((int) number.integer)
                                                                                    : juce::var (number.integer);
                break;
            case Number::Kind::real:    result = number.real; break;
            case Number::Kind::literal: result = juce::var (new JsonLiteral (std::string (text))); break;
        }

        return true;
    }

    //==============================================================================
    // Objects, whole or in part. The envelopes keep what decides a message's answer, in time in
    // proportion to the text however wide its objects are: a DynamicObject looks a name up among
    // all its members for each one added, and JUCE pools every distinct name, so building a wide
    // object takes time in its width squared.

    /** What becomes of a member: built whole, as parseJson builds all; dropped; kept with an
        object or array as its wire text; or, for "params", kept with its revision alone. */
    enum class Keep { whole, none, value, params };

    static Keep keepWhole (std::string_view) { return Keep::whole; }

    static Keep keptInMessage (std::string_view name)
    {
        if (name == "id" || name == "method")
            return Keep::value;

        return name == "params" ? Keep::params : Keep::none;
    }

    static Keep keptInParams (std::string_view name)
    {
        return name == "protocolVersion" ? Keep::value : Keep::none;
    }

    /** The object at the scanner, with what `kept` says of each member. A name given twice keeps
        its first place and takes its last value. */
    template <Keep (*kept) (std::string_view)>
    bool parseMembers (juce::var& result, int depth)
    {
        auto* object = new juce::DynamicObject();
        result = juce::var (object);
        std::string name;   // its own, as the name is needed after the value is read

        return in.members (depth, [&]
        {
            // Where a name holds U+0000 or an unpaired surrogate, a String cannot, so they
            // become U+FFFD
            bool unused = false;
            name.clear();

            if (! in.readString (name, /* literalAllowed */ false, unused) || ! in.consume (':'))
                return false;

            const auto keep = kept (name);

            if (keep == Keep::none)
                return in.skipValue (depth);

            juce::var member;
            const bool read = keep == Keep::whole ? parseValue (member, depth)
                            : keep == Keep::params && in.peek() == '{' ? parseMembers<keptInParams> (member, depth + 1)
                                                                        : keepValue (member, depth);

            // NamedValueSet::set leaves the old value where JUCE holds it equal to the new one,
            // which it does loosely (0.1 and 0.10000000000000002, [1] and ["1"]): the last value
            // goes in through the property's own slot then
            auto& properties = object->getProperties();
            const NameIdentifier identifier (name);

            if (read && ! properties.set (identifier, member))
                *properties.getVarPointer (identifier) = std::move (member);

            return read;
        });
    }

    /** A value as parseValue gives it, but an object or an array as a JsonLiteral of its wire
        form: what is only ever echoed need not be built. */
    bool keepValue (juce::var& result, int depth)
    {
        if (const auto next = in.peek(); next != '{' && next != '[')
            return parseValue (result, depth);

        std::string wire;

        if (! Rewriter (in, wire).rewrite (depth))
            return false;

        result = juce::var (new JsonLiteral (std::move (wire)));
        return true;
    }
};
} // namespace velto::assistant::json

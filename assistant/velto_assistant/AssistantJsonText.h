// The text of the JSON wire format, for its writer and its reader alike: UTF-8, and the wire
// form of a string's body and of a number. Internal to the module's sources.
#pragma once

#include "AssistantShared.h"
#include "AssistantPlatform.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace velto::assistant::json
{
inline constexpr const char* replacementCharacter = "\xEF\xBF\xBD";   // U+FFFD in UTF-8

/** Printable ASCII but the quote and the backslash: what a JSON string carries as itself, and
    what nearly every string is made of, so it goes in and out in runs. One look-up a byte. */
inline bool isPlainAscii (unsigned char c)
{
    static constexpr auto table = []
    {
        std::array<bool, 256> plain {};

        for (int i = 0x20; i < 0x80; ++i)
            plain[(size_t) i] = i != '"' && i != '\\';

        return plain;
    }();

    return table[c];
}

/** Where the run that starts at `from` ends: at the first byte that `isRun` refuses. Where
    eight bytes are left they are looked at in one step, a word at a time: `marks` sets the high
    bit of each byte of the word that ends the run, and its subtractions borrow only upwards
    from such a byte, so the lowest mark is exact. */
template <typename Marks, typename IsRun>
forcedinline const char* endOfRun (const char* from, const char* end, Marks marks, IsRun isRun)
{
    if constexpr (platform::littleEndian)
    {
        for (; end - from >= 8; from += 8)
        {
            uint64_t bytes;
            std::memcpy (&bytes, from, 8);

            if (const uint64_t marked = marks (bytes); marked != 0)
                return from + __builtin_ctzll (marked) / 8;
        }
    }

    while (from != end && isRun ((unsigned char) *from))
        ++from;

    return from;
}

inline constexpr uint64_t everyByte = 0x0101010101010101ull, everyHighBit = everyByte * 0x80;

// Marks of eight bytes at a time: the high bit of each byte of a word that is of a kind. Their
// subtractions borrow only upwards from a marked byte, so the lowest mark is always exact; marks
// above it are exact only for the kinds that say so.

/** The bytes that equal `c`; exact for every byte. */
inline uint64_t marksOf (uint64_t bytes, char c)
{
    const auto zeroWhereEqual = bytes ^ (everyByte * (unsigned char) c);
    return (zeroWhereEqual - everyByte) & ~zeroWhereEqual & everyHighBit;
}

/** The bytes that are not plain ASCII: a quote or backslash, a control character (below 0x20)
    or anything from 0x80, whose high bit is set already. */
inline uint64_t notPlainAsciiMarks (uint64_t bytes)
{
    return (marksOf (bytes, '"') | marksOf (bytes, '\\') | (bytes - everyByte * 0x20) | bytes) & everyHighBit;
}

/** The bytes that are not decimal digits: below '0' wraps past the high bit, and from ':' on
    adding 0x46 reaches it. */
inline uint64_t notDigitMarks (uint64_t bytes)
{
    return ((bytes - everyByte * '0') | (bytes + everyByte * (0x80 - ':')) | bytes) & everyHighBit;
}

/** Where the run of plain ASCII that starts at `from` ends. */
inline const char* endOfPlainAscii (const char* from, const char* end)
{
    return endOfRun (from, end, notPlainAsciiMarks, isPlainAscii);
}

inline bool isDigit (unsigned char c) { return (unsigned char) (c - '0') < 10; }

/** Where the run of decimal digits that starts at `from` ends. */
inline const char* endOfDigits (const char* from, const char* end)
{
    return endOfRun (from, end, notDigitMarks, isDigit);
}

/** Where the digits of the integer at `from`, which may begin with '-', end. Its first word is
    read before it is known whether the sign is there, which its first byte then says: a wide
    object of numbers is read one member after another, each waiting for the end of the last,
    and a read of that byte alone would add to the wait of every member. */
inline const char* endOfInteger (const char* from, const char* end)
{
    if (platform::littleEndian && end - from >= 8)
    {
        uint64_t bytes;
        std::memcpy (&bytes, from, 8);
        const uint64_t sign = (bytes & 0xFF) == '-' ? 0x80 : 0;

        if (const auto marked = notDigitMarks (bytes) & ~sign; marked != 0)
            return from + __builtin_ctzll (marked) / 8;

        return endOfDigits (from + 8, end);
    }

    return endOfDigits (from + (from != end && *from == '-' ? 1 : 0), end);
}

/** Which of sixteen bytes are not plain ASCII, which are not digits, and which end a member
    (',' or '}'): one bit a byte, the first byte lowest, exact for every byte, where the marks of
    a word are exact only in their lowest. */
struct SixteenMarks
{
    uint32_t notPlainAscii, notDigit, memberEnds;
};

/** The marks of the sixteen bytes from `from`, all of which must be readable. */
inline SixteenMarks marksOfSixteen (const char* from)
{
    platform::SixteenBytes bytes;
    std::memcpy (&bytes, from, sizeof (bytes));
    const auto asSigned = (platform::SixteenSignedBytes) bytes;

    // A byte from 0x80 on is negative, below 0x20 as a control character is; one below '0'
    // wraps past 9
    const platform::SixteenSignedBytes notPlainAscii = (asSigned < 0x20) | (asSigned == '"') | (asSigned == '\\');
    const platform::SixteenSignedBytes notDigit = (platform::SixteenBytes) (bytes - '0') > 9;
    const platform::SixteenSignedBytes memberEnds = (asSigned == ',') | (asSigned == '}');
    return { platform::lanesSetIn (notPlainAscii), platform::lanesSetIn (notDigit), platform::lanesSetIn (memberEnds) };
}

//==============================================================================
// UTF-8

/** Length of the well-formed UTF-8 sequence at p (at most `left` bytes), or 0 when there is
    none. Surrogate code points are not well-formed UTF-8 and give 0. */
inline size_t utf8SequenceLength (const unsigned char* p, size_t left)
{
    const auto lead = p[0];

    if (lead < 0x80)
        return 1;

    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;   // the bounds of the second byte

    if (lead >= 0xC2 && lead <= 0xDF)       length = 2;
    else if (lead == 0xE0)                  { length = 3; low = 0xA0; }
    else if (lead >= 0xE1 && lead <= 0xEC)  length = 3;
    else if (lead == 0xED)                  { length = 3; high = 0x9F; }
    else if (lead >= 0xEE && lead <= 0xEF)  length = 3;
    else if (lead == 0xF0)                  { length = 4; low = 0x90; }
    else if (lead >= 0xF1 && lead <= 0xF3)  length = 4;
    else if (lead == 0xF4)                  { length = 4; high = 0x8F; }
    else                                    return 0;

    if (left < length || p[1] < low || p[1] > high)
        return 0;

    for (size_t i = 2; i < length; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;

    return length;
}

inline void appendUtf8 (std::string& out, uint32_t codePoint)
{
    if (codePoint < 0x80)
    {
        out += (char) codePoint;
    }
    else if (codePoint < 0x800)
    {
        out += (char) (0xC0 | (codePoint >> 6));
        out += (char) (0x80 | (codePoint & 0x3F));
    }
    else if (codePoint < 0x10000)
    {
        out += (char) (0xE0 | (codePoint >> 12));
        out += (char) (0x80 | ((codePoint >> 6) & 0x3F));
        out += (char) (0x80 | (codePoint & 0x3F));
    }
    else
    {
        out += (char) (0xF0 | (codePoint >> 18));
        out += (char) (0x80 | ((codePoint >> 12) & 0x3F));
        out += (char) (0x80 | ((codePoint >> 6) & 0x3F));
        out += (char) (0x80 | (codePoint & 0x3F));
    }
}

inline juce::String stringFromValidUtf8 (const std::string& utf8)
{
    return juce::String::fromUTF8 (utf8.data(), (int) utf8.size());
}

//==============================================================================
// The wire form of a string's body and of a number

/** Writes the bytes as the inside of a JSON string. Well-formed UTF-8 passes as itself. The
    parser stores U+0000 as a NUL byte and an unpaired surrogate as its three-byte form (ED A0..BF
    xx) inside a JsonLiteral's source; both go back out as \u escapes. Any other ill-formed byte
    becomes U+FFFD, so the output is valid UTF-8 whatever a String was built from. */
inline void writeStringBody (std::string& out, const char* data, size_t size)
{
    static constexpr char hexDigits[] = "0123456789abcdef";
    const auto* p = reinterpret_cast<const unsigned char*> (data);
    size_t i = 0;

    auto writeUnicodeEscape = [&out] (uint32_t unit)
    {
        out += "\\u";
        out += hexDigits[(unit >> 12) & 0xF];
        out += hexDigits[(unit >> 8) & 0xF];
        out += hexDigits[(unit >> 4) & 0xF];
        out += hexDigits[unit & 0xF];
    };

    while (i < size)
    {
        const auto c = p[i];

        // A run of plain ASCII, the most of any string, goes out at once
        if (isPlainAscii (c))
        {
            const auto run = i;
            i = (size_t) (endOfPlainAscii (data + i, data + size) - data);
            out.append (data + run, i - run);
            continue;
        }

        switch (c)
        {
            case '"':  out += "\\\""; ++i; continue;
            case '\\': out += "\\\\"; ++i; continue;
            case '\b': out += "\\b";  ++i; continue;
            case '\t': out += "\\t";  ++i; continue;
            case '\n': out += "\\n";  ++i; continue;
            case '\f': out += "\\f";  ++i; continue;
            case '\r': out += "\\r";  ++i; continue;
            default: break;
        }

        if (c < 0x20)
        {
            writeUnicodeEscape (c);
            ++i;
            continue;
        }

        if (const auto length = utf8SequenceLength (p + i, size - i))
        {
            out.append (data + i, length);
            i += length;
        }
        else if (c == 0xED && size - i >= 3 && p[i + 1] >= 0xA0 && p[i + 1] <= 0xBF
                 && p[i + 2] >= 0x80 && p[i + 2] <= 0xBF)
        {
            writeUnicodeEscape (0xD000u | ((p[i + 1] & 0x3Fu) << 6) | (p[i + 2] & 0x3Fu));
            i += 3;
        }
        else
        {
            out += replacementCharacter;
            ++i;
        }
    }
}

inline void writeString (std::string& out, const juce::String& text)
{
    const char* utf8 = text.toRawUTF8();
    out += '"';
    writeStringBody (out, utf8, std::strlen (utf8));
    out += '"';
}

/** A finite double as the fewest significant digits that read back as it, and the decimal
    exponent of the first: 2.5e-15 is { false, "25", -15 }. */
struct ShortestDigits
{
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

inline ShortestDigits shortestDigits (double value)
{
    const platform::ClassicNumbers classicNumbers;   // "0.5", never "0,5", and read back so
    char buffer[64];
    int precision = 1;

    for (; precision < 17; ++precision)
    {
        std::snprintf (buffer, sizeof (buffer), "%.*e", precision - 1, value);

        if (std::equal_to<double>() (std::strtod (buffer, nullptr), value))   // exactly, on purpose
            break;
    }

    std::snprintf (buffer, sizeof (buffer), "%.*e", precision - 1, value);

    // buffer is now "[-]d[.ddd]e[+-]xx": split it into sign, digits and decimal exponent
    ShortestDigits result;
    const char* p = buffer;
    result.negative = (*p == '-');

    if (result.negative)
        ++p;

    for (; *p != 'e'; ++p)
        if (*p != '.')
            result.digits += *p;

    result.exponent = std::atoi (p + 1);
    return result;
}

/** The shortest text that reads back as the same double, in plain digits where that needs at
    most 15 decimal places; a whole number keeps ".0" so that it reads back as a double too.
    Where 15 places would not carry the value (2.5e-15, 0.12345678901234566), a number is never
    rounded to fit: an id must come back as it was sent. Its digits are then written in whichever
    of the plain and the exponent form is shorter. */
inline void writeDouble (std::string& out, double value)
{
    if (! std::isfinite (value))
    {
        out += "null";   // JSON has no infinity or NaN
        return;
    }

    const auto [negative, digits, exponent] = shortestDigits (value);
    const int decimals = std::max (0, (int) digits.size() - 1 - exponent);

    std::string exponentForm (negative ? "-" : "");
    exponentForm += digits[0];

    if (digits.size() > 1)
        exponentForm += '.' + digits.substr (1);

    exponentForm += 'e' + std::to_string (exponent);

    if (exponent >= 21)
    {
        out += exponentForm;   // too large for plain digits
        return;
    }

    if (decimals > 15)
    {
        // A double has at most 17 significant digits, so more than 15 places put the point
        // after the first of them at most
        std::string plain (negative ? "-" : "");

        if (exponent < 0)
            plain.append ("0.").append ((size_t) (-exponent - 1), '0').append (digits);
        else
            plain.append (digits, 0, (size_t) exponent + 1).append (".").append (digits, (size_t) exponent + 1);

        out += plain.size() <= exponentForm.size() ? plain : exponentForm;
        return;
    }

    const platform::ClassicNumbers classicNumbers;
    char buffer[64];
    std::snprintf (buffer, sizeof (buffer), "%.*f", decimals, value);
    out += buffer;

    if (decimals == 0)
        out += ".0";
}
} // namespace velto::assistant::json

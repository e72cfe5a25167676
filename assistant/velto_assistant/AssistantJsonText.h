// The text of the JSON wire format, for its writer and its reader alike: UTF-8, and the wire
// form of a string's body and of a number. Internal to the module's sources.
#pragma once

#include "AssistantInternal.h"

// A double's shortest digits (Dragonbox) and the exact reading of decimal text (fast_float):
// locale-free and header-only, so a host application installs nothing. Each is as its authors
// publish it (but one reworded comment in dragonbox.h), with its licence beside it.
#include "third_party/dragonbox/dragonbox.h"
#include "third_party/fast_float/fast_float.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace velto::assistant::json
{
inline constexpr const char* replacementCharacter = "\xEF\xBF\xBD";   // U+FFFD in UTF-8

/** The letters of the escapes that stand for one character, and at the same place those characters. */
inline constexpr std::string_view escapeLetters = "\"\\/bfnrt", escapedCharacters = "\"\\/\b\f\n\r\t";

/** Printable ASCII but the quote and the backslash: what a JSON string carries as itself, and
    what nearly every string is made of, so it goes in and out in runs. */
inline bool isPlainAscii (unsigned char c)
{
    static constexpr auto table = []   // one look-up a byte: nearly every byte is looked at here
    {
        std::array<bool, 256> plain {};

        for (int i = 0x20; i < 0x80; ++i)
            plain[(size_t) i] = i != '"' && i != '\\';

        return plain;
    }();

    return table[c];
}

inline bool isDigit (unsigned char c) { return c >= '0' && c <= '9'; }

template <typename Predicate>
const char* endOfRun (const char* from, const char* end, Predicate is)
{
    while (from != end && is ((unsigned char) *from))
        ++from;

    return from;
}

/** Length of the well-formed UTF-8 sequence at p (at most `left` bytes), or 0 when there is
    none. Surrogate code points are not well-formed UTF-8 and give 0. */
inline size_t utf8SequenceLength (const unsigned char* p, size_t left)
{
    const auto lead = p[0];
    const size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;

    // The second byte's bounds rule out overlong forms, surrogates and code points past U+10FFFF
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;

    if (length < 2 || left < length || p[1] < low || p[1] > high)
        return length == 1 ? 1 : 0;

    for (size_t i = 2; i < length; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;

    return length;
}

/** Any code point up to U+10FFFF in UTF-8, a surrogate's too (see writeStringBody). */
inline void appendUtf8 (std::string& out, uint32_t codePoint)
{
    char bytes[4];
    juce::CharPointer_UTF8 writer (bytes);
    writer.write ((juce::juce_wchar) codePoint);
    out.append (bytes, (size_t) (writer.getAddress() - bytes));
}

inline juce::String stringFromValidUtf8 (std::string_view utf8)
{
    return juce::String::fromUTF8 (utf8.data(), (int) utf8.size());
}

/** Writes the bytes as the inside of a JSON string. Well-formed UTF-8 passes as itself. The
    parser stores U+0000 as a NUL byte and an unpaired surrogate as its three-byte form (ED A0..BF
    xx) inside a JsonLiteral's source; both go back out as \u escapes. Any other ill-formed byte
    becomes U+FFFD, so the output is valid UTF-8 whatever a String was built from. */
inline void writeStringBody (std::string& out, const char* data, size_t size)
{
    const auto* p = reinterpret_cast<const unsigned char*> (data);

    auto writeUnicodeEscape = [&out] (uint32_t unit)
    {
        char escape[8];
        out.append (escape, (size_t) std::snprintf (escape, sizeof (escape), "\\u%04x", unit));   // no locale touches %x
    };

    for (size_t i = 0; i < size;)
    {
        const auto c = p[i];

        if (isPlainAscii (c))
        {
            const auto run = i;
            i = (size_t) (endOfRun (data + i, data + size, isPlainAscii) - data);
            out.append (data + run, i - run);
        }
        else if (const auto escape = escapedCharacters.find ((char) c); escape != std::string_view::npos)
        {
            out.append ({ '\\', escapeLetters[escape] });
            ++i;
        }
        else if (c < 0x20)
        {
            writeUnicodeEscape (c);
            ++i;
        }
        else if (const auto length = utf8SequenceLength (p + i, size - i))
        {
            out.append (data + i, length);
            i += length;
        }
        else if (c == 0xED && size - i >= 3 && p[i + 1] >= 0xA0 && p[i + 1] <= 0xBF && p[i + 2] >= 0x80 && p[i + 2] <= 0xBF)
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

inline void writeQuoted (std::string& out, std::string_view bytes)
{
    out += '"';
    writeStringBody (out, bytes.data(), bytes.size());
    out += '"';
}

/** The wire form of one number, composed in place and copied out once. The longest ever
    composed, with its sign, is 24 bytes: the plain form of 15 places and 17 digits or shorter
    than the exponent form, the exponent form, or a whole number below 10^21 with ".0". */
struct NumberText
{
    char bytes[32];
    size_t size = 0;

    void put (std::string_view piece) { std::memcpy (bytes + size, piece.data(), piece.size()); size += piece.size(); }
    void putZeros (int count) { std::memset (bytes + size, '0', (size_t) count); size += (size_t) count; }
    std::string_view view() const { return { bytes, size }; }
};

/** The number whose significant digits are `digits` (no leading or trailing zero), the first
    standing for 10^exponent, as the wire writes a double: in plain digits where that needs at
    most 15 decimal places, a whole number with ".0" so that it reads back as a double too.
    Where 15 places would not carry it (2.5e-15, 0.12345678901234566), it is never rounded to fit,
    as an id must come back as it was sent: it goes in whichever of the plain and the exponent
    form is shorter; from 10^21 on in the exponent form. */
inline NumberText decimalText (bool negative, std::string_view digits, int exponent)
{
    const int count = (int) digits.size();
    const int decimals = std::max (0, count - 1 - exponent);
    char power[8];
    const auto powerLength = (int) (std::to_chars (power, power + sizeof (power), exponent).ptr - power);
    const int plainLength = exponent < 0 ? 1 - exponent + count : decimals == 0 ? exponent + 3 : count + 1;
    const int exponentLength = (count > 1 ? count + 1 : 1) + 1 + powerLength;
    NumberText text;

    if (negative)
        text.put ("-");

    if (exponent >= 21 || (decimals > 15 && exponentLength < plainLength))
    {
        text.put (digits.substr (0, 1));
        text.put (count > 1 ? "." : "");
        text.put (digits.substr (1));
        text.put ("e");
        text.put (std::string_view (power, (size_t) powerLength));
    }
    else if (exponent < 0)
    {
        text.put ("0.");
        text.putZeros (-exponent - 1);
        text.put (digits);
    }
    else if (decimals == 0)
    {
        text.put (digits);
        text.putZeros (exponent + 1 - count);
        text.put (".0");
    }
    else
    {
        text.put (digits.substr (0, (size_t) exponent + 1));
        text.put (".");
        text.put (digits.substr ((size_t) exponent + 1));
    }

    return text;
}

/** A double as the fewest digits that read back as it, written as decimalText says; infinity
    and NaN, which JSON lacks, as null. */
inline NumberText doubleText (double value)
{
    NumberText text;

    if (! std::isfinite (value) || std::fpclassify (value) == FP_ZERO)
    {
        text.put (! std::isfinite (value) ? "null" : std::signbit (value) ? "-0.0" : "0.0");
        return text;
    }

    const auto decimal = jkj::dragonbox::to_decimal (std::fabs (value), jkj::dragonbox::policy::sign::ignore);
    char digits[24];
    const auto count = (int) (std::to_chars (digits, digits + sizeof (digits), decimal.significand).ptr - digits);
    const int exponent = decimal.exponent + count - 1;

    if (exponent < 16 || exponent >= 21)
        return decimalText (value < 0, std::string_view (digits, (size_t) count), exponent);

    // A whole number past 2^53, as the integer that the double is, digit for digit: its shortest
    // digits padded with zeros can be another. No locale touches "%.0f".
    text.size = (size_t) std::snprintf (text.bytes, sizeof (text.bytes), "%.0f", value);
    text.put (".0");
    return text;
}

/** What doubleText would give for the JSON number `number`, which has a fraction or an exponent,
    made from its digits alone: a decimal of at most 15 significant digits reads as a double whose
    fewest digits are its own. An empty text where it has more, or stands for zero, for no
    normal double, or for one from 10^16 to 10^21, which is written as the integer it is. */
inline NumberText decimalFromDigits (std::string_view number)
{
    constexpr int maxDigits = 15;
    char digits[maxDigits];
    int count = 0, integerDigits = 0, leadingZeros = 0, power = 0;
    bool afterPoint = false;
    size_t i = number[0] == '-' ? 1 : 0;

    for (; i < number.size() && number[i] != 'e' && number[i] != 'E'; ++i)
    {
        if (number[i] == '.')
        {
            afterPoint = true;
            continue;
        }

        integerDigits += afterPoint ? 0 : 1;

        if (count == 0 && number[i] == '0')
            ++leadingZeros;
        else if (count < maxDigits)
            digits[count++] = number[i];
        else if (number[i] != '0')   // zeros past the places kept are dropped: they trail, or this fails
            return {};
    }

    while (count > 0 && digits[count - 1] == '0')
        --count;

    if (i < number.size())
    {
        const auto* from = number.data() + i + 1;
        const auto [last, error] = std::from_chars (from + (*from == '+' ? 1 : 0), number.data() + number.size(), power);

        if (error != std::errc() || last != number.data() + number.size())
            return {};
    }

    const long exponent = (long) integerDigits - 1 - leadingZeros + power;   // of the first significant digit

    if (count == 0 || exponent < -300 || exponent > 300 || (exponent >= 16 && exponent < 21))
        return {};

    return decimalText (number[0] == '-', std::string_view (digits, (size_t) count), (int) exponent);
}

/** Whether the JSON number `text`, a fraction with no exponent, is already what doubleText
    would give for it, as nearly every fraction that a host writes is: at most 15 digits (a
    double carries those unchanged, and has no shorter form), and no zero at the end of the
    fraction but in "x.0". */
inline bool isWrittenAsDouble (std::string_view text)
{
    const auto digits = text.size() - (text[0] == '-' ? 2 : 1);   // all but the sign and the point
    return digits <= 15 && (text.back() != '0' || text[text.size() - 2] == '.');
}

enum class NumberForm { integer, fraction, exponent };   // what a number has past its integer part

/** The double that the JSON number `text`, which has a fraction or an exponent, stands for, read
    exactly and in no locale; none where no double carries it: beyond a double's range, or so
    small that every digit was lost. */
inline std::optional<double> readDouble (std::string_view text)
{
    double value = 0;
    fast_float::from_chars (text.data(), text.data() + text.size(), value);
    const bool lostEveryDigit = std::fpclassify (value) == FP_ZERO && text.find_first_of ("123456789") < text.find_first_of ("eE");

    if (! std::isfinite (value) || lostEveryDigit)
        return {};

    return value;
}
} // namespace velto::assistant::json

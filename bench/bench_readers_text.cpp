// bench_readers_text.cpp - the readers of text, on the shapes that cost them most.
//
// The byte decoders read UTF-8 strewn with invalid bytes, ISO-2022-JP that
// switches mode at every character and Shift_JIS strewn with invalid lead
// bytes; the writers write many characters ISO-8859-1 cannot hold, and the
// text decoded from invalid ISO-2022-JP back to ISO-2022-JP. The unescaping
// forms read long runs of XML entities, JSON escapes and Base64; the
// replacement of text (VString::Exchange, as "$ref" pointers use it) makes
// many replacements. The date and duration readers read many texts, and one
// text of a very long fraction. See ReaderBench.h for the sizes, names and
// counters.
#include <string>
#include <vector>

#include "bench/ReaderBench.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"
#include "basekit/text/VTextConverter.h"
#include "basekit/text/VTextConverters.h"
#include "basekit/values/VDuration.h"
#include "basekit/values/VTime.h"

using namespace bkit;
using namespace bkit::bench;

namespace {

constexpr CharSet kISO2022JP = 1001;
constexpr CharSet kShiftJIS = 1000;

std::string Repeat(const std::string& piece, int64_t n)
{
    std::string out;
    out.reserve(piece.size() * static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i)
        out += piece;
    return out;
}

// The whole of bytes decoded; false when the decoder stopped short.
bool Decode(CharSet charSet, const std::string& bytes, VString& text)
{
    VToUnicodeConverter* in = VTextConverters::Get()->RetainToUnicodeConverter(charSet);
    if (!in)
        return false;
    size_t consumed = 0;
    text.Clear();
    const bool done = in->ConvertString(bytes.data(), bytes.size(), &consumed, text);
    in->Release();
    return done && consumed == bytes.size() && text.GetLength() > 0;
}

bool Encode(CharSet charSet, const VString& text, size_t* produced)
{
    VFromUnicodeConverter* out = VTextConverters::Get()->RetainFromUnicodeConverter(charSet);
    if (!out)
        return false;
    VFromUnicodeConverter::Buffer buffer;
    const bool done = out->ConvertToBuffer(text.GetCPointer(), text.GetLength(), buffer, 0);
    out->Release();
    *produced = buffer.GetDataSize();
    return done && buffer.GetDataSize() > 0;
}

void DecodeCase(benchmark::State& state, CharSet charSet, const std::string& bytes)
{
    VString text;
    Measure(state, bytes.size(), "not decoded", [&] {
        StErrorContextInstaller quiet(false, true);
        return Decode(charSet, bytes, text);
    });
}

// --- decoders ---

void Utf8InvalidBytes(benchmark::State& state)
{
    DecodeCase(state, VTC_UTF_8, Repeat("a\xFF\xC3z\xE2\x82z", state.range(0)));
}

void Iso2022JPModeSwitches(benchmark::State& state)
{
    // Two-byte JIS X 0208, then ASCII, at every character.
    DecodeCase(state, kISO2022JP, Repeat("\x1B$B\x30\x21\x1B(Ba", state.range(0)));
}

void ShiftJISInvalidBytes(benchmark::State& state)
{
    DecodeCase(state, kShiftJIS, Repeat("\x82\xA0" "a\x81\xFF\xA0", state.range(0)));
}

// --- writers ---

void Latin1Unencodable(benchmark::State& state)
{
    std::vector<UniChar> units;
    for (int64_t i = 0; i < state.range(0); ++i) {
        units.push_back(u'a');
        units.push_back(static_cast<UniChar>(0x4E00 + i % 64));
    }
    const VString text(units.data(), static_cast<VIndex>(units.size()));
    Measure(state, units.size() * 2, "not written", [&] {
        StErrorContextInstaller quiet(false, true);
        size_t produced = 0;
        return Encode(VTC_ISO_8859_1, text, &produced);
    });
}

void Iso2022JPInvalidRoundTrip(benchmark::State& state)
{
    // Byte pairs outside the two-byte table, then bytes no mode holds.
    const std::string bytes = Repeat("\x1B$B\x7F\x21\x1B(B\x80z", state.range(0));
    Measure(state, bytes.size(), "not written", [&] {
        StErrorContextInstaller quiet(false, true);
        VString text;
        size_t produced = 0;
        return Decode(kISO2022JP, bytes, text) && Encode(kISO2022JP, text, &produced);
    });
}

// --- unescaping ---

VString Latin1(const std::string& bytes)
{
    VString text;
    text.FromBlock(bytes.data(), bytes.size(), VTC_ISO_8859_1);
    return text;
}

void XmlEntityRuns(benchmark::State& state)
{
    const std::string xml = Repeat("&amp;&lt;&quot;&#x4E00;", state.range(0));
    const VString text = Latin1(xml);
    Measure(state, xml.size(), "not read", [&] {
        VString copy(text);
        copy.TranscodeFromXML();
        return copy.GetLength() == 4 * state.range(0);
    });
}

void JsonEscapeRuns(benchmark::State& state)
{
    const std::string json = Repeat("\\u00e9\\n\\\"\\ud83d\\ude00", state.range(0));
    const VString text = Latin1(json);
    Measure(state, json.size(), "not read", [&] {
        StErrorContextInstaller quiet(false, true);
        VString out;
        return out.FromJSONString(text, 0) == VE_OK && out.GetLength() == 5 * state.range(0);
    });
}

void Base64Text(benchmark::State& state)
{
    const std::string base64 = Repeat("QUJD\n", state.range(0));
    const VString text = Latin1(base64);
    Measure(state, base64.size(), "not read", [&] {
        VString copy(text);
        return copy.DecodeBase64(VTC_UTF_8, false) && copy.GetLength() == 3 * state.range(0);
    });
}

void ExchangeManyReplacements(benchmark::State& state)
{
    const VString text = Latin1(Repeat("a~1", state.range(0)));
    Measure(state, static_cast<size_t>(text.GetLength()) * 2, "not replaced", [&] {
        VString copy(text);
        copy.Exchange(VString("~1"), VString("/"));
        return copy.GetLength() == 2 * state.range(0);
    });
}

// --- dates and durations ---

// Reads many short texts of a few forms, each into one reader object.
template <typename Reader, size_t N>
void ReadManyTexts(benchmark::State& state, const char* const (&forms)[N], bool (*read)(Reader&, const VString&))
{
    std::vector<VString> texts;
    size_t bytes = 0;
    for (int64_t i = 0; i < state.range(0); ++i) {
        texts.emplace_back(forms[static_cast<size_t>(i) % N]);
        bytes += static_cast<size_t>(texts.back().GetLength());
    }
    Measure(state, bytes, "refused", [&] {
        Reader reader;
        bool all = true;
        for (const VString& text : texts)
            all = read(reader, text) && all;
        return all;
    });
}

void TimeManyTexts(benchmark::State& state)
{
    static const char* const kForms[] = {"2024-02-29T23:59:58.123Z", "1999-12-31T23:00:00+01:00",
                                         "2011-06-15T08:30:00.5-07:00", "0001-01-01T00:00:00Z"};
    ReadManyTexts<VTime>(state, kForms, [](VTime& time, const VString& text) { return time.FromRfc3339String(text); });
}

void TimeLongFraction(benchmark::State& state)
{
    const VString text = Latin1("2024-02-29T23:59:58." + std::string(static_cast<size_t>(state.range(0)), '1') + "Z");
    Measure(state, static_cast<size_t>(text.GetLength()), "not read", [&] {
        VTime time;
        time.FromRfc3339String(text);
        time.FromXMLString(text);
        time.FromString(text);
        return true;
    });
}

void DurationManyTexts(benchmark::State& state)
{
    static const char* const kForms[] = {"P1DT2H3M4.5S", "PT36H", "-P10D", "P1Y2M3DT4H5M6S"};
    ReadManyTexts<VDuration>(state, kForms,
                             [](VDuration& duration, const VString& text) { return duration.FromXMLString(text); });
}

void DurationLongDigits(benchmark::State& state)
{
    const VString text = Latin1("PT0." + std::string(static_cast<size_t>(state.range(0)), '5') + "S");
    Measure(state, static_cast<size_t>(text.GetLength()), "not read", [&] {
        VDuration duration;
        duration.FromXMLString(text);
        duration.FromString(text);
        duration.FromJSONString(text);
        return true;
    });
}

const ReaderCase kCases[] = {
    {"text.utf8", "invalid_bytes", 100000, Utf8InvalidBytes},
    {"text.iso2022jp", "mode_switches", 50000, Iso2022JPModeSwitches},
    {"text.shift_jis", "invalid_bytes", 100000, ShiftJISInvalidBytes},
    {"text.iso8859_1", "unencodable_written", 20000, Latin1Unencodable},
    {"text.iso2022jp", "invalid_round_trip", 20000, Iso2022JPInvalidRoundTrip},
    {"text.xml", "entity_runs", 50000, XmlEntityRuns},
    {"text.json", "escape_runs", 50000, JsonEscapeRuns},
    {"text.base64", "lines", 100000, Base64Text},
    {"string.exchange", "many_replacements", 20000, ExchangeManyReplacements},
    {"time", "many_texts", 10000, TimeManyTexts},
    {"time", "long_fraction", 10000, TimeLongFraction},
    {"duration", "many_texts", 10000, DurationManyTexts},
    {"duration", "long_digits", 10000, DurationLongDigits},
};

}  // namespace

int main(int argc, char** argv)
{
    if (!StartProcess())
        return 1;
    RegisterCases(kCases);
    return RunCases(argc, argv);
}

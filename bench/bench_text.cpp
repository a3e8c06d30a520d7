// bench_text.cpp - UTF-8 to UTF-16 and back, against ICU's string functions.
//
// Bytes per second of UTF-8 over converter Convert calls into a buffer that is
// large enough, on pure 7-bit text and on mixed text (Latin letters with
// accents, CJK, emoji), next to u_strFromUTF8 and u_strToUTF8 on the same
// text and buffers. A legacy charset (ISO-8859-1 through the platform layer)
// shows the cost of that path.
#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <string>
#include <vector>

#include "basekit/text/VTextConverter.h"
#include "basekit/text/VTextConverters.h"

namespace {

using namespace bkit;

std::string MakeText(size_t size, bool mixed)
{
    static const char* const kPieces[] = {"plain words ", "caf\xC3\xA9 cr\xC3\xA8me ", "\xE4\xB8\xAD\xE6\x96\x87 ",
                                          "\xF0\x9F\x98\x80 ", "na\xC3\xAFve \xE2\x82\xAC "};
    std::string text;
    size_t i = 0;
    while (text.size() < size)
        text += mixed ? kPieces[i++ % 5] : kPieces[0];
    // Whole characters only.
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80)
        text.pop_back();
    while (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0)
        text.pop_back();
    return text;
}

std::u16string ToUnits(const std::string& utf8)
{
    std::u16string units(utf8.size(), u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8(units.data(), static_cast<int32_t>(units.size()), &length, utf8.data(),
                  static_cast<int32_t>(utf8.size()), &status);
    units.resize(static_cast<size_t>(length));
    return units;
}

void DecodeOurs(benchmark::State& state, bool mixed)
{
    std::string text = MakeText(static_cast<size_t>(state.range(0)), mixed);
    std::u16string out(text.size(), u'\0');
    VToUnicodeConverter* converter = VTextConverters::Get()->GetStdLibToUnicodeConverter();
    for (auto _ : state) {
        size_t consumed = 0;
        int produced = 0;
        converter->Convert(text.data(), text.size(), &consumed, out.data(), static_cast<int>(out.size()), &produced);
        benchmark::DoNotOptimize(produced);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void DecodeICU(benchmark::State& state, bool mixed)
{
    std::string text = MakeText(static_cast<size_t>(state.range(0)), mixed);
    std::u16string out(text.size(), u'\0');
    for (auto _ : state) {
        int32_t length = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                      static_cast<int32_t>(text.size()), &status);
        benchmark::DoNotOptimize(length);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void EncodeOurs(benchmark::State& state, bool mixed)
{
    std::string text = MakeText(static_cast<size_t>(state.range(0)), mixed);
    std::u16string units = ToUnits(text);
    std::string out(text.size() + 16, '\0');
    VFromUnicodeConverter* converter = VTextConverters::Get()->GetStdLibFromUnicodeConverter();
    for (auto _ : state) {
        int consumed = 0;
        size_t produced = 0;
        converter->Convert(units.data(), static_cast<int>(units.size()), &consumed, out.data(), out.size(), &produced);
        benchmark::DoNotOptimize(produced);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void EncodeICU(benchmark::State& state, bool mixed)
{
    std::string text = MakeText(static_cast<size_t>(state.range(0)), mixed);
    std::u16string units = ToUnits(text);
    std::string out(text.size() + 16, '\0');
    for (auto _ : state) {
        int32_t length = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &length, units.data(),
                    static_cast<int32_t>(units.size()), &status);
        benchmark::DoNotOptimize(length);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void DecodeLatin1(benchmark::State& state)
{
    std::string text(static_cast<size_t>(state.range(0)), 'a');
    for (size_t i = 0; i < text.size(); i += 7)
        text[i] = '\xE9';
    std::u16string out(text.size(), u'\0');
    VToUnicodeConverter* converter = VTextConverters::Get()->RetainToUnicodeConverter(1005);
    for (auto _ : state) {
        size_t consumed = 0;
        int produced = 0;
        converter->Convert(text.data(), text.size(), &consumed, out.data(), static_cast<int>(out.size()), &produced);
        benchmark::DoNotOptimize(produced);
    }
    converter->Release();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

BENCHMARK_CAPTURE(DecodeOurs, ascii, false)->Arg(64)->Arg(64 << 10);
BENCHMARK_CAPTURE(DecodeICU, ascii, false)->Arg(64)->Arg(64 << 10);
BENCHMARK_CAPTURE(DecodeOurs, mixed, true)->Arg(64)->Arg(64 << 10);
BENCHMARK_CAPTURE(DecodeICU, mixed, true)->Arg(64)->Arg(64 << 10);
BENCHMARK_CAPTURE(EncodeOurs, ascii, false)->Arg(64)->Arg(64 << 10);
BENCHMARK_CAPTURE(EncodeICU, ascii, false)->Arg(64)->Arg(64 << 10);
BENCHMARK_CAPTURE(EncodeOurs, mixed, true)->Arg(64)->Arg(64 << 10);
BENCHMARK_CAPTURE(EncodeICU, mixed, true)->Arg(64)->Arg(64 << 10);
BENCHMARK(DecodeLatin1)->Arg(64 << 10);

}  // namespace

BENCHMARK_MAIN();

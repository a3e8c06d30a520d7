// XMacTextConverter.h - converters for legacy charsets over the platform service.
//
// This file defines XMacToUnicodeConverter and XMacFromUnicodeConverter, the
// converters of every charset that is not a Unicode form, built on the
// platform's text-encoding conversion (basekit/platform/TextEncoding.h), and
// the mapping from CharSet to the platform's encoding numbers.
//
// Contracts:
// - A converter is made per request and used by one caller at a time. Check
//   IsValid after construction: a charset the platform does not convert gives
//   an invalid converter (the registry then hands out a void one). The
//   factories XMacIntlMgr::NewToUnicodeConverter and NewFromUnicodeConverter
//   do that check.
// - Failures of the platform conversion push a native error 'CARB' with the
//   platform status and return false, with nothing reported as consumed.
// - Characters the charset cannot hold become "?" on the way out.
#pragma once

#include "basekit/platform/TextEncoding.h"
#include "basekit/text/VTextConverter.h"

namespace bkit {

class XMacToUnicodeConverter : public VToUnicodeConverter {
public:
    explicit XMacToUnicodeConverter(CharSet charSet);
    ~XMacToUnicodeConverter() override;

    // The platform encoding of a CharSet; kTextEncodingUnknown (65535) for
    // every charset the platform is not asked to convert.
    static platform::TextEncoding CharSetToTextEncoding(CharSet charSet);

    bool IsValid() const override { return fInfo != nullptr; }
    // Bytes of a character cut short at the end are left unconsumed.
    bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* target, int targetUnits,
                 int* unitsProduced) override;

private:
    platform::TextEncoding fEncoding;
    platform::TextEncodingConverter* fInfo;
};

class XMacFromUnicodeConverter : public VFromUnicodeConverter {
public:
    explicit XMacFromUnicodeConverter(CharSet charSet);
    ~XMacFromUnicodeConverter() override;

    bool IsValid() const override { return fInfo != nullptr; }
    bool Convert(const UniChar* source, int sourceUnits, int* unitsConsumed, void* target, size_t targetBytes,
                 size_t* bytesProduced) override;
    // By the format of the encoding: 2 for every legacy byte encoding.
    int GetCharSize() const override;

private:
    platform::TextEncoding fEncoding;
    platform::TextEncodingConverter* fInfo;
};

}  // namespace bkit

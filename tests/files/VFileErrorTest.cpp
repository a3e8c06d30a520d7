// VFileErrorTest.cpp - file error records and the percent form of reserved characters.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "basekit/files/VFileError.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"

namespace bkit {
namespace {

std::string Text(const VString& s) { return to_string(s); }

std::string Parameter(const VErrorBase& error, const char* name)
{
    VString text;
    error.GetParameters()->GetProperty(VString(name)).GetString(text);
    return Text(text);
}

TEST(VFileErrorTest, NameAndPathParameters)
{
    struct Case {
        VFilePath path;
        const char* name;
        const char* text;
    } cases[] = {
        {VFilePath(VString("Volume:dir:a.txt")), "a.txt", "Volume:dir:a.txt"},
        {VFilePath(VString("Volume:dir:")), "dir", "Volume:dir:"},
        {VFilePath(VString("Volume:")), "Volume", "Volume:"},
        {VFilePath(), "n/a", "n/a"},
        // An invalid path still names what was asked for.
        {VFilePath(VString("Volume::x")), "x", "Volume::x"},
    };
    for (const Case& c : cases) {
        VFileError* error = new VFileError(c.path, VE_FILE_CANNOT_OPEN);
        EXPECT_EQ(error->GetError(), VE_FILE_CANNOT_OPEN);
        EXPECT_EQ(Parameter(*error, "name"), c.name) << c.text;
        EXPECT_EQ(Parameter(*error, "path"), c.text) << c.text;
        VString own, base;
        error->GetErrorDescription(own);
        error->VErrorBase::GetErrorDescription(base);
        EXPECT_EQ(Text(own), Text(base));
        error->Release();
    }
}

TEST(VFileErrorTest, ScopedRaiserPushesTheNativeCauseBeneath)
{
    StErrorContextInstaller errors(false, true);
    VFilePath path(VString("Vol:dir:f"));
    {
        VError native = MakePOSIXVError(ENOENT);
        StThrowError<VFileError> raise(
            new VFileError(path, VErrorBase::EncodedNativeErrorToVError(native, VE_FILE_CANNOT_DELETE)), native);
        raise->SetString(VString("extra"), VString("1"));
    }
    const VErrorContext::ErrorList& list = errors.GetContext()->GetErrors();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->GetError(), MakePOSIXVError(ENOENT));
    auto* fileError = dynamic_cast<VFileError*>(list[1]);
    ASSERT_NE(fileError, nullptr);
    EXPECT_EQ(Parameter(*fileError, "path"), "Vol:dir:f");
    EXPECT_EQ(Parameter(*fileError, "extra"), "1");
}

TEST(VFileErrorTest, ScopedRaiserFromCodes)
{
    struct Case {
        VError native;
        VError expectedCode;
        bool causeBeneath;
    } cases[] = {
        // 'COCO' and 'MACH' give the operation's code, with the native record beneath.
        {MakeVError(kCOCO_SIGNATURE, 4), VE_FILE_CANNOT_COPY, true},
        {MakeVError(kMACH_SIGNATURE, 5), VE_FILE_CANNOT_COPY, true},
        // A toolbox code passes through without a second record.
        {VE_MEMORY_FULL, VE_MEMORY_FULL, false},
        {VE_UNKNOWN_ERROR, VE_FILE_CANNOT_COPY, false},
    };
    for (const Case& c : cases) {
        StErrorContextInstaller errors(false, true);
        {
            StThrowError<VFileError> raise(VFilePath(VString("Vol:f")), c.native, VE_FILE_CANNOT_COPY);
            EXPECT_EQ(raise.GetError(), c.expectedCode);
        }
        const VErrorContext::ErrorList& list = errors.GetContext()->GetErrors();
        ASSERT_EQ(list.size(), c.causeBeneath ? 2u : 1u);
        if (c.causeBeneath) {
            EXPECT_EQ(list[0]->GetError(), c.native);
        }
        EXPECT_EQ(list.back()->GetError(), c.expectedCode);
        EXPECT_EQ(Parameter(*list.back(), "name"), "f");
    }
}

TEST(ReservedFileCharactersTest, EncodeAndDecode)
{
    struct Case {
        const char* text;
        const char* encoded;
    } cases[] = {
        {"a:b/c", "a%3Ab%2Fc"},
        {"%", "%25"},
        {"letters", "letters"},
        {"", ""},
        {"<>?*|\"\\", "%3C%3E%3F%2A%7C%22%5C"},
        {"tab\there", "tab%09here"},
        {"\x7F\xC3\xA9", "\x7F\xC3\xA9"},  // 127 and anything above 128 stay
    };
    for (const Case& c : cases) {
        VString encoded = EncodeReservedFileCharacters(VString(c.text));
        EXPECT_EQ(Text(encoded), c.encoded) << c.text;
        EXPECT_EQ(Text(DecodeReservedFileCharacters(encoded)), c.text) << c.text;
    }
    const UniChar withNul[] = {u'a', 0, u'b'};
    EXPECT_EQ(Text(EncodeReservedFileCharacters(VString(withNul, 3))), "a%00b");

    struct Decoding {
        const char* text;
        const char* decoded;
    } decodings[] = {
        {"%3A", ":"},
        {"%4", "%4"},
        {"abc%", "abc%"},
        {"%41%", "A%"},
        {"%7e", "~"},
        {"%x1", "\x01"},  // the units are not checked to be digits
    };
    for (const Decoding& d : decodings)
        EXPECT_EQ(Text(DecodeReservedFileCharacters(VString(d.text))), d.decoded) << d.text;
}

}  // namespace
}  // namespace bkit

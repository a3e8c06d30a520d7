// ControlEscapesTest.cpp - control characters written as visible escapes, once.
#include <gtest/gtest.h>

#include <string>

#include "basekit/text/ControlEscapes.h"

namespace bkit {
namespace {

TEST(ControlEscapes, ControlsAreEscapedAndEverythingElseStays)
{
    struct Case {
        const char* what;
        std::string text;
        std::string escaped;
    };
    const Case cases[] = {
        {"plain text", "/Apps/App.app/", "/Apps/App.app/"},
        {"a forged log line", "New\n1 2026-01-01T00:00:00.000 [X] INFO - x",
         "New\\n1 2026-01-01T00:00:00.000 [X] INFO - x"},
        {"tab and carriage return", "a\tb\rc", "a\\tb\\rc"},
        {"other C0 controls and DEL", std::string("\x1B[2J\x01\x7F", 6) + std::string(1, '\0') + "z",
         "\\x1B[2J\\x01\\x7F\\x00z"},
        {"C1 controls (NEL)", "a\xC2\x85" "b\xC2\x9F", "a\\u{85}b\\u{9F}"},
        {"line and paragraph separators", "a\xE2\x80\xA8" "b\xE2\x80\xA9", "a\\u{2028}b\\u{2029}"},
        {"a right-to-left override and an isolate", "ppa.\xE2\x80\xAE" "exe\xE2\x81\xA6",
         "ppa.\\u{202E}exe\\u{2066}"},
        {"letters beside them stay", "\xC3\xA9\xC2\xA0\xE2\x80\x94\xE2\x80\xAF\xE2\x81\xAA",
         "\xC3\xA9\xC2\xA0\xE2\x80\x94\xE2\x80\xAF\xE2\x81\xAA"},
        {"cut and invalid UTF-8 stay", "\xC2\xE2\x80\xFF", "\xC2\xE2\x80\xFF"},
        {"a lead byte takes no letter for a separator", "\xE2" "@" "\xA8", "\xE2" "@" "\xA8"},
        {"nor a control after it", "\xE2\x01\xA8", "\xE2\\x01\xA8"},
        {"a backslash is not escaped", "a\\nb", "a\\nb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.escaped, EscapeControls(c.text));
        EXPECT_EQ(c.escaped != c.text, HasControls(c.text));
        EXPECT_EQ(c.escaped, EscapeControls(c.escaped)) << "escaping again changes nothing";
        EXPECT_FALSE(HasControls(c.escaped));
    }
}

TEST(ControlEscapes, StringsAreEscapedAsTheirUTF8)
{
    VString plain("/Apps/App.app/");
    EXPECT_EQ(plain, EscapeControls(plain));
    VString path("/Apps/New\n\x1B" "App.app/");
    EXPECT_EQ("/Apps/New\\n\\x1BApp.app/", to_string(EscapeControls(path)));
    VString separator;
    separator.AppendUniChar(u'a').AppendUniChar(0x2028).AppendUniChar(0x0085);
    EXPECT_EQ("a\\u{2028}\\u{85}", to_string(EscapeControls(separator)));
}

}  // namespace
}  // namespace bkit

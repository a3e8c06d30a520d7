// VJSONTestSuiteTest.cpp - the reader in strict mode over the shared JSON
// conformance files: every "y_" file is accepted, every "n_" file rejected
// except those this reader's own rules accept (listed below with the rule),
// and no file ("i_" included) crashes it. The files are read from the shared
// bench data; BKIT_JSON_TEST_SUITE names another folder. Without the folder
// the test is skipped.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "basekit/files/VFile.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/runtime/VErrorContext.h"

namespace bkit {
namespace {

std::string SuiteFolder()
{
    const char* env = std::getenv("BKIT_JSON_TEST_SUITE");
    return env && *env ? env : BKIT_SOURCE_DIR "/../shared/bench-data/json-test-suite/test_parsing";
}

std::vector<std::string> SuiteFiles(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0)
                names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// "n_" files that the reader accepts by its rules.
const std::set<std::string> kAcceptedByRule = {
    // Text after the first complete value is ignored.
    "n_array_comma_after_close.json",
    "n_array_extra_close.json",
    "n_object_trailing_comment.json",
    "n_object_trailing_comment_open.json",
    "n_object_trailing_comment_slash_open.json",
    "n_object_trailing_comment_slash_open_incomplete.json",
    "n_object_with_trailing_garbage.json",
    "n_string_with_trailing_garbage.json",
    "n_structure_array_trailing_garbage.json",
    "n_structure_array_with_extra_array_close.json",
    "n_structure_close_unopened_array.json",
    "n_structure_double_array.json",
    "n_structure_object_followed_by_closing_object.json",
    "n_structure_object_with_trailing_garbage.json",
    "n_structure_trailing_#.json",
    "n_multidigit_number_then_00.json",
    // Any escaped character stands for itself; \u keeps the hexadecimal
    // digits among its four characters.
    "n_string_backslash_00.json",
    "n_string_escape_x.json",
    "n_string_invalid_backslash_esc.json",
    "n_string_escaped_ctrl_char_tab.json",
    "n_string_escaped_emoji.json",
    "n_string_incomplete_surrogate_escape_invalid.json",
    "n_string_invalid_unicode_escape.json",
    "n_string_invalid_utf8_after_escape.json",
    "n_string_unicode_CapitalU.json",
    // Control characters are kept inside strings.
    "n_string_unescaped_ctrl_char.json",
    "n_string_unescaped_newline.json",
    "n_string_unescaped_tab.json",
    // Every character below 33 is a blank (a NUL outside strings too).
    "n_structure_whitespace_formfeed.json",
    "n_structure_null-byte-outside-string.json",
    // The number grammar lets an empty integer part through after '-'.
    "n_number_neg_real_without_int_part.json",
    "n_array_just_minus.json",
};

TEST(VJSONTestSuite, StrictReaderOverTheConformanceFiles)
{
    const std::string folder = SuiteFolder();
    const std::vector<std::string> names = SuiteFiles(folder);
    if (names.empty())
        GTEST_SKIP() << "no conformance files in " << folder;

    std::set<std::string> acceptedNegatives;
    for (const std::string& name : names) {
        VFile file(VString((folder + "/" + name).c_str()), FPS_POSIX);
        VJSONValue value;
        VError err;
        {
            StErrorContextInstaller level(false, true);
            err = VJSONImporter::ParseFile(&file, value, VJSONImporter::kOption_Strict);
        }
        if (name[0] == 'y')
            EXPECT_EQ(err, 0u) << name;
        else if (name[0] == 'n' && err == 0)
            acceptedNegatives.insert(name);
        else
            EXPECT_TRUE(err == 0 || err == VE_JSON_MALFORMED) << name;
    }
    std::set<std::string> expected;
    for (const std::string& name : kAcceptedByRule) {
        if (std::find(names.begin(), names.end(), name) != names.end())
            expected.insert(name);
    }
    EXPECT_EQ(acceptedNegatives, expected);
}

}  // namespace
}  // namespace bkit

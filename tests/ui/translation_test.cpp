#include <gtest/gtest.h>

#include <map>
#include <string>

#include "ui/translation.h"

using namespace morvane;

namespace {

struct LocaleCase {
    const char* what;
    std::map<std::string, std::string> environment;
    UiLanguage expected;
};

// Japanese stays the language wherever none is named; any other language gets English,
// and the variables rank as for any program's messages.
TEST(LocaleLanguage, JapaneseUnlessAnotherLanguageIsNamed) {
    const LocaleCase cases[] = {
        {"nothing set", {}, UiLanguage::Japanese},
        {"Japanese", {{"LANG", "ja_JP.UTF-8"}}, UiLanguage::Japanese},
        {"C", {{"LANG", "C"}}, UiLanguage::Japanese},
        {"C.UTF-8", {{"LANG", "C.UTF-8"}}, UiLanguage::Japanese},
        {"POSIX", {{"LANG", "POSIX"}}, UiLanguage::Japanese},
        {"empty LANG", {{"LANG", ""}}, UiLanguage::Japanese},
        {"US English", {{"LANG", "en_US.UTF-8"}}, UiLanguage::English},
        {"German with a modifier", {{"LANG", "de_DE@euro"}}, UiLanguage::English},
        {"LC_MESSAGES over LANG",
         {{"LANG", "ja_JP.UTF-8"}, {"LC_MESSAGES", "fr_FR.UTF-8"}},
         UiLanguage::English},
        {"LC_ALL over both",
         {{"LANG", "en_US.UTF-8"}, {"LC_MESSAGES", "en_GB"}, {"LC_ALL", "C"}},
         UiLanguage::Japanese},
        {"an empty LC_ALL counts as unset",
         {{"LC_ALL", ""}, {"LANG", "en_US.UTF-8"}},
         UiLanguage::English},
    };
    for (const LocaleCase& c : cases) {
        const UiLanguage language = LocaleLanguage([&](const char* name) -> const char* {
            const auto found = c.environment.find(name);
            return found == c.environment.end() ? nullptr : found->second.c_str();
        });
        EXPECT_EQ(language, c.expected) << c.what;
    }
}

} // namespace

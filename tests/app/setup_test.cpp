#include <gtest/gtest.h>

#include <langinfo.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/setup.h"
#include "app/setup_dialog.h"

namespace {

using Modes = std::vector<platform::RawDisplayMode>;

std::unique_ptr<DisplayModeList> build(const Modes& modes) {
    auto list = std::make_unique<DisplayModeList>();
    build_display_mode_list(modes.data(), static_cast<int>(modes.size()), list.get());
    return list;
}

std::vector<DisplaySize> sizes(const DisplayModeList& list) {
    return {list.entries, list.entries + list.count};
}

struct ModeListCase {
    const char* what;
    Modes modes;
    std::vector<DisplaySize> expected;
    int expected_default;
};

void PrintTo(const ModeListCase& c, std::ostream* os) { *os << c.what; }

class ModeList : public testing::TestWithParam<ModeListCase> {};

TEST_P(ModeList, FiltersCollapsesAndPicksTheDefault) {
    const ModeListCase& c = GetParam();
    auto list = build(c.modes);
    EXPECT_EQ(sizes(*list), c.expected) << c.what;
    EXPECT_EQ(default_display_mode(*list), c.expected_default) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModeList,
    testing::Values(
        ModeListCase{"refresh-rate variants of one size collapse",
                     {{1920, 1080, 4}, {1920, 1080, 4}, {1920, 1080, 4}, {1280, 720, 4}},
                     {{1920, 1080}, {1280, 720}},
                     0},
        ModeListCase{"16- and 24-bit modes never appear",
                     {{800, 600, 2}, {1024, 768, 3}, {1280, 1024, 4}, {1920, 1080, 2}},
                     {{1280, 1024}},
                     0},
        ModeListCase{"a size listed twice with another between stays twice; the later 1920x1080 is the default",
                     {{1920, 1080, 4}, {1280, 720, 4}, {1920, 1080, 4}},
                     {{1920, 1080}, {1280, 720}, {1920, 1080}},
                     2},
        ModeListCase{"a skipped 16-bit mode between two equal sizes still collapses them",
                     {{1920, 1080, 4}, {640, 480, 2}, {1920, 1080, 4}},
                     {{1920, 1080}},
                     0},
        ModeListCase{"without 1920x1080 the first entry is the default",
                     {{2560, 1440, 4}, {1280, 720, 4}, {1920, 1200, 4}},
                     {{2560, 1440}, {1280, 720}, {1920, 1200}},
                     0},
        ModeListCase{"a neighbour of the same width and another height is a size of its own",
                     {{1920, 1200, 4}, {1920, 1080, 4}, {1280, 720, 4}},
                     {{1920, 1200}, {1920, 1080}, {1280, 720}},
                     1},
        ModeListCase{"no 32-bit mode at all leaves the list empty", {{800, 600, 2}}, {}, 0}));

TEST(ModeList, StopsAtTheCapacity) {
    Modes modes;
    for (uint32_t i = 0; i < 5000; ++i) modes.push_back({640 + i, 480, 4});
    modes.push_back({1920, 1080, 4});
    auto list = build(modes);
    ASSERT_EQ(list->count, DisplayModeList::capacity);
    EXPECT_EQ(list->entries[4095].width, 640u + 4095u) << "the list keeps the first 4096 entries";
    EXPECT_EQ(default_display_mode(*list), 0) << "the 1920x1080 past the cap is never listed";
}

TEST(ModeList, ComboTextIsWidthXHeight) {
    char text[256];
    format_display_mode({1920, 1080}, text, sizeof text);
    EXPECT_STREQ(text, "1920x1080");
}

TEST(SetupChoice, StartRecordsTheSelectedEntryAndBothBoxes) {
    auto list = build({{1920, 1080, 4}, {1280, 720, 4}});
    SetupChoice choice{};
    record_setup_choice(*list, 1, false, true, &choice);
    EXPECT_TRUE(setup_choice_made(choice));
    EXPECT_EQ(choice.size.width, 1280u);
    EXPECT_EQ(choice.size.height, 720u);
    EXPECT_FALSE(choice.full_screen);
    EXPECT_TRUE(choice.antialias);
}

TEST(SetupChoice, NoSelectionOrAnEmptyListEndsLikeACancel) {
    auto list = build({{1920, 1080, 4}});
    auto empty = build({});
    SetupChoice choice{};
    record_setup_choice(*list, -1, true, true, &choice);
    EXPECT_FALSE(setup_choice_made(choice)) << "nothing selected";
    record_setup_choice(*empty, 0, true, true, &choice);
    EXPECT_FALSE(setup_choice_made(choice)) << "empty list";
    EXPECT_FALSE(choice.full_screen) << "a cancel records nothing";
}

// Under a comma-decimal locale the dialog's toolkit would make printf write
// "0,500000" and strtod stop at the point; numbers stay in the C locale.
TEST(SetupDialogToolkit, KeepsNumbersInTheCLocale) {
    const char* comma_locale = "de_DE.UTF-8";
    locale_t probe = newlocale(LC_NUMERIC_MASK, comma_locale, nullptr);
    ASSERT_NE(probe, nullptr) << comma_locale << " is not installed (locales-all)";
    ASSERT_STREQ(nl_langinfo_l(RADIXCHAR, probe), ",");
    freelocale(probe);

    setenv("LC_ALL", comma_locale, 1);
    const bool ready = init_dialog_toolkit();
    unsetenv("LC_ALL");
    ASSERT_TRUE(ready) << "needs a display";
    EXPECT_EQ(std::string(std::setlocale(LC_MESSAGES, nullptr)), comma_locale) << "the toolkit took the user's locale";

    char text[32];
    std::snprintf(text, sizeof text, "%f", 0.5);
    EXPECT_STREQ(text, "0.500000");
    char* end = nullptr;
    EXPECT_EQ(std::strtod("0.25", &end), 0.25);
    EXPECT_STREQ(end, "");
    EXPECT_EQ(std::strtof("1.5", nullptr), 1.5f);
    std::setlocale(LC_ALL, "C");
}

}  // namespace

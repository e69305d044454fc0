#include "edit_options.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct OptionsCase {
    std::vector<const char*> args;  // after the program name
    const char* error;              // null: accepted
};

TEST(EditOptions, DefaultsAndEveryOption) {
    EditOptions defaults;
    std::string error;
    const char* none[] = {"velmo-edit"};
    ASSERT_TRUE(parse_edit_options(1, none, &defaults, &error));
    EXPECT_EQ(defaults.width, 1280);
    EXPECT_EQ(defaults.height, 720);
    EXPECT_EQ(defaults.host, "127.0.0.1");
    EXPECT_EQ(defaults.port, 1338);
    EXPECT_EQ(defaults.save_dir, ".");
    EXPECT_FALSE(defaults.help);

    EditOptions set;
    const char* all[] = {"velmo-edit", "--size", "640x360", "--host", "localhost", "--port", "4000",
                         "--save-dir", "out", "--help"};
    ASSERT_TRUE(parse_edit_options(10, all, &set, &error)) << error;
    EXPECT_EQ(set.width, 640);
    EXPECT_EQ(set.height, 360);
    EXPECT_EQ(set.host, "localhost");
    EXPECT_EQ(set.port, 4000);
    EXPECT_EQ(set.save_dir, "out");
    EXPECT_TRUE(set.help);
}

TEST(EditOptions, RefusalsNameTheArgument) {
    const OptionsCase cases[] = {
        {{"--size", "640"}, "--size \"640\""},
        {{"--size", "0x360"}, "--size \"0x360\""},
        {{"--size", "640x360x2"}, "--size \"640x360x2\""},
        {{"--port", "70000"}, "--port \"70000\""},
        {{"--port", "12a"}, "--port \"12a\""},
        {{"--host", ""}, "--host \"\""},
        {{"--port"}, "--port needs a value"},
        {{"--fullscreen"}, "unknown option \"--fullscreen\""},
    };
    for (const OptionsCase& c : cases) {
        std::vector<const char*> argv = {"velmo-edit"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        EditOptions options;
        std::string error;
        EXPECT_FALSE(parse_edit_options(static_cast<int>(argv.size()), argv.data(), &options, &error)) << c.error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

}  // namespace

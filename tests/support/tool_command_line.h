// For the tests of the tools that run the show: a table of command lines
// checked against a tool's option parser, and a program's output read whole.
#pragma once
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

template <typename Options>
struct OptionCase {
    std::vector<const char*> args;
    const char* refusal;  // nullptr: accepted; else a part of the one-line message
    std::function<void(const Options&)> check;
};

// Each accepted line is checked, each refused one must say why in one line.
// parse(argc, argv, &options, &message) returns a CommandLineResult.
template <typename Options, typename Parse, typename Result>
void expect_option_table(const char* program, const std::vector<OptionCase<Options>>& cases, Parse parse,
                         Result run, Result refused) {
    for (const OptionCase<Options>& c : cases) {
        std::vector<const char*> argv = {program};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string joined;
        for (const char* a : c.args) joined += std::string(a) + " ";
        SCOPED_TRACE(joined);
        Options o;
        std::string message;
        Result r = parse(static_cast<int>(argv.size()), argv.data(), &o, &message);
        if (c.refusal) {
            EXPECT_EQ(r, refused);
            EXPECT_NE(message.find(c.refusal), std::string::npos) << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << "one line: " << message;
        } else {
            ASSERT_EQ(r, run) << message;
            c.check(o);
        }
    }
}

// Everything a shell command line writes on standard output; *status gets its
// exit status (-1 when it did not exit).
inline std::string command_output(const std::string& command, int* status = nullptr) {
    std::string text;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return text;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0) text.append(chunk, n);
    const int raw = pclose(p);
    if (status) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return text;
}

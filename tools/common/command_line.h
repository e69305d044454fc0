// Command lines of the tools that run the show (velmo-capture, velmo-bench):
// long options in the usual style ("--size 640x360" or "--size=640x360"),
// "--help", and value readers that say in one line why a value is refused.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct OptionSpec {
    const char* name;   // without the dashes
    bool takes_value;
    // Reads the value (empty for a flag); false with the reason in *why.
    std::function<bool(std::string_view value, std::string* why)> apply;
};

enum class CommandLineResult { Run, Help, Refused };

// Walks argv[1..]. Refused with one line in *error: an unknown option, a
// missing value, a value given to a flag, a word that is no option, or what an
// apply refused ("--size '19x': <why>").
CommandLineResult parse_command_line(int argc, const char* const* argv, const std::vector<OptionSpec>& options,
                                     std::string* error);

// What a tool does with the result: the help on standard output (exit status
// 0), the refusal on standard error as "<program>: <line>" (status 2), or -1 to
// go on and run.
int command_line_exit_status(CommandLineResult result, const std::string& message, const char* program);

// The last music row: 190.0 s at 400 rows a minute.
inline constexpr double kLastRow = 190.0 * 6.666666666666667;

// Value readers: true with the value, or false with why it was refused.
bool parse_size(std::string_view text, int* width, int* height, std::string* why);  // WxH, 16 .. 8192 each
bool parse_int_in(std::string_view text, int low, int high, int* value, std::string* why);
bool parse_row(std::string_view text, double* row, std::string* why);                  // 0 .. kLastRow
bool parse_row_range(std::string_view text, double* from, double* to, std::string* why);  // A-B, A < B
bool parse_on_off(std::string_view text, bool* value, std::string* why);
// One of the words in `choices`; *index says which.
bool parse_choice(std::string_view text, const std::vector<const char*>& choices, int* index, std::string* why);

// How a run gets to its first row. Run draws every frame from row 0 (what the
// show would show there, slow for late rows); jump pulls the music ahead and
// starts drawing at the first row (fast, but parts that build up over time,
// such as a scene's pile of pieces, start afresh there).
enum class SeekMode { Run, Jump };
bool parse_seek(std::string_view text, SeekMode* mode, std::string* why);  // run or jump

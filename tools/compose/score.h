// The score: a small line-based text format (described at the top of
// data/music/score.txt) parsed into instruments, chords, patterns, plays and
// automation, and scheduled into timed notes. Errors name the source, the line
// and what was wrong; nothing here throws.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace compose {

struct Instrument {
    std::string name;
    std::string kind;                       // one of the synthesiser's voice kinds
    std::map<std::string, double> params;   // only the keys written in the score
    int line = 0;
};

// One row of a pattern.
struct Step {
    enum Kind { Rest, Hold, Hit } kind = Rest;
    std::vector<double> pitches;  // MIDI numbers; empty means the instrument's own note
    double velocity = 0.0;
};

struct Pattern {
    std::string name;
    int instrument = -1;
    std::vector<Step> steps;
    int line = 0;
};

// A pattern looped from row `from` up to (not including) row `to`.
struct Play {
    int from = 0, to = 0;
    int pattern = -1;
    int transpose = 0;  // semitones
    int offset = 0;     // rows into the pattern at which the play starts
    int line = 0;
};

// Piecewise-linear curve over rows; held flat before the first and after the last point.
struct Automation {
    int instrument = -1;  // -1: the master bus
    std::string param;    // "gain" (dB) or, on the master, also "cutoff" (Hz)
    std::vector<std::pair<double, double>> points;  // (row, value), rows increasing
    double value_at(double row) const;
};

// A named row: a section's first row or a moment the picture meets. The
// synthesiser ignores them; the listening report reads its figures by them.
struct Mark {
    int row = 0;
    std::string name;
    int line = 0;
};

struct Score {
    double tempo = 100.0;      // beats per minute; a row is a sixteenth note
    double swing = 0.0;        // odd rows start late by this fraction of a row
    double length_s = 192.0;   // seconds written to the file
    uint64_t seed = 1;
    double humanize_time_s = 0.0, humanize_velocity = 0.0;
    std::map<std::string, double> master, reverb, delay;
    std::vector<Instrument> instruments;
    std::map<std::string, std::vector<double>> chords;
    std::vector<Pattern> patterns;
    std::vector<Play> plays;
    std::vector<Automation> automations;
    std::vector<Mark> sections, moments;  // rows increasing

    double row_seconds() const { return 60.0 / tempo / 4.0; }
    int find_instrument(std::string_view name) const;
};

struct ParseResult {
    bool ok = false;
    std::string error;  // "<source>:<line>: <what>" when not ok
    Score score;
};

ParseResult parse_score(std::string_view text, std::string_view source_name);
// Reads and parses the score at `path`; "<path>: cannot be read" when it cannot be opened.
ParseResult load_score(const char* path);

// A note ready to synthesise: times in seconds, swing and humanising applied.
struct Note {
    int instrument = 0;
    double start_s = 0.0;
    double length_s = 0.0;
    std::vector<double> pitches;  // MIDI numbers, at least one
    double velocity = 0.0;
};

// Every note of every play, ordered by instrument, then start time, then play order.
std::vector<Note> schedule(const Score& score);

// Parses "C4", "F#2", "Bb-1" into a MIDI number (C4 = 60); false if it is not a note name.
bool parse_note_name(std::string_view text, double* midi);

}  // namespace compose

// The score format: errors that name the line and what was wrong, note names,
// and how patterns become timed notes (holds, loops, the end row, swing,
// chords, transposition).
#include <gtest/gtest.h>

#include <string>

#include "score.h"

namespace {

using compose::parse_score;

struct BadScore {
    const char* text;
    const char* error;  // the whole message after "test.txt:"
};

class ScoreErrors : public ::testing::TestWithParam<BadScore> {};

TEST_P(ScoreErrors, NameTheLineAndTheFault) {
    const compose::ParseResult r = parse_score(GetParam().text, "test.txt");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, std::string("test.txt:") + GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScoreErrors,
    ::testing::Values(
        BadScore{"tempo fast", "1: tempo: 'fast' is not a number"},
        BadScore{"tempo 1000", "1: tempo must be 20 to 400 beats per minute"},
        BadScore{"swing 0.5", "1: swing must be at least 0 and below 0.5 of a row"},
        BadScore{"# comment\nlength 0", "2: length must be above 0 and at most 600 seconds"},
        BadScore{"frobnicate 3", "1: unknown statement 'frobnicate'"},
        BadScore{"instrument k kik", "1: instrument 'k': unknown kind 'kik'"},
        BadScore{"instrument k kick gian=3", "1: instrument 'k': unknown setting 'gian'"},
        BadScore{"instrument k kick gain=loud", "1: instrument 'k' gain: 'loud' is not a number"},
        BadScore{"instrument k kick gain=+", "1: instrument 'k' gain: '+' is not a number"},
        BadScore{"instrument k kick\ninstrument k snare", "2: instrument 'k' is defined twice"},
        BadScore{"master ceiling", "1: master: expected key=value, got 'ceiling'"},
        BadScore{"chord G7 G3 B3", "1: chord name 'G7' must be a name that is not 'x' or a note name"},
        BadScore{"chord Am A3 H3", "1: chord 'Am': 'H3' is not a note name"},
        BadScore{"pattern p k", "1: pattern 'p': no instrument 'k'"},
        BadScore{"instrument k kick\npattern p k\n    x . H3 .", "3: pattern 'p': 'H3' is neither '.', '-', 'x', a note name nor a chord"},
        BadScore{"instrument k kick\npattern p k\n    - x", "3: pattern 'p': hold '-' with no note before it"},
        BadScore{"instrument k kick\npattern p k\n    x . -", "3: pattern 'p': hold '-' after a rest"},
        BadScore{"instrument k kick\npattern p k\n    x*0", "3: pattern 'p': repeat count in 'x*0' must be 1 to 4096"},
        BadScore{"instrument k kick\npattern p k\nplay 0 16 p", "2: pattern 'p' has no rows"},
        BadScore{"instrument k kick\npattern p k\n    x\nplay 16 8 p", "4: play rows 16 to 8 are empty or negative"},
        BadScore{"instrument k kick\npattern p k\n    x\nplay 0 16 p q", "4: play: no pattern 'q'"},
        BadScore{"instrument k kick\npattern p k\n    x\nplay 0 16 p:up", "4: play transpose: 'up' is not a whole number"},
        BadScore{"instrument k kick\npattern p k\n    x\nplay 0 16 p@-2", "4: play offset must not be negative ('p@-2')"},
        BadScore{"    x .", "1: indented line outside a pattern"},
        BadScore{"instrument k kick\nautomate k cutoff 0:100", "2: automate: 'cutoff' cannot be automated on k"},
        BadScore{"automate master gain 10:0 5:-3", "1: automate: rows must increase ('5:-3')"},
        BadScore{"automate nobody gain 0:0", "1: automate: no instrument 'nobody'"},
        BadScore{"section 16", "1: 'section' needs a row and a name"},
        BadScore{"section 16 verse\nsection 16 chorus", "2: section row 16 must come after row 16"},
        BadScore{"moment -4 doors", "1: moment row -4 is negative"},
        BadScore{"moment x doors", "1: moment row: 'x' is not a whole number"},
        BadScore{"master highpas=35", "1: master: unknown setting 'highpas'"}));

TEST(LoadScore, NamesAFileThatCannotBeRead) {
    const compose::ParseResult r = compose::load_score("/nonexistent/score.txt");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "/nonexistent/score.txt: cannot be read");
}

TEST(NoteNames, ParseToMidiNumbers) {
    struct Case {
        const char* text;
        double midi;
    };
    for (const Case& c : {Case{"C4", 60}, Case{"A4", 69}, Case{"F#2", 42}, Case{"Bb-1", 10}, Case{"C-1", 0},
                          Case{"G9", 127}, Case{"B#3", 60}, Case{"Cb4", 59}}) {
        double m = -1;
        EXPECT_TRUE(compose::parse_note_name(c.text, &m)) << c.text;
        EXPECT_EQ(m, c.midi) << c.text;
    }
    for (const char* bad : {"H3", "C", "C#", "c4", "C10", "C-2", "x", "Am7", "C4^"}) {
        double m = -1;
        EXPECT_FALSE(compose::parse_note_name(bad, &m)) << bad;
    }
}

TEST(ScoreComments, StartOnlyAtAWordSoSharpsStayNotes) {
    const compose::ParseResult r = parse_score(
        "instrument k pluck note=50  # the base note\n"
        "chord Fs F#3 A#3 C#4   # a chord with sharps\n"
        "pattern p k\n"
        "    F#2 Fs   # two rows\n",
        "test.txt");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.score.patterns[0].steps.size(), 2u);
    EXPECT_EQ(r.score.patterns[0].steps[0].pitches, std::vector<double>{42});
    EXPECT_EQ(r.score.patterns[0].steps[1].pitches, (std::vector<double>{54, 58, 61}));
}

TEST(ScoreMarks, NameSectionsAndMomentsByRow) {
    const compose::ParseResult r = parse_score(
        "section 0 intro\nsection 192 the break  # a comment\nmoment 536 doors open\nmoment 552 doors\n", "test.txt");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.score.sections.size(), 2u);
    EXPECT_EQ(r.score.sections[1].row, 192);
    EXPECT_EQ(r.score.sections[1].name, "the break");
    ASSERT_EQ(r.score.moments.size(), 2u);
    EXPECT_EQ(r.score.moments[0].name, "doors open");
    EXPECT_EQ(r.score.moments[1].row, 552);
}

TEST(ScoreSettings, KeepTheirValuesWithOrWithoutASign) {
    const compose::ParseResult r = parse_score(
        "instrument k kick gain=+3 pan=-0.5 decay=2e-1\nmaster gain=+1.5 ceiling=-2\nautomate master gain 0:+2 8:-1\n", "test.txt");
    ASSERT_TRUE(r.ok) << r.error;
    const auto& p = r.score.instruments[0].params;
    EXPECT_DOUBLE_EQ(p.at("gain"), 3.0);
    EXPECT_DOUBLE_EQ(p.at("pan"), -0.5);
    EXPECT_DOUBLE_EQ(p.at("decay"), 0.2);
    EXPECT_DOUBLE_EQ(r.score.master.at("gain"), 1.5);
    EXPECT_DOUBLE_EQ(r.score.master.at("ceiling"), -2.0);
    EXPECT_DOUBLE_EQ(r.score.automations[0].value_at(0), 2.0);
}

// A pattern of 8 rows looped over 15: the second pass is cut at row 15.
constexpr const char* kLoopScore =
    "tempo 100\n"
    "instrument k pluck note=50\n"
    "chord Am A3 C4 E4\n"
    "pattern p k\n"
    "    x - . C4^ | x_ . Am -\n"
    "play 0 15 p\n";

TEST(Schedule, HoldsLoopsAndTheEndRowShapeNotes) {
    const compose::ParseResult r = parse_score(kLoopScore, "test.txt");
    ASSERT_TRUE(r.ok) << r.error;
    const std::vector<compose::Note> notes = compose::schedule(r.score);
    struct Expect {
        int row, rows;
        std::vector<double> pitches;
        double velocity;
    };
    const std::vector<Expect> expected = {
        {0, 2, {50}, 0.75}, {3, 1, {60}, 1.0}, {4, 1, {50}, 0.4}, {6, 2, {57, 60, 64}, 0.75},
        {8, 2, {50}, 0.75}, {11, 1, {60}, 1.0}, {12, 1, {50}, 0.4}, {14, 1, {57, 60, 64}, 0.75},  // cut at row 15
    };
    ASSERT_EQ(notes.size(), expected.size());
    for (size_t i = 0; i < notes.size(); ++i) {
        SCOPED_TRACE("note " + std::to_string(i));
        EXPECT_NEAR(notes[i].start_s, expected[i].row * 0.15, 1e-9);
        EXPECT_NEAR(notes[i].length_s, expected[i].rows * 0.15, 1e-9);
        EXPECT_EQ(notes[i].pitches, expected[i].pitches);
        EXPECT_DOUBLE_EQ(notes[i].velocity, expected[i].velocity);
    }
}

TEST(Schedule, SwingDelaysOddRowsAndTransposeShiftsEveryPitch) {
    const compose::ParseResult r = parse_score(
        "tempo 120\nswing 0.25\n"
        "instrument k pluck note=50\n"
        "pattern p k\n    x*4\n"
        "play 0 2 p:-12\n"
        "play 2 4 p:3\n",
        "test.txt");
    ASSERT_TRUE(r.ok) << r.error;
    const std::vector<compose::Note> notes = compose::schedule(r.score);
    ASSERT_EQ(notes.size(), 4u);
    const double row = 60.0 / 120.0 / 4.0;
    const double starts[4] = {0.0, 1.25 * row, 2.0 * row, 3.25 * row};
    const double pitches[4] = {38, 38, 53, 53};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(notes[size_t(i)].start_s, starts[i], 1e-9) << "note " << i;
        EXPECT_EQ(notes[size_t(i)].pitches, std::vector<double>{pitches[i]}) << "note " << i;
    }
    // A note on an even row that ends on an odd one lasts until that row's swung start.
    EXPECT_NEAR(notes[0].length_s, 1.25 * row, 1e-9);
}

TEST(Schedule, AnOffsetStartsThePlayPartWayIntoItsPattern) {
    const compose::ParseResult r = parse_score(
        "instrument k pluck\npattern p k\n    C4 D4 E4 F4\nplay 8 11 p:1@2\n", "test.txt");
    ASSERT_TRUE(r.ok) << r.error;
    const std::vector<compose::Note> notes = compose::schedule(r.score);
    ASSERT_EQ(notes.size(), 3u);
    const double expected[3] = {65, 66, 61};  // E4 F4 C4, a semitone up
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(notes[size_t(i)].start_s, (8 + i) * 0.15, 1e-9);
        EXPECT_EQ(notes[size_t(i)].pitches, std::vector<double>{expected[i]});
    }
}

TEST(Automation, IsLinearBetweenPointsAndFlatOutside) {
    compose::Automation a;
    a.points = {{16, -6}, {32, 0}, {48, -12}};
    struct Case {
        double row, value;
    };
    for (const Case& c : {Case{0, -6}, Case{16, -6}, Case{24, -3}, Case{32, 0}, Case{40, -6}, Case{48, -12}, Case{99, -12}})
        EXPECT_DOUBLE_EQ(a.value_at(c.row), c.value) << "row " << c.row;
}

}  // namespace

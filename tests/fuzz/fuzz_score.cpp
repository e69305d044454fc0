// The score parser over arbitrary text: it either refuses with
// "<source>:<line>: <what>" or gives a score whose references all resolve, and
// a score of modest length schedules into notes that each have a pitch.
#include <string_view>

#include "fuzz_target.h"
#include "score.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    compose::ParseResult result = compose::parse_score(text, "fuzz.txt");
    if (!result.ok) {
        FUZZ_CHECK(result.error.rfind("fuzz.txt:", 0) == 0);
        return 0;
    }
    const compose::Score& score = result.score;
    const int instruments = static_cast<int>(score.instruments.size());
    const int patterns = static_cast<int>(score.patterns.size());
    for (const compose::Pattern& p : score.patterns) FUZZ_CHECK(p.instrument >= 0 && p.instrument < instruments);
    long long play_rows = 0;
    for (const compose::Play& play : score.plays) {
        FUZZ_CHECK(play.pattern >= 0 && play.pattern < patterns);
        play_rows += static_cast<long long>(play.to) - play.from;
    }
    for (const compose::Automation& a : score.automations) FUZZ_CHECK(a.instrument >= -1 && a.instrument < instruments);
    // Scheduling is linear in the rows played; the real score plays a few
    // thousand, so long inputs are only parsed.
    if (play_rows > 20000) return 0;
    for (const compose::Note& note : compose::schedule(score)) {
        FUZZ_CHECK(note.instrument >= 0 && note.instrument < instruments);
        FUZZ_CHECK(!note.pitches.empty());
    }
    return 0;
}

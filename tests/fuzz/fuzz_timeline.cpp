// The timeline compiler over arbitrary XML: it either refuses the project with
// one line naming the place, or gives tracks that the show can read as they
// are (strictly ascending rows, a known interpolation, finite values).
#include <cmath>
#include <string>

#include "fuzz_target.h"
#include "track_compiler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string xml(reinterpret_cast<const char*>(data), size);  // the parser reads up to the first zero
    CompiledTimeline timeline;
    std::string error;
    if (!compile_timeline(xml.c_str(), "fuzz.rocket", timeline, error)) {
        FUZZ_CHECK(error.rfind("fuzz.rocket:", 0) == 0 && error.find('\n') == std::string::npos);
        return 0;
    }
    FUZZ_CHECK(error.empty());
    for (const std::vector<TrackKey>& keys : timeline.tracks) {
        for (size_t k = 0; k < keys.size(); ++k) {
            FUZZ_CHECK(keys[k].type >= KEY_STEP && keys[k].type <= KEY_RAMP);
            FUZZ_CHECK(std::isfinite(keys[k].value));
            if (k > 0) FUZZ_CHECK(keys[k].row > keys[k - 1].row);
        }
        // What the compiler writes is what the show reads back.
        const std::vector<unsigned char> file = write_track_file(keys.data(), keys.size());
        const std::vector<TrackKey> back = read_track_file(file.data(), file.size());
        FUZZ_CHECK(back.size() == keys.size());
    }
    return 0;
}

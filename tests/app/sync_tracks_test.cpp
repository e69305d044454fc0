// The track set: the player's lookup rules on small hand-made tracks, the name
// encodings and the file callbacks, short files, the row clock, and the
// shipped timeline as the show reads it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/sync_track_fixture.h"
#include "app/sync_tracks.h"

namespace {

class SyncTracks : public ::testing::Test {
protected:
    void TearDown() override { destroy_sync_tracks(); }
};

// ---------------------------------------------------------------------------
// Lookup rules

struct LookupCase {
    const char* what;
    std::vector<TrackKey> keys;
    float row;
    double expected;
};

const std::vector<LookupCase> lookup_cases = {
    {"linear, exactly on the key (t = 0)", {{0, 0, KEY_LINEAR}, {2, 10, KEY_STEP}}, 0.0f, 0.0},
    {"linear, halfway", {{0, 0, KEY_LINEAR}, {2, 10, KEY_STEP}}, 1.0f, 5.0},
    {"smooth, halfway", {{0, 0, KEY_SMOOTH}, {4, 10, KEY_STEP}}, 2.0f, 5.0},
    {"smooth, t = 0.25", {{0, 0, KEY_SMOOTH}, {4, 10, KEY_STEP}}, 1.0f, 1.5625},
    // The player weighs first: d * (t * t * (3 - 2t)); ((d * t) * t) * (3 - 2t) gives 0.0011669922222063182.
    {"smooth, the weight grouped as the player groups it", {{0, 0, KEY_SMOOTH}, {16, 10, KEY_STEP}}, 0.1f,
     0.001166992222206318},
    {"ramp, halfway", {{0, 0, KEY_RAMP}, {2, 10, KEY_STEP}}, 1.0f, 2.5},
    {"step holds the key's value", {{0, 3, KEY_STEP}, {2, 10, KEY_STEP}}, 1.5f, 3.0},
    {"an unknown type reads 0", {{0, 3, 7}, {2, 10, KEY_STEP}}, 1.0f, 0.0},
    {"a negative type reads 0", {{0, 3, -1}, {2, 10, KEY_STEP}}, 1.0f, 0.0},
    {"fractional row: floor for the search, full row for t", {{100, 0, KEY_LINEAR}, {101, 10, KEY_STEP}}, 100.75f, 7.5},
    {"fractional row just under the next key", {{100, 0, KEY_LINEAR}, {101, 8, KEY_STEP}}, 100.875f, 7.0},
    {"before the first key: its value", {{10, 4, KEY_LINEAR}, {20, 8, KEY_STEP}}, 3.0f, 4.0},
    {"negative row before the first key", {{0, 4, KEY_LINEAR}, {20, 8, KEY_STEP}}, -0.5f, 4.0},
    {"on the last key", {{10, 4, KEY_LINEAR}, {20, 8, KEY_LINEAR}}, 20.0f, 8.0},
    {"after the last key: its value, whatever its type", {{10, 4, KEY_LINEAR}, {20, 8, KEY_LINEAR}}, 1e6f, 8.0},
    {"a single key holds everywhere", {{50, -2.5f, KEY_RAMP}}, 7.0f, -2.5},
    {"exact hit on a middle key", {{0, 1, KEY_STEP}, {5, 2, KEY_LINEAR}, {9, 6, KEY_STEP}}, 5.0f, 2.0},
    {"between the middle and last key", {{0, 1, KEY_STEP}, {5, 2, KEY_LINEAR}, {9, 6, KEY_STEP}}, 7.0f, 4.0},
    // 1.0f - 1e8f is -1e8 in single precision; a difference in double would give 50000000.5.
    {"the value difference is taken in single precision", {{0, 1e8f, KEY_LINEAR}, {2, 1.0f, KEY_STEP}}, 1.0f, 5e7},
};

void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.what; }

class TrackLookup : public ::testing::TestWithParam<LookupCase> {
protected:
    void TearDown() override { destroy_sync_tracks(); }
};

TEST_P(TrackLookup, GivesThePlayersValue) {
    const LookupCase& c = GetParam();
    TrackTableFixture table;
    table.add_track("param", c.keys);
    ASSERT_TRUE(table.open());
    EXPECT_EQ(track_value(TRACK_PARAM, c.row), c.expected) << c.what;
    EXPECT_EQ(track_value(sync_tracks.tracks[TRACK_PARAM], c.row), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, TrackLookup, ::testing::ValuesIn(lookup_cases));

// Many keys: the search must find the last key at or before floor(row) at
// every row, including the edges of every halving.
TEST_F(SyncTracks, BinarySearchFindsTheFloorKeyAtEveryRow) {
    std::vector<TrackKey> keys;
    for (int k = 0; k < 159; ++k) keys.push_back({3 * k + 1, float(k), KEY_STEP});
    TrackTableFixture table;
    table.add_track("img0:scale", keys);
    ASSERT_TRUE(table.open());
    for (int tenth = -30; tenth < 4900; ++tenth) {
        float row = tenth / 10.0f;
        int r = int(std::floor(row));
        double expected = r < 1 ? 0.0 : std::min((r - 1) / 3, 158);
        ASSERT_EQ(track_value(TRACK_IMG0_SCALE, row), expected) << "row " << row;
    }
}

TEST_F(SyncTracks, ATrackWithoutKeysOrWithoutAFileReadsZero) {
    TrackTableFixture table;
    table.add_track("light", {});  // a file holding a count of 0
    ASSERT_TRUE(table.open());
    for (TrackSlot slot : {TRACK_LIGHT, TRACK_PART, TRACK_CAM_X})
        for (float row : {-3.0f, 0.0f, 100.5f, 1266.0f}) EXPECT_EQ(track_value(slot, row), 0.0) << slot << " " << row;
    EXPECT_TRUE(sync_tracks.tracks[TRACK_LIGHT]->keys.empty());
    EXPECT_EQ(track_value(nullptr, 5.0f), 0.0);
}

// ---------------------------------------------------------------------------
// Names and file callbacks

struct NameCase {
    const char* name;
    const char* requested;  // P
    const char* stored;     // E
};

TEST(TrackNames, EncodeAsThePlayerAsksAndTheTableStores) {
    const NameCase cases[] = {
        {"bg.index", "bg.index", "bg.index"},
        {"cam:at.x", "cam-3Aat.x", "cam_3Aat.x"},
        {"a-b", "a-2Db", "a_2Db"},
        {"dir/x_y", "dir/x_y", "dir/x_y"},
        {"two words", "two-20words", "two_20words"},
        {"\xC3\xA9t\xC3\xA9", "-C3-A9t-C3-A9", "_C3_A9t_C3_A9"},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(encode_track_name(c.name, '-'), c.requested) << c.name;
        EXPECT_EQ(encode_track_name(c.name, '_'), c.stored) << c.name;
    }
    EXPECT_EQ(track_file_name("post:vignette"), "sync_post_3Avignette.track");
    // Cut at 259 characters, an escape never split.
    EXPECT_EQ(encode_track_name(std::string(300, 'a'), '-'), std::string(259, 'a'));
    EXPECT_EQ(encode_track_name(std::string(257, 'a') + ":", '-'), std::string(257, 'a'));
}

TEST(TrackNames, SlotsFollowTheNameTable) {
    EXPECT_EQ(track_slot("bg.index"), TRACK_BG_INDEX);
    EXPECT_EQ(track_slot("part"), TRACK_PART);
    EXPECT_EQ(track_slot("sim:speed"), TRACK_SIM_SPEED);
    EXPECT_EQ(track_slot("sim:spee"), -1);
    const char* layer[IMAGE_LAYER_TRACKS] = {"alpha", "angle", "index", "mode", "scale", "x", "y"};
    for (int l = 0; l < 2; ++l)
        for (int f = 0; f < IMAGE_LAYER_TRACKS; ++f)
            EXPECT_EQ(track_name_table[image_track(l, f)], "img" + std::to_string(l) + ":" + layer[f]);
}

TEST_F(SyncTracks, OpenNeedsAnExactNameAfterDashesBecomeUnderscores) {
    TrackTableFixture table;
    table.add_file("sync_part.track", {1, 2, 3});
    ASSERT_TRUE(table.open());
    struct Case {
        const char* path;
        bool found;
    } cases[] = {
        {"sync_part.track", true},   {"sync-part.track", true},  {"sync_part.trac", false},
        {"sync_part.track2", false}, {"sync_PART.track", false}, {"", false},
    };
    for (const Case& c : cases) {
        std::string path = c.path;
        void* handle = track_open(path.data(), "rb");
        EXPECT_EQ(handle != nullptr, c.found) << c.path;
        EXPECT_EQ(path.find('-'), std::string::npos) << "dashes are replaced in place: " << c.path;
        if (handle) {
            EXPECT_EQ(track_close(handle), 0);
        }
    }
}

TEST_F(SyncTracks, ReadCopiesWhatIsLeftAndAdvances) {
    TrackTableFixture table;
    table.add_file("sync_part.track", {1, 2, 3, 4, 5});
    ASSERT_TRUE(table.open());
    char path[] = "sync_part.track";
    void* handle = track_open(path, "rb");
    ASSERT_NE(handle, nullptr);
    unsigned char out[8] = {};
    EXPECT_EQ(track_read(out, 1, 3, handle), 3u);
    EXPECT_EQ(track_read(out + 3, 2, 2, handle), 2u);  // 4 asked, 2 left
    EXPECT_EQ(track_read(out + 5, 1, 1, handle), 0u);
    EXPECT_EQ(std::memcmp(out, "\1\2\3\4\5\0", 6), 0);
    EXPECT_EQ(static_cast<TrackFileHandle*>(handle)->position, 5);
    EXPECT_EQ(track_close(handle), 0);
}

// Names with ':' and '-' reach their files through both encodings.
TEST_F(SyncTracks, EscapedNamesFindTheirFiles) {
    TrackTableFixture table;
    table.add_file("sync_cam_3Ax.track", write_track_file(std::vector<TrackKey>{{0, 11, KEY_STEP}}.data(), 1));
    table.add_file("sync_fade_2Din.track", write_track_file(std::vector<TrackKey>{{0, 22, KEY_STEP}}.data(), 1));
    table.add_file("sync_fade-2Din.track", write_track_file(std::vector<TrackKey>{{0, 33, KEY_STEP}}.data(), 1));
    ASSERT_TRUE(table.open());
    EXPECT_EQ(track_value(TRACK_CAM_X, 0.0f), 11.0);
    const SyncTrack* dashed = sync_get_track(sync_tracks.device, "fade-in");
    EXPECT_EQ(track_value(dashed, 0.0f), 22.0);
    EXPECT_EQ(sync_get_track(sync_tracks.device, "fade-in"), dashed) << "a name is read once";
}

// ---------------------------------------------------------------------------
// Short and odd files

std::vector<unsigned char> truncated(std::vector<unsigned char> bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

TEST_F(SyncTracks, AShortFileKeepsItsCompleteKeys) {
    const std::vector<TrackKey> keys = {{0, 1, KEY_LINEAR}, {4, 5, KEY_STEP}, {8, 9, KEY_STEP}};
    const std::vector<unsigned char> full = write_track_file(keys.data(), keys.size());
    ASSERT_EQ(full.size(), 4u + 9u * 3u);
    std::vector<unsigned char> huge_count = truncated(full, 4 + 9);
    huge_count[3] = 0x7F;  // the count claims about two billion keys

    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        size_t keys_kept;
    } cases[] = {
        {"whole file", full, 3},
        {"cut inside the third key's type", truncated(full, 4 + 9 * 2 + 8), 2},
        {"cut inside the second key's row", truncated(full, 4 + 9 + 2), 1},
        {"only the count", truncated(full, 4), 0},
        {"cut inside the count", truncated(full, 2), 0},
        {"empty", {}, 0},
        {"a count far beyond the file", huge_count, 1},
    };
    for (const Case& c : cases) {
        TrackTableFixture table;
        table.add_file("sync_part.track", c.bytes);
        ASSERT_TRUE(table.open());
        // The player through the file callbacks and the reader over memory keep the same keys.
        const std::vector<TrackKey> from_memory = read_track_file(c.bytes.data(), c.bytes.size());
        for (const std::vector<TrackKey>* read : {&sync_tracks.tracks[TRACK_PART]->keys, &from_memory}) {
            ASSERT_EQ(read->size(), c.keys_kept) << c.what;
            for (size_t k = 0; k < c.keys_kept; ++k) {
                EXPECT_EQ((*read)[k].row, keys[k].row) << c.what;
                EXPECT_EQ((*read)[k].value, keys[k].value) << c.what;
                EXPECT_EQ((*read)[k].type, keys[k].type) << c.what;
            }
        }
    }
}

TEST_F(SyncTracks, FileBytesAndSignedTypeRoundTrip) {
    const std::vector<TrackKey> keys = {{-7, -1.5f, -128}, {2147483647, 3e38f, 127}};
    std::vector<unsigned char> bytes = write_track_file(keys.data(), keys.size());
    const unsigned char expected[] = {2,    0,    0,    0,                         // count
                                      0xF9, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xC0, 0xBF, 0x80,  // -7, -1.5f, -128
                                      0xFF, 0xFF, 0xFF, 0x7F, 0xE6, 0xB1, 0x61, 0x7F, 0x7F};
    ASSERT_EQ(bytes.size(), sizeof expected);
    EXPECT_EQ(std::memcmp(bytes.data(), expected, sizeof expected), 0);

    TrackTableFixture table;
    table.add_file("sync_light.track", bytes);
    ASSERT_TRUE(table.open());
    const SyncTrack* track = sync_tracks.tracks[TRACK_LIGHT];
    ASSERT_EQ(track->keys.size(), 2u);
    EXPECT_EQ(track->keys[0].type, -128);
    EXPECT_EQ(track->keys[0].row, -7);
    EXPECT_EQ(track_value(track, -7.0f), 0.0) << "type -128 interpolates to 0";

    const std::vector<TrackKey> back = read_track_file(bytes.data(), bytes.size());
    ASSERT_EQ(back.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(back[k].row, keys[k].row);
        EXPECT_EQ(back[k].value, keys[k].value);
        EXPECT_EQ(back[k].type, keys[k].type);
    }
}

// ---------------------------------------------------------------------------
// Lifecycle

TEST_F(SyncTracks, DestroyForgetsTheTracksAndReopeningReplacesThem) {
    TrackTableFixture first, second;
    first.add_track("part", {{0, 1, KEY_STEP}});
    second.add_track("part", {{0, 2, KEY_STEP}});
    ASSERT_TRUE(first.open());
    EXPECT_EQ(track_value(TRACK_PART, 0.0f), 1.0);
    ASSERT_TRUE(second.open());
    EXPECT_EQ(track_value(TRACK_PART, 0.0f), 2.0);
    destroy_sync_tracks();
    EXPECT_EQ(sync_tracks.device, nullptr);
    EXPECT_EQ(sync_tracks.tracks[TRACK_PART], nullptr);
    EXPECT_EQ(track_value(TRACK_PART, 0.0f), 0.0);
    destroy_sync_tracks();  // twice is harmless
}

// ---------------------------------------------------------------------------
// The row clock

TEST(RowClock, DerivesTimeAndRowFromOnePositionInDouble) {
    struct Case {
        double position;
        float time, row;
    } cases[] = {
        {0, 0.0f, 0.0f},
        {352800, 1.0f, 6.666666507720947f},
        {190.0 * 352800, 190.0f, 1266.6666259765625f},
        // The row comes from the unrounded seconds: from the stored float time it would be 40.85200500488281.
        {2161888, 6.127800464630127f, 40.85200119018555f},
    };
    for (const Case& c : cases) {
        update_row_clock(c.position);
        EXPECT_EQ(music_time, c.time) << c.position;
        EXPECT_EQ(current_row, c.row) << c.position;
    }
    update_row_clock(0);
}

// ---------------------------------------------------------------------------
// The shipped timeline, as the show opens it

class ShippedTimeline : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(open_sync_tracks()); }
    void TearDown() override { destroy_sync_tracks(); }
};

uint32_t count_of(const EmbeddedFile& f) {
    return uint32_t(f.bytes[0]) | uint32_t(f.bytes[1]) << 8 | uint32_t(f.bytes[2]) << 16 | uint32_t(f.bytes[3]) << 24;
}

TEST_F(ShippedTimeline, TableHoldsTheThirtyTwoFilesInSlotOrder) {
    ASSERT_EQ(track_files_count, TRACK_COUNT);
    for (int slot = 0; slot < TRACK_COUNT; ++slot) {
        const EmbeddedFile& f = track_files[slot];
        EXPECT_EQ(f.name, track_file_name(track_name_table[slot])) << slot;
        ASSERT_GE(f.size, 4) << f.name;
        EXPECT_EQ(size_t(f.size), 4 + 9 * size_t(count_of(f))) << f.name;
        EXPECT_EQ(sync_tracks.tracks[slot]->keys.size(), count_of(f)) << f.name;
        EXPECT_GT(count_of(f), 0u) << f.name << " has no keys";
    }
}

TEST_F(ShippedTimeline, EdgeRowsReadAsTheShowExpects) {
    const SyncTrack* cam_x = sync_tracks.tracks[TRACK_CAM_X];
    ASSERT_FALSE(cam_x->keys.empty());
    ASSERT_EQ(cam_x->keys.front().row, 256);
    struct Case {
        TrackSlot slot;
        float row;
        double expected;
    } cases[] = {
        {TRACK_PART, 0.0f, 0},     {TRACK_PART, 192.0f, 0}, {TRACK_PART, 193.0f, 1},
        {TRACK_PART, 256.0f, 2},   {TRACK_PART, 1266.0f, 2},
        {TRACK_CAM_X, 0.0f, cam_x->keys.front().value},
    };
    for (const Case& c : cases)
        EXPECT_EQ(track_value(c.slot, c.row), c.expected) << track_name_table[c.slot] << " at " << c.row;
}

TEST_F(ShippedTimeline, PartFlickersThroughTheBreakAndHoldsTheSceneAfter) {
    for (float row = 0; row < 192; row += 0.25f) ASSERT_EQ(track_value(TRACK_PART, row), 0.0) << row;
    for (float row = 256; row <= 1267; row += 0.25f) ASSERT_EQ(track_value(TRACK_PART, row), 2.0) << row;
    // From 192 to 255: step keys alternating 0 and 1, one to three rows apart.
    int last_row = -1;
    double last_value = 1;
    for (const TrackKey& k : sync_tracks.tracks[TRACK_PART]->keys) {
        EXPECT_EQ(k.type, KEY_STEP) << k.row;
        if (k.row < 192 || k.row > 255) continue;
        EXPECT_EQ(k.value, 1 - last_value) << "row " << k.row;
        if (last_row >= 0) {
            EXPECT_GE(k.row - last_row, 1);
            EXPECT_LE(k.row - last_row, 3) << "row " << k.row;
        }
        last_row = k.row;
        last_value = k.value;
    }
    EXPECT_GE(last_row, 252) << "the flicker runs to the end of the break";
    // The shape effect flashes in on the score's stabs, rows 0, 3, 6, 10 and 12
    // of every bar of the break (the first one a row late, as row 192 stays 0).
    for (int bar = 192; bar < 256; bar += 16)
        for (int stab : {0, 3, 6, 10, 12}) {
            float row = static_cast<float>(bar + stab + (bar + stab == 192));
            EXPECT_EQ(track_value(TRACK_PART, row), 1.0) << "stab at row " << bar + stab;
        }
}

// The shape effect draws 512 bars and up to 64 triangles; the background's
// spectrum bars (a negative "bg.index") would add 512 more than the shape
// streams hold, and the tunnel would drop out.
TEST_F(ShippedTimeline, NoSpectrumBarsUnderTheShapeEffect) {
    for (float row = 0; row < 1267; row += 0.25f) {
        if (track_value(TRACK_PART, row) == 1) {
            EXPECT_GE(track_value(TRACK_BG_INDEX, row), 0) << "row " << row;
        }
    }
}

// Every track stays inside the rows, values and interpolation types its readers expect.
TEST_F(ShippedTimeline, TracksStayInsideTheirReadersRanges) {
    struct Range {
        int first_row, last_row;
        float min, max;
        unsigned types;  // bit k: type k allowed
    };
    constexpr unsigned STEP = 1, ALL = 15, UP_TO_SMOOTH = 7, STEP_SMOOTH = 5, STEP_SMOOTH_RAMP = 13;
    const Range ranges[TRACK_COUNT] = {
        {0, 1136, -5, 10.5f, STEP},           {256, 1248, -30, 30, ALL},          {256, 1248, -108, 231.2f, ALL},
        {256, 1248, -130, 136.5f, ALL},       {256, 1248, 0, 350, UP_TO_SMOOTH},  {304, 1248, 30, 112.6f, ALL},
        {256, 1248, 0, 4, STEP},              {256, 1248, -30, 20, ALL},          {256, 1248, -231, 1820, ALL},
        {256, 1248, -150, 300, ALL},          {256, 1248, -130, 400, ALL},        {0, 1252, 0, 1, ALL},
        {0, 1248, -150, 15, STEP_SMOOTH},     {0, 1248, -1, 11, STEP},            {0, 904, 0, 5, STEP},
        {0, 911, 0.0625f, 4, STEP_SMOOTH_RAMP}, {0, 911, -0.7f, 0, STEP_SMOOTH},  {0, 911, -0.4f, 0.4f, STEP_SMOOTH_RAMP},
        {0, 1252, 0, 1, UP_TO_SMOOTH},        {0, 1248, 0, 0, STEP},              {0, 1248, 0, 9, STEP},
        {0, 1259, 0, 5, STEP},                {0, 1259, 0, 2.5f, STEP_SMOOTH},    {0, 1248, 0, 0, STEP},
        {0, 1248, -0.3f, 0.3f, STEP},         {256, 1184, 0, 6, STEP},            {0, 1136, -1, 15.1f, UP_TO_SMOOTH},
        {0, 1136, 0, 2, STEP},                {0, 1136, 0.4f, 2, ALL},            {0, 1136, 0.5f, 1.3f, UP_TO_SMOOTH},
        {0, 1232, -1, 10, STEP},              {0, 992, 0.0001f, 2, UP_TO_SMOOTH},
    };
    for (int slot = 0; slot < TRACK_COUNT; ++slot) {
        const Range& r = ranges[slot];
        const std::vector<TrackKey>& keys = sync_tracks.tracks[slot]->keys;
        ASSERT_FALSE(keys.empty()) << track_name_table[slot];
        EXPECT_GE(keys.front().row, r.first_row) << track_name_table[slot];
        EXPECT_LE(keys.back().row, r.last_row) << track_name_table[slot];
        for (size_t k = 0; k < keys.size(); ++k) {
            const TrackKey& key = keys[k];
            EXPECT_TRUE(key.value >= r.min && key.value <= r.max) << track_name_table[slot] << " row " << key.row;
            EXPECT_TRUE(key.type >= 0 && key.type <= 3 && (r.types >> key.type & 1))
                << track_name_table[slot] << " row " << key.row << " type " << int(key.type);
            if (k > 0) {
                EXPECT_GT(key.row, keys[k - 1].row) << track_name_table[slot];
            }
        }
    }
}

}  // namespace

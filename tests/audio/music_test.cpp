#include <gtest/gtest.h>

#include <ostream>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <cstring>

#include "audio/music.h"
#include "audio/playback_device.h"
#include "tests/audio/audio_fixture.h"

namespace {

// The fixture music decoded into the player, played by the manual device.
class ManualPlayback : public testing::Test {
protected:
    void SetUp() override {
        select_playback_backend(&manual_playback_backend);
        testing::internal::CaptureStdout();
        started_ = start_music(fixture_mp3().bytes, fixture_mp3().size);
        printed_ = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(started_);
        pcm_ = music_pcm();
        ASSERT_NE(pcm_, nullptr);
    }
    void TearDown() override {
        music_shutdown();
        select_playback_backend(&sdl_playback_backend);
    }

    // Plays up to frame `until` in large requests, checking nothing.
    void skip_to(int64_t until) {
        std::vector<float> chunk(size_t{1} << 21);
        while (read_playback_position() / 8 < static_cast<double>(until)) {
            const auto left = until - static_cast<int64_t>(read_playback_position() / 8);
            manual_playback_pull(chunk.data(), static_cast<uint32_t>(std::min<int64_t>(left, 1 << 20)));
        }
    }

    bool started_ = false;
    std::string printed_;
    const float* pcm_ = nullptr;
};

TEST_F(ManualPlayback, StartsOnceDecodedWithTheClockAtZero) {
    EXPECT_EQ(printed_, "decoding full mp3...\n");
    EXPECT_TRUE(music_started());
    EXPECT_EQ(read_playback_position(), 0.0);
    EXPECT_EQ(music_undecoded_frames_played(), 0);
    // Gapless decoding: the tones start at once, not after the encoder's padding.
    float early = 0.0f, late = 0.0f;
    for (int i = 0; i < 2 * 64; ++i) early = std::max(early, std::abs(pcm_[i]));
    for (int64_t i = 2 * (kPcmFrames - 64); i < 2 * kPcmFrames; ++i) late = std::max(late, std::abs(pcm_[i]));
    EXPECT_GT(early, 0.05f);
    EXPECT_GT(late, 0.2f) << "the last frames of the buffer hold music";
}

// Each request copies its frames at full level into the callback, leaves the
// device at half level, and advances the clock by exactly the bytes handed over.
TEST_F(ManualPlayback, RequestsCopyInOrderAndAdvanceTheClock) {
    const uint32_t requests[] = {480, 1, 256, 2048, 441};
    int64_t frame = 0;
    for (uint32_t n : requests) {
        SCOPED_TRACE(testing::Message() << "request of " << n << " frames at frame " << frame);
        const std::vector<float> out = pull_frames(n);
        for (uint32_t i = 0; i < 2 * n; ++i) {
            ASSERT_EQ(out[i], pcm_[2 * frame + i] * 0.5f) << "sample " << i;
        }
        frame += n;
        EXPECT_EQ(read_playback_position(), static_cast<double>(frame * 8));
    }
    EXPECT_EQ(pull_frames(480).size(), 960u);
    EXPECT_EQ(read_playback_position() - static_cast<double>(frame * 8), 3840.0);
}

// A jump plays from the frame it lands on; paused, the device hears silence
// and the clock stands; music_shutdown plays again.
TEST_F(ManualPlayback, SeeksLandOnWholeFramesAndPausePlaysSilence) {
    const struct {
        double to;
        double lands;
    } seeks[] = {{52920.0 * 700, 52920.0 * 700}, {12.0, 8.0}, {-5.0, 0.0}, {1e12, double(kPcmBytes)}, {0.0 / 0.0, 0.0}};
    for (const auto& seek : seeks) {
        seek_playback_position(seek.to);
        EXPECT_EQ(read_playback_position(), seek.lands) << seek.to;
    }
    seek_playback_position(52920.0 * 700);
    const int64_t frame = 6615 * 700;
    std::vector<float> out = pull_frames(64);
    for (int i = 0; i < 128; ++i) ASSERT_EQ(out[i], pcm_[2 * frame + i] * 0.5f) << "sample " << i;

    set_music_paused(true);
    out = pull_frames(64);
    for (float sample : out) ASSERT_EQ(sample, 0.0f);
    EXPECT_EQ(read_playback_position(), double((frame + 64) * 8));
    set_music_paused(false);
    pull_frames(64);
    EXPECT_EQ(read_playback_position(), double((frame + 128) * 8));
}

// A jump made while the device thread is inside its callback is never undone
// by the callback's own advance: jumping back and forth between two distant
// rows, the clock is found at or past the row last jumped to, and no further
// past it than the requests made since could have taken it.
TEST_F(ManualPlayback, ASeekRacingTheCallbackIsNeverLost) {
    constexpr uint32_t request_frames = 16384;  // long copies: a seek often lands inside one
    std::atomic<bool> stop{false};
    std::atomic<int64_t> requests{0};
    std::thread device([&] {
        std::vector<float> out(request_frames * 2);
        while (!stop.load()) {
            manual_playback_pull(out.data(), request_frames);
            requests.fetch_add(1);
        }
    });
    const double near = 0.0, far = 52920.0 * 1000;
    int lost = 0;
    for (int i = 0; i < 60; ++i) {
        const double target = i % 2 ? far : near;
        const int64_t before = requests.load();
        seek_playback_position(target);
        while (requests.load() < before + 2) std::this_thread::yield();
        const double position = read_playback_position();
        // Every request finished since, and the one under way, may have advanced it.
        const double most = target + double(requests.load() - before + 1) * request_frames * 8;
        if (position < target || position > most) ++lost;
    }
    stop.store(true);
    device.join();
    EXPECT_EQ(lost, 0);
}

struct HistoryCase {
    const char* name;
    std::vector<uint32_t> requests;
    int zeros;            // leading history entries still at their initial 0
    int64_t first_frame;  // music frame of the first non-initial entry
};
void PrintTo(const HistoryCase& c, std::ostream* os) { *os << c.name; }

class HistoryAfterRequests : public ManualPlayback, public testing::WithParamInterface<HistoryCase> {};

// The history is the newest 1024 mono samples at full level, oldest first; a
// request of 1024 frames or more keeps its first 1024.
TEST_P(HistoryAfterRequests, HoldsTheNewestMonoSamples) {
    const HistoryCase& c = GetParam();
    for (uint32_t n : c.requests) pull_frames(n);
    const float* history = acquire_mono_history();
    for (int i = 0; i < kMonoHistoryLength; ++i) {
        const float expected = i < c.zeros ? 0.0f : mono_of(pcm_, c.first_frame + i - c.zeros);
        ASSERT_EQ(history[i], expected) << "entry " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, HistoryAfterRequests,
    testing::Values(HistoryCase{"first_256", {256}, 768, 0},
                    HistoryCase{"full_then_256_keeps_newest_768", {1024, 256}, 0, 256},
                    HistoryCase{"one_of_2048_keeps_its_first_1024", {2048}, 0, 0},
                    HistoryCase{"late_2048_keeps_its_first_1024", {100, 2048}, 0, 100},
                    HistoryCase{"small_requests_accumulate", {300, 300, 300, 300}, 0, 176}),
    [](const testing::TestParamInfo<HistoryCase>& info) { return std::string(info.param.name); });

struct EndCase {
    const char* name;
    int64_t frames_left;  // before the request
    uint32_t request;
};
void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class NearTheEnd : public ManualPlayback, public testing::WithParamInterface<EndCase> {};

// Only what is left is copied; the clock stops exactly at the buffer's end and
// stays there; afterwards the device plays silence and the history fills with it.
TEST_P(NearTheEnd, CopiesTheRemainderThenSilence) {
    const EndCase& c = GetParam();
    const int64_t start = kPcmFrames - c.frames_left;
    skip_to(start);
    ASSERT_EQ(read_playback_position(), static_cast<double>(start * 8));

    const std::vector<float> out = pull_frames(c.request);
    const int64_t copied = std::min<int64_t>(c.frames_left, c.request);
    for (int64_t i = 0; i < 2 * c.request; ++i) {
        const float expected = i < 2 * copied ? pcm_[2 * start + i] * 0.5f : 0.0f;
        ASSERT_EQ(out[i], expected) << "sample " << i;
    }
    EXPECT_EQ(read_playback_position(), static_cast<double>((start + copied) * 8));

    if (copied == c.frames_left) {
        EXPECT_EQ(read_playback_position(), static_cast<double>(kPcmBytes));
        const std::vector<float> after = pull_frames(1024);
        EXPECT_EQ(read_playback_position(), static_cast<double>(kPcmBytes));
        for (float v : after) ASSERT_EQ(v, 0.0f);
        const float* history = acquire_mono_history();
        for (int i = 0; i < kMonoHistoryLength; ++i) ASSERT_EQ(history[i], 0.0f) << "entry " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Remainders, NearTheEnd,
    testing::Values(EndCase{"fewer_left_than_asked", 100, 480}, EndCase{"exactly_what_is_left", 480, 480},
                    EndCase{"more_left_than_asked", 1000, 480}, EndCase{"one_frame_left", 1, 4096}),
    [](const testing::TestParamInfo<EndCase>& info) { return std::string(info.param.name); });

// The history is taken before the master volume: full level in the history,
// half level at the device's output.
TEST_F(ManualPlayback, HistoryIsFullLevelWhileTheOutputIsHalf) {
    const std::vector<float> out = pull_frames(1024);
    const float* history = acquire_mono_history();
    float loudest = 0.0f;
    for (int i = 0; i < kMonoHistoryLength; ++i) {
        ASSERT_EQ(history[i], (out[2 * i] + out[2 * i + 1]) * 0.5f * 2.0f) << "entry " << i;
        loudest = std::max(loudest, std::abs(history[i]));
    }
    EXPECT_GT(loudest, 0.1f);
}

// The reader's copy stays put until it asks again, however often the callback runs.
TEST_F(ManualPlayback, AcquiredHistoryStaysUntilTheNextAcquire) {
    pull_frames(1024);
    const float* held = acquire_mono_history();
    const std::vector<float> before(held, held + kMonoHistoryLength);
    for (int i = 0; i < 5; ++i) pull_frames(441);
    EXPECT_EQ(std::vector<float>(held, held + kMonoHistoryLength), before);
    const float* next = acquire_mono_history();
    EXPECT_EQ(next[kMonoHistoryLength - 1], mono_of(pcm_, 1024 + 5 * 441 - 1));
    EXPECT_EQ(acquire_mono_history(), next) << "no newer copy: the same one again";
}

// A device that runs before any music exists plays silence and keeps the clock still.
TEST(AudioCallback, BeforeTheBufferExistsPlaysSilence) {
    PlaybackDevice device{};
    PlaybackDeviceDesc desc{};
    desc.callback = audio_callback;
    ASSERT_TRUE(playback_device_open(&device, &manual_playback_backend, desc));
    ASSERT_TRUE(playback_device_start(&device));
    std::vector<float> out(960, 1.0f);
    ASSERT_TRUE(manual_playback_pull(out.data(), 480));
    for (float v : out) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(read_playback_position(), 0.0);
    const float* history = acquire_mono_history();
    for (int i = 0; i < kMonoHistoryLength; ++i) ASSERT_EQ(history[i], 0.0f);
    playback_device_close(&device);
    EXPECT_FALSE(manual_playback_pull(out.data(), 480)) << "no manual device once closed";
}

// ---- devices that fail ----

int fake_closes = 0;
bool fake_open_fails(PlaybackDevice*) { return false; }
bool fake_open_works(PlaybackDevice*) { return true; }
bool fake_start_fails(PlaybackDevice*) { return false; }
bool fake_start_works(PlaybackDevice*) { return true; }
void* no_memory(size_t) { return nullptr; }
void fake_close(PlaybackDevice*) { ++fake_closes; }

const PlaybackBackend kCannotOpen{"cannot-open", fake_open_fails, fake_start_fails, fake_close};
const PlaybackBackend kCannotStart{"cannot-start", fake_open_works, fake_start_fails, fake_close};
const PlaybackBackend kStarts{"starts", fake_open_works, fake_start_works, fake_close};

struct FailureCase {
    const char* name;
    const PlaybackBackend* backend;
    const char* sdl_driver;  // SDL_AUDIODRIVER for the SDL backend, else null
    const char* message;
    int closes;  // of the fake backend: a device opened and not started is closed again
    MusicBufferAllocator allocator = nullptr;  // null: the default
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class DeviceFailure : public testing::TestWithParam<FailureCase> {};

// The show goes on without sound: one line says why, and the clock stays at 0.
TEST_P(DeviceFailure, PrintsWhyAndKeepsTheClockAtZero) {
    const FailureCase& c = GetParam();
    if (c.sdl_driver != nullptr) setenv("SDL_AUDIODRIVER", c.sdl_driver, 1);
    fake_closes = 0;
    select_playback_backend(c.backend);
    set_music_buffer_allocator(c.allocator);
    testing::internal::CaptureStdout();
    const bool started = start_music(fixture_mp3().bytes, fixture_mp3().size);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
    set_music_buffer_allocator(nullptr);
    EXPECT_FALSE(started);
    EXPECT_FALSE(music_started());
    EXPECT_EQ(music_pcm(), nullptr) << "nothing is decoded";
    EXPECT_EQ(read_playback_position(), 0.0);
    if (c.sdl_driver == nullptr) {
        EXPECT_EQ(fake_closes, c.closes);
    }
    unsetenv("SDL_AUDIODRIVER");

    // Nothing is left half open: the player starts normally afterwards.
    select_playback_backend(&manual_playback_backend);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(start_music(fixture_mp3().bytes, fixture_mp3().size));
    testing::internal::GetCapturedStdout();
    pull_frames(480);
    EXPECT_EQ(read_playback_position(), 3840.0);
    music_shutdown();
    select_playback_backend(&sdl_playback_backend);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, DeviceFailure,
    testing::Values(FailureCase{"cannot_open", &kCannotOpen, nullptr, "Failed to open playback device.\n", 0},
                    FailureCase{"cannot_start", &kCannotStart, nullptr, "Failed to start playback device.\n", 1},
                    FailureCase{"sdl_without_a_driver", &sdl_playback_backend, "no-such-driver",
                                "Failed to open playback device.\n", 0},
                    FailureCase{"no_memory_for_the_music", &kStarts, nullptr,
                                "decoding full mp3...\nFailed to allocate the music buffer.\n", 1, no_memory}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// ---- the decoder's byte source ----

struct SeekCase {
    const char* name;
    int64_t from;
    int64_t offset;
    int origin;
    int64_t to;
};
void PrintTo(const SeekCase& c, std::ostream* os) { *os << c.name; }

class DecoderSeek : public testing::TestWithParam<SeekCase> {};

TEST_P(DecoderSeek, StaysInsideTheStream) {
    const SeekCase& c = GetParam();
    static const unsigned char bytes[100] = {};
    MusicSource source{bytes, 100, c.from};
    EXPECT_TRUE(decoder_seek(&source, c.offset, c.origin));
    EXPECT_EQ(source.read_position, c.to);
}

INSTANTIATE_TEST_SUITE_P(
    Origins, DecoderSeek,
    testing::Values(SeekCase{"set", 40, 10, SEEK_SET, 10}, SeekCase{"set_past_end", 40, 150, SEEK_SET, 100},
                    SeekCase{"set_before_start", 40, -5, SEEK_SET, 0}, SeekCase{"cur_forward", 40, 25, SEEK_CUR, 65},
                    SeekCase{"cur_back_past_start", 40, -60, SEEK_CUR, 0},
                    SeekCase{"end_for_the_tag_check", 40, -12, SEEK_END, 88}, SeekCase{"end", 40, 0, SEEK_END, 100},
                    SeekCase{"unknown_origin_stays", 40, 7, 99, 40}),
    [](const testing::TestParamInfo<SeekCase>& info) { return std::string(info.param.name); });

TEST(DecoderRead, CopiesWhatIsLeftThenNothing) {
    unsigned char bytes[10];
    for (int i = 0; i < 10; ++i) bytes[i] = static_cast<unsigned char>(i + 1);
    MusicSource source{bytes, 10, 0};
    unsigned char out[8] = {};
    EXPECT_EQ(decoder_read(&source, out, 6), 6);
    EXPECT_EQ(decoder_read(&source, out, 8), 4);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 4), (std::vector<unsigned char>{7, 8, 9, 10}));
    EXPECT_EQ(decoder_read(&source, out, 8), 0);
    EXPECT_EQ(source.read_position, 10);
}

}  // namespace

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/fetch.h"

namespace {

struct Seen {
    std::vector<std::string> events;  // "dispatched", "fetched:<bytes>", "failed:<error>"
    std::string user_data;
    bool finished = false;
};

Seen seen;
char bound[64];

void record(const platform::FetchResponse* r) {
    if (r->dispatched) {
        seen.events.push_back("dispatched");
        // A buffer bound on dispatch is where the data lands.
        platform::fetch_bind_buffer(r->handle, bound, sizeof bound);
    }
    if (r->fetched) seen.events.push_back("fetched:" + std::string(static_cast<const char*>(r->data), r->data_size));
    if (r->failed) seen.events.push_back("failed:" + std::to_string(static_cast<int>(r->error)));
    if (r->finished) {
        seen.finished = true;
        seen.user_data.assign(reinterpret_cast<const char*>(r->user_data));
    }
}

void record_without_binding(const platform::FetchResponse* r) {
    if (r->failed) seen.events.push_back("failed:" + std::to_string(static_cast<int>(r->error)));
    if (r->finished) seen.finished = true;
}

// Pumps the fetcher as the frame loop would until the request finished.
void pump_until_finished() {
    for (int i = 0; i < 500 && !seen.finished; ++i) {
        platform::fetch_dowork();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

class Fetch : public testing::Test {
protected:
    void SetUp() override {
        seen = Seen{};
        std::memset(bound, 0, sizeof bound);
        platform::fetch_setup({});
        path_ = testing::TempDir() + "velmo_fetch_test.txt";
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("texture bytes", f);
        std::fclose(f);
    }
    void TearDown() override {
        platform::fetch_shutdown();
        std::remove(path_.c_str());
    }
    uint32_t send(const std::string& path, void (*callback)(const platform::FetchResponse*)) {
        const char user[] = "model 3";
        platform::FetchRequest req{};
        req.path = path.c_str();
        req.callback = callback;
        req.user_data = user;
        req.user_data_size = sizeof user;
        return platform::fetch_send(req);
    }
    std::string path_;
};

TEST_F(Fetch, DispatchBindsABufferThenTheDataArrivesOnThePump) {
    ASSERT_NE(send(path_, record), 0u);
    EXPECT_TRUE(seen.events.empty()) << "nothing happens before the per-frame pump";
    pump_until_finished();
    ASSERT_TRUE(seen.finished);
    EXPECT_EQ(seen.events, (std::vector<std::string>{"dispatched", "fetched:texture bytes"}));
    EXPECT_EQ(seen.user_data, "model 3") << "the 16 bytes of user data come back";
}

TEST_F(Fetch, AMissingFileFails) {
    ASSERT_NE(send(path_ + ".missing", record), 0u);
    pump_until_finished();
    ASSERT_TRUE(seen.finished);
    EXPECT_EQ(seen.events.back(), "failed:" + std::to_string(static_cast<int>(platform::FetchError::FileNotFound)));
}

TEST_F(Fetch, ARequestWithoutABufferFails) {
    ASSERT_NE(send(path_, record_without_binding), 0u);
    pump_until_finished();
    ASSERT_TRUE(seen.finished);
    EXPECT_EQ(seen.events.back(), "failed:" + std::to_string(static_cast<int>(platform::FetchError::NoBuffer)));
}

TEST_F(Fetch, RefusesRequestsItCannotServe) {
    platform::FetchRequest req{};
    req.path = path_.c_str();
    req.callback = record;
    req.channel = 1;
    EXPECT_EQ(platform::fetch_send(req), 0u) << "only channel 0 exists";
    req.channel = 0;
    req.user_data = "0123456789abcdefg";
    req.user_data_size = 17;
    EXPECT_EQ(platform::fetch_send(req), 0u) << "more than 16 bytes of user data";
}

}  // namespace

// The "fft" image on a real GL context (hidden window, Xvfb): made once, with
// the smoothed spectrum's values, rewritten every frame.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <string>
#include <vector>

#include "audio/fft_image.h"
#include "audio/spectrum.h"
#include "gfx/gfx.h"
#include "platform/app_window.h"

namespace {

class FftImage : public testing::Test {
protected:
    static void SetUpTestSuite() {
        platform::AppDesc desc{};
        desc.width = 64;
        desc.height = 64;
        desc.hidden = true;
        desc.window_title = "velmo fft image test";
        window_ = platform::open_window(desc);
    }
    static void TearDownTestSuite() {
        if (window_) platform::close_window();
    }
    void SetUp() override {
        ASSERT_TRUE(window_) << "no window or GL context";
        gfx::setup(gfx::Desc{});
    }
    void TearDown() override {
        spectrum_shutdown();
        gfx::shutdown();
    }

    static std::vector<float> texels(gfx::Image image) {
        std::vector<float> out(kSpectrumBins, -1.0f);
        glGetTextureImage(gfx::gl_image_texture(image), 0, GL_RED, GL_FLOAT,
                          static_cast<GLsizei>(out.size() * sizeof(float)), out.data());
        return out;
    }

    static inline bool window_ = false;
};

TEST_F(FftImage, NothingBeforeTheSpectrumIsSetUp) {
    upload_fft_image();
    gfx::commit();
    EXPECT_NE(gfx::query_image_state(fft_image()), gfx::ResourceState::Valid);
}

TEST_F(FftImage, SilentUntilTheMusicPlaysThenFollowsTheSpectrum) {
    spectrum_setup();
    create_fft_plan();
    upload_fft_image();
    gfx::commit();
    const gfx::Image image = fft_image();
    ASSERT_EQ(gfx::query_image_state(image), gfx::ResourceState::Valid);
    const gfx::ImageInfo info = gfx::query_image_info(image);
    EXPECT_EQ(info.width, 512);
    EXPECT_EQ(info.height, 1);
    EXPECT_EQ(info.num_mipmaps, 1);
    EXPECT_EQ(info.pixel_format, gfx::PixelFormat::R32F);
    char label[16] = {};
    glGetObjectLabel(GL_TEXTURE, gfx::gl_image_texture(image), sizeof label, nullptr, label);
    EXPECT_EQ(std::string(label), "fft");
    EXPECT_EQ(texels(image), std::vector<float>(kSpectrumBins, 0.0f));

    // Three frames of a full-scale constant: bin 0 rises, the others stay dark.
    for (int frame = 0; frame < 3; ++frame) {
        spectrum_step_with(std::vector<float>(kFftSize, 1.0f).data());
        upload_fft_image();
        gfx::commit();
        EXPECT_EQ(fft_image().id, image.id) << "made once, then rewritten";
        const std::vector<float> values = texels(image);
        EXPECT_EQ(values, std::vector<float>(smoothed_spectrum(), smoothed_spectrum() + kSpectrumBins))
            << "frame " << frame;
    }
    EXPECT_GT(texels(image)[0], 0.25f);
}

}  // namespace

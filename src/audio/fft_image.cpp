#include "audio/fft_image.h"

#include "audio/spectrum.h"

namespace {
gfx::Image image{0};
}  // namespace

void upload_fft_image() {
    const int bins = spectrum_bins();
    if (bins == 0) return;
    if (gfx::query_image_state(image) != gfx::ResourceState::Valid) {
        gfx::ImageDesc desc{};
        desc.width = bins;
        desc.height = 1;
        desc.num_mipmaps = 1;
        desc.usage = gfx::Usage::Stream;
        desc.pixel_format = gfx::PixelFormat::R32F;
        desc.label = "fft";
        image = gfx::make_image(desc);
    }
    gfx::ImageData data{};
    data.mip[0] = gfx::Range{smoothed_spectrum(), static_cast<size_t>(bins) * sizeof(float)};
    gfx::update_image(image, data);
}

gfx::Image fft_image() { return image; }

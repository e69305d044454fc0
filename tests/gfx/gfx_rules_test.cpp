// The description rules without a display: what zero fields become and what is
// refused, with the message that says why.
#include <gtest/gtest.h>

#include <string>

#include "gfx/gfx_rules.h"

using namespace gfx;

namespace {

const rules::Limits LIMITS{16384, true};
const rules::Limits NO_MSAA{16384, false};
const uint8_t PIXELS[64 * 4] = {};

// "" when accepted, else the refusal's text.
template <class Desc, class... Context>
std::string refusal(const Desc& desc, const Context&... context) {
    rules::Refusal why{};
    return rules::validate(rules::defaults(desc), context..., &why) ? "" : why.text;
}

ImageDesc target(int w, int h, int mips = 0, int samples = 0) {
    ImageDesc d{};
    d.render_target = true;
    d.width = w;
    d.height = h;
    d.num_mipmaps = mips;
    d.sample_count = samples;
    d.label = "t";
    return d;
}

struct ImageCase {
    const char* what;
    ImageDesc desc;
    rules::Limits limits;
    const char* refusal;  // "" for accepted
};

TEST(ImageRules, MipAndSampleCounts) {
    ImageDesc plain{};
    plain.width = plain.height = 1;
    plain.sample_count = 4;
    plain.data.mip[0] = {PIXELS, 4};
    plain.label = "t";
    const ImageCase cases[] = {
        {"zero mip levels mean one", target(4, 4), LIMITS, ""},
        {"4x4 has three levels", target(4, 4, 3), LIMITS, ""},
        {"a fourth level is refused", target(4, 4, 4), LIMITS, "image 't': 4 mip levels, a 4x4 image has 1..3"},
        {"the longer side decides the chain", target(8, 1, 4), LIMITS, ""},
        {"5x3 has three levels", target(5, 3, 4), LIMITS, "image 't': 4 mip levels, a 5x3 image has 1..3"},
        {"four samples on a target", target(4, 4, 1, 4), LIMITS, ""},
        {"four samples without the driver's support", target(4, 4, 1, 4), NO_MSAA,
         "image 't': sample count 4 (only render targets take 4, where the driver has it)"},
        {"two samples", target(4, 4, 1, 2), LIMITS,
         "image 't': sample count 2 (only render targets take 4, where the driver has it)"},
        {"four samples on a plain image", plain, LIMITS,
         "image 't': sample count 4 (only render targets take 4, where the driver has it)"},
        {"a multisampled target with mips", target(4, 4, 2, 4), LIMITS, "image 't': a multisampled target has one mip level"},
        {"wider than the driver's limit", target(16385, 4), LIMITS, "image 't': size 16385x4 is outside 1..16384"},
        {"as wide as the limit", target(16384, 4), LIMITS, ""},
    };
    for (const ImageCase& c : cases) EXPECT_EQ(refusal(c.desc, c.limits), c.refusal) << c.what;
}

TEST(ImageRules, DefaultsFollowTheKindOfImage) {
    ImageDesc plain{};
    EXPECT_EQ(rules::defaults(plain).pixel_format, PixelFormat::RGBA8);
    EXPECT_EQ(rules::defaults(target(1, 1)).pixel_format, PixelFormat::BGRA8) << "the window's format";
    const ImageDesc d = rules::defaults(plain);
    EXPECT_EQ(d.num_mipmaps, 1);
    EXPECT_EQ(d.sample_count, 1);
    EXPECT_EQ(d.usage, Usage::Immutable);
    EXPECT_EQ(d.min_filter, Filter::Nearest);
    EXPECT_EQ(d.wrap_v, Wrap::Repeat);
    EXPECT_STREQ(d.label, "(unlabelled image)");
}

TEST(ImageRules, LevelsHoldTheirExactBytes) {
    ImageData data{};
    data.mip[0] = {PIXELS, 4 * 2 * 4};
    data.mip[1] = {PIXELS, 2 * 1 * 4};
    rules::Refusal why{};
    EXPECT_TRUE(rules::check_levels(4, 2, 3, PixelFormat::RGBA8, data, false, "t", &why)) << "level 2 may be missing";
    EXPECT_FALSE(rules::check_levels(4, 2, 3, PixelFormat::RGBA8, data, true, "t", &why));
    EXPECT_STREQ(why.text, "image 't': mip level 2 of 3 has no data");
    data.mip[1].size = 16;
    EXPECT_FALSE(rules::check_levels(4, 2, 2, PixelFormat::RGBA8, data, false, "t", &why));
    EXPECT_STREQ(why.text, "image 't': mip level 1 holds 16 bytes, 8 expected for 2x1");
}

TEST(PipelineRules, OffsetsAndStridesPackInAttributeOrder) {
    PipelineDesc d{};
    d.layout.attrs[0] = {0, 0, VertexFormat::Float3};
    d.layout.attrs[1] = {0, 0, VertexFormat::Float2};
    d.layout.attrs[2] = {1, 0, VertexFormat::UByte4N};
    d.layout.attrs[3] = {1, 8, VertexFormat::Float4};  // a gap before it
    d.layout.attrs[4] = {1, 0, VertexFormat::Float};   // after the furthest end
    d.layout.attrs[5] = {2, 0, VertexFormat::Float2};
    d.layout.buffers[2].stride = 32;  // given: kept
    const PipelineDesc r = rules::defaults(d);
    const int offsets[6] = {0, 12, 0, 8, 24, 0};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(r.layout.attrs[k].offset, offsets[k]) << "attribute " << k;
    EXPECT_EQ(r.layout.buffers[0].stride, 20);
    EXPECT_EQ(r.layout.buffers[1].stride, 28);
    EXPECT_EQ(r.layout.buffers[2].stride, 32);
    EXPECT_EQ(r.layout.buffers[1].step_rate, 1);
    EXPECT_EQ(r.color.pixel_format, PixelFormat::BGRA8);
    EXPECT_EQ(r.depth.pixel_format, PixelFormat::DepthStencil);
    EXPECT_EQ(r.color.write_mask, COLORMASK_RGBA);
    EXPECT_EQ(r.color.blend.src_factor_rgb, BlendFactor::One);
    EXPECT_EQ(r.color.blend.dst_factor_rgb, BlendFactor::Zero);
    EXPECT_EQ(r.face_winding, FaceWinding::CW);
    EXPECT_EQ(r.sample_count, 1);
}

TEST(PipelineRules, Refusals) {
    PipelineDesc good{};
    good.label = "p";
    good.layout.attrs[0] = {0, 0, VertexFormat::Float2};
    PipelineDesc far_buffer = good;
    far_buffer.layout.attrs[1] = {MAX_VERTEX_BUFFERS, 0, VertexFormat::Float2};
    PipelineDesc depth_as_colour = good;
    depth_as_colour.color.pixel_format = PixelFormat::Depth;
    PipelineDesc colour_as_depth = good;
    colour_as_depth.depth.pixel_format = PixelFormat::RGBA8;
    PipelineDesc no_depth = good;
    no_depth.depth.pixel_format = PixelFormat::None;
    EXPECT_EQ(refusal(good, true), "");
    EXPECT_EQ(refusal(no_depth, true), "");
    EXPECT_EQ(refusal(good, false), "pipeline 'p': its shader is not valid");
    EXPECT_EQ(refusal(far_buffer, true), "pipeline 'p': vertex attribute 1 names buffer 3 or an unknown format");
    EXPECT_EQ(refusal(depth_as_colour, true), "pipeline 'p': colour format is not a colour format");
    EXPECT_EQ(refusal(colour_as_depth, true), "pipeline 'p': depth format is not a depth format");
}

TEST(BufferRules, SizesAndData) {
    const float data[6] = {};
    BufferDesc from_data{};
    from_data.data = {data, sizeof data};
    EXPECT_EQ(rules::defaults(from_data).size, sizeof data) << "size 0 takes the data's";
    EXPECT_EQ(rules::defaults(from_data).type, BufferType::VertexBuffer);
    EXPECT_EQ(refusal(from_data), "");
    BufferDesc empty{};
    empty.label = "b";
    EXPECT_EQ(refusal(empty), "buffer 'b': size 0");
    BufferDesc no_data = empty;
    no_data.size = 16;
    EXPECT_EQ(refusal(no_data), "buffer 'b': an immutable buffer needs its data");
    no_data.usage = Usage::Stream;
    EXPECT_EQ(refusal(no_data), "");
    BufferDesc too_much = from_data;
    too_much.size = 8;
    too_much.label = "b";
    EXPECT_EQ(refusal(too_much), "buffer 'b': 24 bytes of data exceed its size 8");
}

TEST(ShaderRules, SourcesEntryPointsAndUniformBlocks) {
    ShaderDesc d{};
    d.label = "s";
    d.vs.source = d.fs.source = "";
    EXPECT_EQ(refusal(d), "");
    ShaderDesc no_fs = d;
    no_fs.fs.source = nullptr;
    EXPECT_EQ(refusal(no_fs), "shader 's': no fragment source");
    ShaderDesc entry = d;
    entry.vs.entry = "vs_main";
    EXPECT_EQ(refusal(entry), "shader 's': vertex entry point 'vs_main' is not \"main\"");

    size_t declared[2][MAX_SHADERSTAGE_UBS] = {{208, 0, 0, 0}, {160, 48, 0, 0}};
    rules::Refusal why{};
    EXPECT_TRUE(rules::check_uniform_block(declared, 0, 208, "vs_params", "s", &why));
    EXPECT_TRUE(rules::check_uniform_block(declared, MAX_SHADERSTAGE_UBS + 1, 40, "metallic", "s", &why))
        << "a block the driver packs smaller fits";
    EXPECT_FALSE(rules::check_uniform_block(declared, MAX_SHADERSTAGE_UBS, 176, "light", "s", &why));
    EXPECT_STREQ(why.text, "shader 's': uniform block 'light' takes 176 bytes, 160 declared");
    EXPECT_FALSE(rules::check_uniform_block(declared, 1, 16, "extra", "s", &why));
    EXPECT_STREQ(why.text, "shader 's': uniform block 'extra' sits at binding 1, where no block is declared");
    EXPECT_FALSE(rules::check_uniform_block(declared, 2 * MAX_SHADERSTAGE_UBS, 16, "far", "s", &why));
}

struct PassCase {
    const char* what;
    ImageInfo color;
    bool color_valid;
    ImageInfo depth;
    bool depth_given;
    int color_mip, depth_mip;
    const char* refusal;
};

TEST(PassRules, Attachments) {
    const ImageInfo colour{8, 4, 2, 1, PixelFormat::BGRA8, true};
    const ImageInfo depth{8, 4, 1, 1, PixelFormat::DepthStencil, true};
    const ImageInfo small_depth{4, 2, 1, 1, PixelFormat::Depth, true};
    const ImageInfo msaa_depth{8, 4, 1, 4, PixelFormat::DepthStencil, true};
    const ImageInfo plain{8, 4, 1, 1, PixelFormat::RGBA8, false};
    const PassCase cases[] = {
        {"colour alone", colour, true, {}, false, 0, 0, ""},
        {"colour and depth", colour, true, depth, true, 0, 0, ""},
        {"colour level 1 against a depth of its size", colour, true, small_depth, true, 1, 0, ""},
        {"no valid colour image", colour, false, {}, false, 0, 0,
         "pass 'p': colour attachment is not a valid colour render target"},
        {"a plain image", plain, true, {}, false, 0, 0, "pass 'p': colour attachment is not a valid colour render target"},
        {"depth as the colour", depth, true, {}, false, 0, 0,
         "pass 'p': colour attachment is not a valid colour render target"},
        {"colour level past the chain", colour, true, {}, false, 2, 0, "pass 'p': colour attachment mip level 2 out of range"},
        {"depth of another size", colour, true, small_depth, true, 0, 0,
         "pass 'p': depth attachment 4x2 (1 samples) differs from colour 8x4 (1 samples)"},
        {"depth of another sample count", colour, true, msaa_depth, true, 0, 0,
         "pass 'p': depth attachment 8x4 (4 samples) differs from colour 8x4 (1 samples)"},
        {"colour as the depth", colour, true, colour, true, 0, 0,
         "pass 'p': depth attachment is not a valid depth render target"},
        {"depth level past the chain", colour, true, depth, true, 0, 1, "pass 'p': depth attachment mip level 1 out of range"},
    };
    for (const PassCase& c : cases) {
        PassDesc d{};
        d.label = "p";
        d.color_attachment = {{1}, c.color_mip};
        if (c.depth_given) d.depth_stencil_attachment = {{2}, c.depth_mip};
        EXPECT_EQ(refusal(d, c.color_valid ? &c.color : nullptr, c.depth_given ? &c.depth : nullptr), c.refusal)
            << c.what;
    }
}

}  // namespace

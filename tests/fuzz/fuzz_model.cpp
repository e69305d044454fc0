// The model loader's parsing and checks over arbitrary bytes, without a
// window: the GLB container, tinygltf from memory and every property the
// upload relies on. A model it accepts must have each primitive's geometry
// inside the parsed buffers, with every index below its vertex count; the
// geometry is read through here so that AddressSanitizer sees any overreach.
#include <cstring>
#include <string>

#include "fuzz_target.h"
#include "scene/model_parse.h"

namespace {

bool inside(const tinygltf::Model& gltf, const AccessorSpan& span, size_t element_size) {
    if (!span.bytes) return span.count == 0;
    for (const tinygltf::Buffer& buffer : gltf.buffers) {
        const uint8_t* begin = buffer.data.data();
        if (span.bytes >= begin && span.bytes <= begin + buffer.data.size())
            return span.count <= static_cast<size_t>(begin + buffer.data.size() - span.bytes) / element_size;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ParsedModel parsed;
    std::string error;
    if (!parse_model(data, size, parsed, error)) {
        FUZZ_CHECK(!error.empty() && error.find('\n') == std::string::npos);
        return 0;
    }
    FUZZ_CHECK(parsed.meshes.size() == parsed.gltf.meshes.size());
    for (const std::vector<PrimitiveData>& mesh : parsed.meshes) {
        for (const PrimitiveData& d : mesh) {
            FUZZ_CHECK(inside(parsed.gltf, d.indices, 2) && inside(parsed.gltf, d.positions, 12));
            FUZZ_CHECK(inside(parsed.gltf, d.normals, 12) && inside(parsed.gltf, d.texcoords, 8));
            FUZZ_CHECK(d.indices.count % 3 == 0);
            for (size_t i = 0; i < d.indices.count; ++i) {
                uint16_t index;
                std::memcpy(&index, d.indices.bytes + 2 * i, 2);
                FUZZ_CHECK(index < d.positions.count);
            }
            if (d.positions.count > 0) {  // the last vertex, where an overreach would start
                float last[3];
                std::memcpy(last, d.positions.bytes + 12 * (d.positions.count - 1), 12);
                volatile float sink = last[0] + last[1] + last[2];
                (void)sink;
            }
        }
    }
    for (const tinygltf::Node& node : parsed.gltf.nodes)
        FUZZ_CHECK(node.mesh < static_cast<int>(parsed.meshes.size()));
    return 0;
}

// The GL-free half of loading a model: the GLB container's checks, tinygltf
// from memory (its image decoding and file access switched off) and every
// property the loader relies on, with each primitive's geometry located inside
// the parsed buffers. load_model builds on it; the fuzz target drives it
// directly, without a window.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <tiny_gltf.h>

// Elements of one accessor, tightly packed inside the parsed buffers.
struct AccessorSpan {
    const uint8_t* bytes;
    size_t count;
};

// One primitive's geometry inside the parsed buffers.
struct PrimitiveData {
    AccessorSpan indices, positions, normals, texcoords;  // normals and texcoords may be empty
    size_t first_vertex, first_index;                     // its place in the packed buffers
};

struct ParsedModel {
    tinygltf::Model gltf;
    std::vector<std::vector<PrimitiveData>> meshes;  // per glTF mesh, per primitive
    std::vector<bool> has_pbr_block;  // per material: the JSON names a metallic-roughness block
};

// True when the bytes are a GLB that load_model can use; otherwise false with
// `error` naming what is wrong (one line). Spans point into out.gltf's buffers.
bool parse_model(const void* data, size_t size, ParsedModel& out, std::string& error);

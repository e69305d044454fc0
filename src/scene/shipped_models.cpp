#include "scene/shipped_models.h"

Model* shipped_models[MODEL_COUNT];
ModelLoadStats shipped_model_stats[MODEL_COUNT];

int32_t shipped_shape_mode(int slot) { return slot == MODEL_INGREDIENTS || slot == MODEL_GREETINGS ? 1 : 2; }

void load_shipped_models() {
    for (int slot = 0; slot < MODEL_COUNT && slot < model_files_count; ++slot) {
        if (shipped_models[slot]) continue;
        const EmbeddedFile& file = model_files[slot];
        shipped_models[slot] = load_model(file.bytes, static_cast<size_t>(file.size), shipped_shape_mode(slot),
                                          file.name, &shipped_model_stats[slot]);
    }
}

bool scene_models_ready() {
    for (int slot = 0; slot < MODEL_COUNT; ++slot)
        if (slot != MODEL_DONKEY && !shipped_models[slot]) return false;
    return true;
}

void forget_shipped_models() {
    for (Model*& model : shipped_models) {
        free_model_records(model);
        model = nullptr;
    }
    forget_scene_pipeline();
}

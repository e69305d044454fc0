// The seven models the show carries, loaded once by the load step in the
// order of their table (scene/model_files.h) and kept until the process ends.
#pragma once
#include <cstdint>

#include "scene/model.h"
#include "scene/model_files.h"

// By ModelSlot; null until load_shipped_models has loaded that slot.
extern Model* shipped_models[MODEL_COUNT];
// Where each load spent its time, by ModelSlot (the load benchmark prints them).
extern ModelLoadStats shipped_model_stats[MODEL_COUNT];

// 1 (a convex hull per primitive) for the ingredients and the greetings,
// 2 (a triangle mesh) for the five environments.
int32_t shipped_shape_mode(int slot);

// Loads every slot that is not loaded yet, in table order.
void load_shipped_models();

// Six of the seven are loaded: all but the donkey, which the scene does not
// need before its own scene.
bool scene_models_ready();

// After gfx::shutdown released their GPU objects: releases the models'
// records and forgets them and the scene pipeline, so that a later start-up in
// the same process loads them afresh. Nothing may use a model after this.
void forget_shipped_models();

// Stand-ins for the shipped models in headless physics scene tests: every
// mesh entry the spawner, the environments and the director name, each one
// primitive with a small convex hull and no GPU resources, installed in
// shipped_models; and a fixture that starts each test from an empty world.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "physics/scene_inputs.h"
#include "render/math3d.h"

// Fills every slot of shipped_models with a stand-in model (once per process).
void install_scene_models();

// Empties the world, the graph and the piece list and seeds the normal generator.
class PhysicsScene : public ::testing::Test {
protected:
    void SetUp() override;
};

// Pieces by node name.
std::map<std::string, int> item_names();
// Position and velocity of piece i's body.
vec3 item_position(int i);
vec3 item_velocity(int i);
// Whether every live node's transform is free of NaN and infinity.
bool scene_transforms_finite();
// Inputs at one frame of 60 per second, nothing moving, everything else 0.
SceneInputs still_inputs(double param, float music_time = 0);

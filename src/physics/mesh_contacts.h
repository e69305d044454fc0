// Contacts between small convex hulls and static triangle meshes, cheaper
// than Bullet's general convex-versus-triangle test: each hull vertex that
// lies within a triangle's prism and reaches its face makes one contact along
// the face normal, so there are no internal-edge normals to correct. Faces are
// one-sided (the front is where the counter-clockwise winding faces): a face
// holds a hull whose centre is in front of it or has only just slipped behind
// it, and lets one farther behind it pass.
// Part of the physics module only; the rest of the show uses sim.h.
#pragma once

class btCollisionDispatcher;

// Makes the dispatcher use these contacts for hull–mesh pairs, both orders.
void use_hull_mesh_contacts(btCollisionDispatcher* dispatcher);

// Hull–hull pairs keep their contacts without a new test while the two have
// moved less than these against each other since the last one: the contact
// points are only brought up to date (the original library's body-pair cache).
struct pair_cache_limits {
    float max_delta_position_sq;
    float cos_max_delta_rotation_div2;
};
void use_hull_pair_cache(btCollisionDispatcher* dispatcher, pair_cache_limits limits);

// The largest of these algorithms: the dispatcher's algorithm pool must hold it.
int contact_algorithm_size();

// Contacts between small convex hulls and static triangle meshes, cheaper
// than Bullet's general convex-versus-triangle test: each hull vertex that
// lies within a triangle's prism and reaches its front face makes one
// contact along the face normal. The meshes are one-sided (the front is where
// the counter-clockwise winding faces), so a piece behind a face is pushed
// out through the front, and there are no internal-edge normals to correct.
// Part of the physics module only; the rest of the show uses sim.h.
#pragma once

class btCollisionDispatcher;

// Makes the dispatcher use these contacts for hull–mesh pairs, both orders.
void use_hull_mesh_contacts(btCollisionDispatcher* dispatcher);

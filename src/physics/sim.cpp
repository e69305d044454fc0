#include "physics/sim.h"

#include "physics/mesh_contacts.h"

#include <btBulletDynamicsCommon.h>
#include <BulletCollision/CollisionDispatch/btInternalEdgeUtility.h>
#include <BulletCollision/CollisionShapes/btTriangleInfoMap.h>
#include <LinearMath/btConvexHullComputer.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <set>

std::vector<std::unique_ptr<shape_s>> shape_list;
sim_s* sim_world = nullptr;

namespace {

constexpr float hull_margin = 0.05f;  // the hull's convex radius, kept inside its faces

btVector3 to_bt(vec3 v) { return {v.x, v.y, v.z}; }
vec3 to_vec3(const btVector3& v) { return {v.x(), v.y(), v.z()}; }
btQuaternion to_bt(quat q) { return {q.x, q.y, q.z, q.w}; }
quat to_quat(const btQuaternion& q) { return {q.x(), q.y(), q.z(), q.w()}; }

mat4 to_mat4(const btTransform& t) {
    mat4 m = mat4_identity();
    const btMatrix3x3& b = t.getBasis();
    for (int column = 0; column < 3; ++column)
        for (int row = 0; row < 3; ++row) m.at(column, row) = b[row][column];
    m.at(3, 0) = t.getOrigin().x();
    m.at(3, 1) = t.getOrigin().y();
    m.at(3, 2) = t.getOrigin().z();
    return m;
}

// Group bit and collision mask of an object layer, from the pair rule.
int layer_group(int layer) { return 1 << layer; }
int layer_mask(int layer) {
    int mask = 0;
    for (int other = 0; other < object_layer_count; ++other)
        if (object_layers_collide(layer, other)) mask |= 1 << other;
    return mask;
}

// ---- hulls --------------------------------------------------------------------

struct plane_s {
    btVector3 normal;  // outward, unit length
    btScalar offset;   // normal · x = offset on the plane
};

// The face polygons of a computed hull, as vertex index lists.
std::vector<std::vector<int>> hull_faces(const btConvexHullComputer& hull) {
    std::vector<std::vector<int>> faces;
    faces.reserve(hull.faces.size());
    for (int f = 0; f < hull.faces.size(); ++f) {
        std::vector<int> polygon;
        const btConvexHullComputer::Edge* first = &hull.edges[hull.faces[f]];
        const btConvexHullComputer::Edge* edge = first;
        do {
            polygon.push_back(edge->getSourceVertex());
            edge = edge->getNextEdgeOfFace();
        } while (edge != first && polygon.size() <= static_cast<size_t>(hull.vertices.size()));
        faces.push_back(std::move(polygon));
    }
    return faces;
}

std::vector<plane_s> hull_planes(const btConvexHullComputer& hull,
                                 const std::vector<std::vector<int>>& faces) {
    std::vector<plane_s> planes;
    for (const auto& polygon : faces) {
        // Newell's normal: robust for polygons with nearly collinear corners.
        btVector3 normal(0, 0, 0), centre(0, 0, 0);
        for (size_t i = 0; i < polygon.size(); ++i) {
            const btVector3& a = hull.vertices[polygon[i]];
            const btVector3& b = hull.vertices[polygon[(i + 1) % polygon.size()]];
            normal += btVector3((a.y() - b.y()) * (a.z() + b.z()), (a.z() - b.z()) * (a.x() + b.x()),
                                (a.x() - b.x()) * (a.y() + b.y()));
            centre += a;
        }
        if (normal.length2() <= 0) continue;
        normal.normalize();
        centre /= btScalar(polygon.size());
        planes.push_back({normal, normal.dot(centre)});
    }
    return planes;
}

// Picks at most limit of the hull's vertices that keep its shape best: a
// spanning tetrahedron first, then always the vertex farthest outside the hull
// of those picked so far. Returns fewer than four points for flat input.
std::vector<btVector3> reduce_points(const btConvexHullComputer& full, int limit) {
    const auto& v = full.vertices;
    const int n = v.size();
    std::vector<btVector3> picked;
    auto farthest = [&](auto distance) {
        int best = 0;
        btScalar best_d = -1;
        for (int i = 0; i < n; ++i) {
            btScalar d = distance(v[i]);
            if (d > best_d) best_d = d, best = i;
        }
        return std::pair{best, best_d};
    };
    int i0 = 0;
    for (int i = 1; i < n; ++i)
        if (v[i].x() < v[i0].x()) i0 = i;
    auto [i1, d1] = farthest([&](const btVector3& p) { return (p - v[i0]).length(); });
    btVector3 axis = (v[i1] - v[i0]).normalized();
    auto [i2, d2] = farthest([&](const btVector3& p) {
        btVector3 r = p - v[i0];
        return (r - axis * axis.dot(r)).length();
    });
    btVector3 normal = (v[i1] - v[i0]).cross(v[i2] - v[i0]).normalized();
    auto [i3, d3] = farthest([&](const btVector3& p) { return btFabs(normal.dot(p - v[i0])); });
    if (d1 <= 0 || d2 <= 0 || d3 <= 0) return picked;
    picked = {v[i0], v[i1], v[i2], v[i3]};
    while (static_cast<int>(picked.size()) < limit) {
        btConvexHullComputer part;
        part.compute(&picked[0].x(), sizeof(btVector3), static_cast<int>(picked.size()), 0, 0);
        std::vector<plane_s> planes = hull_planes(part, hull_faces(part));
        auto [next, outside] = farthest([&](const btVector3& p) {
            btScalar d = -BT_LARGE_FLOAT;
            for (const plane_s& plane : planes) d = std::max(d, plane.normal.dot(p) - plane.offset);
            return d;
        });
        if (outside <= btScalar(1e-6)) break;
        picked.push_back(v[next]);
    }
    return picked;
}

// Volume, centre of mass and inertia tensor (density 1) of a closed hull,
// summed over tetrahedra from a point inside to each face triangle.
struct mass_s {
    btScalar volume = 0;
    btVector3 center{0, 0, 0};
    btMatrix3x3 inertia;
};

mass_s hull_mass(const btConvexHullComputer& hull, const std::vector<std::vector<int>>& faces) {
    btVector3 ref(0, 0, 0);
    for (int i = 0; i < hull.vertices.size(); ++i) ref += hull.vertices[i];
    ref /= btScalar(hull.vertices.size());
    double volume = 0;
    double first[3] = {0, 0, 0};
    double second[3][3] = {};  // ∫ x_i x_j dV about ref
    for (const auto& polygon : faces) {
        for (size_t k = 1; k + 1 < polygon.size(); ++k) {
            btVector3 a = hull.vertices[polygon[0]] - ref;
            btVector3 b = hull.vertices[polygon[k]] - ref;
            btVector3 c = hull.vertices[polygon[k + 1]] - ref;
            double det = a.dot(b.cross(c));
            volume += det / 6.0;
            for (int i = 0; i < 3; ++i) first[i] += det / 24.0 * (a[i] + b[i] + c[i]);
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    second[i][j] += det / 120.0 *
                                    (2 * (a[i] * a[j] + b[i] * b[j] + c[i] * c[j]) + a[i] * b[j] +
                                     a[j] * b[i] + a[i] * c[j] + a[j] * c[i] + b[i] * c[j] + b[j] * c[i]);
        }
    }
    mass_s m;
    if (!(volume > 0)) return m;
    btVector3 centre(first[0] / volume, first[1] / volume, first[2] / volume);
    double about_com[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) about_com[i][j] = second[i][j] - volume * centre[i] * centre[j];
    double trace = about_com[0][0] + about_com[1][1] + about_com[2][2];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m.inertia[i][j] = btScalar((i == j ? trace : 0) - about_com[i][j]);
    m.volume = btScalar(volume);
    m.center = centre + ref;
    return m;
}

std::unique_ptr<shape_s> make_hull(int32_t count, const float* points, int max_points, int32_t& planes_out) {
    planes_out = 0;
    if (count < 4 || !points) return nullptr;
    for (int64_t i = 0; i < int64_t(count) * 3; ++i)
        if (!std::isfinite(points[i])) return nullptr;

    btConvexHullComputer full;
    full.compute(points, 3 * sizeof(float), count, 0, 0);
    if (full.vertices.size() < 4 || full.faces.size() < 4) return nullptr;
    std::vector<btVector3> reduced = reduce_points(full, max_points);
    if (reduced.size() < 4) return nullptr;

    btConvexHullComputer hull;
    hull.compute(&reduced[0].x(), sizeof(btVector3), static_cast<int>(reduced.size()), 0, 0);
    std::vector<std::vector<int>> faces = hull_faces(hull);
    mass_s mass = hull_mass(hull, faces);
    if (!(mass.volume > 0) || hull.faces.size() < 4) return nullptr;
    planes_out = hull.faces.size();

    // Principal axes: old = rot × diagonal × rotᵀ.
    btMatrix3x3 diagonal = mass.inertia;
    btMatrix3x3 rot;
    rot.setIdentity();
    diagonal.diagonalize(rot, btScalar(1e-9), 32);
    if (rot.determinant() < 0) rot.setValue(-rot[0][0], rot[0][1], rot[0][2], -rot[1][0], rot[1][1],
                                            rot[1][2], -rot[2][0], rot[2][1], rot[2][2]);
    btTransform frame(rot, mass.center);
    btTransform to_frame = frame.inverse();

    std::vector<btVector3> local(reduced.size());
    for (size_t i = 0; i < reduced.size(); ++i) local[i] = to_frame * reduced[i];
    // The margin sits inside the faces, so the rounded hull keeps the input's size.
    btConvexHullComputer shrunk;
    btScalar margin = shrunk.compute(&local[0].x(), sizeof(btVector3), static_cast<int>(local.size()),
                                     hull_margin, btScalar(0.25));
    if (margin < 0 || shrunk.vertices.size() < 4) {
        margin = 0;
        shrunk.compute(&local[0].x(), sizeof(btVector3), static_cast<int>(local.size()), 0, 0);
    }
    auto* convex = new btConvexHullShape(&shrunk.vertices[0].x(), shrunk.vertices.size(), sizeof(btVector3));
    convex->setMargin(margin);

    auto s = std::make_unique<shape_s>();
    s->shape = convex;
    s->mass = mass.volume * hull_density;
    s->inertia = {diagonal[0][0] * hull_density, diagonal[1][1] * hull_density, diagonal[2][2] * hull_density};
    s->center_of_mass = to_vec3(mass.center);
    s->principal_rotation = to_quat(frame.getRotation());
    btVector3 lo(BT_LARGE_FLOAT, BT_LARGE_FLOAT, BT_LARGE_FLOAT), hi = -lo;
    for (const btVector3& p : reduced) lo.setMin(p), hi.setMax(p);
    s->bounds_min = to_vec3(lo);
    s->bounds_max = to_vec3(hi);
    btScalar inner = BT_LARGE_FLOAT, outer = 0;
    for (const plane_s& plane : hull_planes(hull, faces))
        inner = std::min(inner, plane.offset - plane.normal.dot(mass.center));
    for (const btVector3& p : reduced) outer = std::max(outer, (p - mass.center).length());
    s->inner_radius = inner;
    s->outer_radius = outer;
    s->planes = planes_out;
    s->points = static_cast<int32_t>(reduced.size());
    return s;
}

// ---- contacts ---------------------------------------------------------------

btScalar combined_friction(const btCollisionObject* a, const btCollisionObject* b) {
    return combine_friction(a->getFriction(), b->getFriction());
}
btScalar combined_restitution(const btCollisionObject* a, const btCollisionObject* b) {
    return combine_restitution(a->getRestitution(), b->getRestitution());
}

// Contacts of other shapes (spheres) with a static mesh take the face normal
// at inner edges, so that nothing snags on the seams between triangles.
bool is_mesh_triangle(const btCollisionObjectWrapper* w) {
    return w->getCollisionShape()->getShapeType() == TRIANGLE_SHAPE_PROXYTYPE &&
           w->getCollisionObject()->getCollisionShape()->getShapeType() == TRIANGLE_MESH_SHAPE_PROXYTYPE;
}

bool mesh_contact_added(btManifoldPoint& cp, const btCollisionObjectWrapper* a, int, int,
                        const btCollisionObjectWrapper* b, int part_b, int index_b) {
    if (is_mesh_triangle(b)) btAdjustInternalEdgeContacts(cp, b, a, part_b, index_b, 0);
    return true;
}

}  // namespace

// ---- shapes -----------------------------------------------------------------

struct shape_s::storage_s {
    std::vector<btScalar> vertices;
    std::vector<int> indices;
    btTriangleIndexVertexArray array;
    btTriangleInfoMap edges;
};
shape_s::shape_s() = default;
shape_s::~shape_s() { delete shape; }

int32_t build_convex_hull_shape(int32_t count, const float* points, int32_t max_points) {
    int32_t planes = 0;
    std::unique_ptr<shape_s> s = make_hull(count, points, std::clamp(max_points, 4, max_hull_points), planes);
    std::printf("  %d convex planes\n", planes);
    if (!s) return -1;
    shape_list.push_back(std::move(s));
    return static_cast<int32_t>(shape_list.size() - 1);
}

int32_t build_mesh_shape(int32_t vertex_count, const float* vertices, int32_t index_count,
                         const uint16_t* indices) {
    if (vertex_count <= 0 || index_count < 3 || !vertices || !indices) return -1;
    auto storage = std::make_unique<shape_s::storage_s>();
    storage->vertices.assign(vertices, vertices + int64_t(vertex_count) * 3);
    for (float x : storage->vertices)
        if (!std::isfinite(x)) {
            std::fprintf(stderr, "mesh shape: vertex coordinate is not a finite number\n");
            return -1;
        }
    auto point = [&](int i) {
        return btVector3(storage->vertices[3 * i], storage->vertices[3 * i + 1], storage->vertices[3 * i + 2]);
    };
    std::set<std::array<int, 3>> seen;
    const int32_t triangles = index_count / 3;
    for (int32_t t = 0; t < triangles; ++t) {
        std::array<int, 3> tri = {indices[3 * t], indices[3 * t + 1], indices[3 * t + 2]};
        for (int k = 0; k < 3; ++k)
            if (tri[k] >= vertex_count) {
                std::fprintf(stderr, "mesh shape: index %d of triangle %d names no vertex (%d vertices)\n",
                             tri[k], t, vertex_count);
                return -1;
            }
        if (tri[0] == tri[1] || tri[1] == tri[2] || tri[0] == tri[2]) continue;
        btVector3 area = (point(tri[1]) - point(tri[0])).cross(point(tri[2]) - point(tri[0]));
        if (!(area.length2() > btScalar(1e-12))) continue;
        // The same triangle in another rotation is a duplicate; reversed it is not.
        std::array<int, 3> key = tri;
        std::rotate(key.begin(), std::min_element(key.begin(), key.end()), key.end());
        if (!seen.insert(key).second) continue;
        storage->indices.insert(storage->indices.end(), tri.begin(), tri.end());
    }
    if (storage->indices.empty()) return -1;

    btIndexedMesh mesh;
    mesh.m_numTriangles = static_cast<int>(storage->indices.size() / 3);
    mesh.m_triangleIndexBase = reinterpret_cast<const unsigned char*>(storage->indices.data());
    mesh.m_triangleIndexStride = 3 * sizeof(int);
    mesh.m_numVertices = vertex_count;
    mesh.m_vertexBase = reinterpret_cast<const unsigned char*>(storage->vertices.data());
    mesh.m_vertexStride = 3 * sizeof(btScalar);
    storage->array.addIndexedMesh(mesh, PHY_INTEGER);
    auto* shape = new btBvhTriangleMeshShape(&storage->array, true);
    shape->setUserPointer(storage.get());
    btGenerateInternalEdgeInfo(shape, &storage->edges);

    auto s = std::make_unique<shape_s>();
    s->shape = shape;
    s->is_mesh = true;
    s->triangles = static_cast<int32_t>(storage->indices.size() / 3);
    btVector3 lo(BT_LARGE_FLOAT, BT_LARGE_FLOAT, BT_LARGE_FLOAT), hi = -lo;
    for (size_t i = 0; i < storage->indices.size(); ++i) {
        lo.setMin(point(storage->indices[i]));
        hi.setMax(point(storage->indices[i]));
    }
    s->bounds_min = to_vec3(lo);
    s->bounds_max = to_vec3(hi);
    s->outer_radius = std::max(lo.length(), hi.length());
    s->storage = std::move(storage);
    shape_list.push_back(std::move(s));
    return static_cast<int32_t>(shape_list.size() - 1);
}

// ---- layers and materials -----------------------------------------------------

bool object_layers_collide(int a, int b) {
    return (a == LAYER_MOVING && (b == LAYER_MOVING || b == LAYER_NON_MOVING)) ||
           (a == LAYER_NON_MOVING && b == LAYER_MOVING);
}

bool object_layer_meets_broad_phase(int layer, int broad_phase_layer) {
    if (layer == LAYER_NON_MOVING) return broad_phase_layer == 1;
    if (layer == LAYER_MOVING) return broad_phase_layer == 0 || broad_phase_layer == 1;
    return false;
}

float combine_friction(float a, float b) { return std::sqrt(a * b); }
float combine_restitution(float a, float b) { return a > b ? a : b; }

// ---- the world ----------------------------------------------------------------

namespace {

struct body_slot {
    btRigidBody* body = nullptr;  // null while the slot is free
    uint16_t sequence = 0;        // of the body in the slot, or of the last one
    bool dynamic = false;
    btScalar radius = 0;          // outer radius: the angular sleep threshold is speed / radius
    btTransform frame;            // centre-of-mass frame in the body's origin frame
    std::unique_ptr<btCollisionShape> own_shape;  // a sphere's
};

// Finds where a small sphere at a piece's centre of mass, moved by this
// sub-step's velocity, first meets the front face of a static mesh. Back
// faces are passed through: a piece that is inside a mesh leaves it.
struct front_face_sweep : btCollisionWorld::ClosestConvexResultCallback {
    btVector3 motion;
    btVector3 face_normal{0, 1, 0};
    front_face_sweep(const btVector3& from, const btVector3& to)
        : ClosestConvexResultCallback(from, to), motion(to - from) {}

    btScalar addSingleResult(btCollisionWorld::LocalConvexResult& hit, bool normal_in_world) override {
        btVector3 normal = hit.m_hitNormalLocal;
        const btCollisionShape* shape = hit.m_hitCollisionObject->getCollisionShape();
        const auto* mesh = static_cast<const shape_s::storage_s*>(shape->getUserPointer());
        if (mesh && hit.m_localShapeInfo) {
            const int* tri = &mesh->indices[3 * hit.m_localShapeInfo->m_triangleIndex];
            auto vertex = [&](int i) {
                return btVector3(mesh->vertices[3 * i], mesh->vertices[3 * i + 1], mesh->vertices[3 * i + 2]);
            };
            btVector3 a = vertex(tri[0]);
            normal = hit.m_hitCollisionObject->getWorldTransform().getBasis() *
                     (vertex(tri[1]) - a).cross(vertex(tri[2]) - a).normalized();
        } else if (!normal_in_world) {
            normal = hit.m_hitCollisionObject->getWorldTransform().getBasis() * normal;
        }
        if (normal.dot(motion) >= 0) return m_closestHitFraction;
        ClosestConvexResultCallback::addSingleResult(hit, normal_in_world);
        face_normal = normal;
        return hit.m_hitFraction;
    }
};

class dynamics_world : public btDiscreteDynamicsWorld {
public:
    using btDiscreteDynamicsWorld::btDiscreteDynamicsWorld;
    btAlignedObjectArray<btRigidBody*>& moving_bodies() { return m_nonStaticRigidBodies; }
    std::vector<btRigidBody*> meshes;  // static triangle-mesh bodies, swept against
    btScalar cast_threshold = 0.75f;   // of the sweep radius, per sub-step
    btScalar cast_penetration = 0.25f;
    bool rest_alone = true;            // see updateActivationState
    btScalar wake_speed = 2;

    // Resting bodies lie still as if static, with their mass kept here.
    struct resting_s {
        bool resting = false;
        btScalar mass = 0;
        btVector3 inertia{0, 0, 0};
    };
    std::vector<resting_s> rest;  // by body user index (slot)

    bool is_resting(const btCollisionObject* b) const {
        size_t i = static_cast<size_t>(b->getUserIndex());
        return i < rest.size() && rest[i].resting;
    }
    void lay_to_rest(btRigidBody* b) {
        size_t i = static_cast<size_t>(b->getUserIndex());
        if (rest.size() <= i) rest.resize(i + 1);
        resting_s& r = rest[i];
        r.resting = true;
        r.mass = 1 / b->getInvMass();
        const btVector3& inv = b->getInvInertiaDiagLocal();
        r.inertia = btVector3(inv.x() > 0 ? 1 / inv.x() : 0, inv.y() > 0 ? 1 / inv.y() : 0, inv.z() > 0 ? 1 / inv.z() : 0);
        b->setLinearVelocity(btVector3(0, 0, 0));
        b->setAngularVelocity(btVector3(0, 0, 0));
        b->setMassProps(0, btVector3(0, 0, 0));
        b->updateInertiaTensor();
        b->forceActivationState(ISLAND_SLEEPING);
    }
    // Wakes a dynamic body, resting or asleep.
    void wake(btRigidBody* b) {
        if (is_resting(b)) {
            resting_s& r = rest[static_cast<size_t>(b->getUserIndex())];
            r.resting = false;
            b->setMassProps(r.mass, r.inertia);
            b->updateInertiaTensor();
            b->setGravity(m_gravity);
            b->forceActivationState(ACTIVE_TAG);
        }
        b->activate(true);
        b->setDeactivationTime(0);
    }
    void forget(const btCollisionObject* b) {
        size_t i = static_cast<size_t>(b->getUserIndex());
        if (i < rest.size()) rest[i].resting = false;
    }

protected:
    // A body that has been slow for the sleep time goes to rest on its own,
    // even while its island is awake: in a busy pile the island never sleeps.
    // A resting body is solid for the others until one strikes it.
    void updateActivationState(btScalar step) override {
        btDiscreteDynamicsWorld::updateActivationState(step);
        if (!rest_alone || gDisableDeactivation) return;
        for (int i = 0; i < m_nonStaticRigidBodies.size(); ++i) {
            btRigidBody* b = m_nonStaticRigidBodies[i];
            if (b->isActive() && !b->isStaticOrKinematicObject() && b->getActivationState() != DISABLE_DEACTIVATION &&
                b->getDeactivationTime() > gDeactivationTime)
                lay_to_rest(b);
        }
    }

    // Before the islands are built: resting bodies struck faster than
    // wake_speed join the simulation again.
    void calculateSimulationIslands() override {
        if (rest_alone) {
            for (int m = 0; m < m_dispatcher1->getNumManifolds(); ++m) {
                btPersistentManifold* manifold = m_dispatcher1->getManifoldByIndexInternal(m);
                const btCollisionObject* a = manifold->getBody0();
                const btCollisionObject* b = manifold->getBody1();
                const bool rest_a = is_resting(a), rest_b = is_resting(b);
                if (rest_a == rest_b || manifold->getNumContacts() == 0) continue;
                const btRigidBody* mover = btRigidBody::upcast(rest_a ? b : a);
                if (!mover || mover->isStaticOrKinematicObject() || !mover->isActive()) continue;
                for (int p = 0; p < manifold->getNumContacts(); ++p) {
                    const btManifoldPoint& point = manifold->getContactPoint(p);
                    const btVector3 at = (rest_a ? point.getPositionWorldOnB() : point.getPositionWorldOnA()) -
                                         mover->getCenterOfMassPosition();
                    // The normal points from b to a.
                    const btScalar along = mover->getVelocityInLocalPoint(at).dot(point.m_normalWorldOnB);
                    if ((rest_a ? along : -along) > wake_speed) {
                        wake(btRigidBody::upcast(const_cast<btCollisionObject*>(rest_a ? a : b)));
                        break;
                    }
                }
            }
        }
        btDiscreteDynamicsWorld::calculateSimulationIslands();
    }

public:

    // Pieces that move far in one sub-step get a contact ahead of them where
    // they would meet a static mesh, so that none passes through one. Only the
    // few static meshes are swept, never the broad phase's thousands of pieces.
    void createPredictiveContacts(btScalar step) override {
        releasePredictiveContacts();
        if (meshes.empty()) return;
        btTransform predicted;
        for (int i = 0; i < m_nonStaticRigidBodies.size(); ++i) {
            btRigidBody* body = m_nonStaticRigidBodies[i];
            const btScalar radius = body->getCcdSweptSphereRadius();
            if (!body->isActive() || radius <= 0) continue;
            body->predictIntegratedTransform(step, predicted);
            const btVector3& from = body->getWorldTransform().getOrigin();
            const btVector3 motion = predicted.getOrigin() - from;
            if (motion.length2() <= cast_threshold * cast_threshold * radius * radius) continue;

            btVector3 lo = from, hi = from;
            lo.setMin(predicted.getOrigin());
            hi.setMax(predicted.getOrigin());
            lo -= btVector3(radius, radius, radius);
            hi += btVector3(radius, radius, radius);
            btSphereShape sphere(radius);
            btTransform start(btQuaternion::getIdentity(), from), end(btQuaternion::getIdentity(), predicted.getOrigin());
            front_face_sweep sweep(from, predicted.getOrigin());
            for (btRigidBody* mesh : meshes) {
                btVector3 mesh_lo, mesh_hi;
                mesh->getCollisionShape()->getAabb(mesh->getWorldTransform(), mesh_lo, mesh_hi);
                if (!TestAabbAgainstAabb2(lo, hi, mesh_lo, mesh_hi)) continue;
                objectQuerySingle(&sphere, start, end, mesh, mesh->getCollisionShape(), mesh->getWorldTransform(),
                                  sweep, cast_penetration * radius);
            }
            if (!sweep.hasHit()) continue;

            const btVector3 reach = motion * sweep.m_closestHitFraction;
            const btScalar distance = reach.dot(-sweep.face_normal);
            btPersistentManifold* manifold = m_dispatcher1->getNewManifold(body, sweep.m_hitCollisionObject);
            m_predictiveManifolds.push_back(manifold);
            const btVector3 on_mesh = from + reach;
            btManifoldPoint point(btVector3(0, 0, 0), sweep.m_hitCollisionObject->getWorldTransform().invXform(on_mesh),
                                  sweep.face_normal, distance);
            btManifoldPoint& added = manifold->getContactPoint(manifold->addManifoldPoint(point, true));
            added.m_combinedRestitution = 0;
            added.m_combinedFriction = gCalculateCombinedFrictionCallback(body, sweep.m_hitCollisionObject);
            added.m_positionWorldOnA = from;
            added.m_positionWorldOnB = on_mesh;
        }
    }
};

void clamp_velocities(btDynamicsWorld* world, btScalar) {
    auto& bodies = static_cast<dynamics_world*>(world)->moving_bodies();
    for (int i = 0; i < bodies.size(); ++i) {
        btRigidBody* b = bodies[i];
        if (!b->isActive()) continue;
        btScalar v2 = b->getLinearVelocity().length2();
        if (v2 > max_linear_velocity * max_linear_velocity)
            b->setLinearVelocity(b->getLinearVelocity() * (max_linear_velocity / btSqrt(v2)));
        btScalar w2 = b->getAngularVelocity().length2();
        if (w2 > max_angular_velocity * max_angular_velocity)
            b->setAngularVelocity(b->getAngularVelocity() * (max_angular_velocity / btSqrt(w2)));
    }
}

}  // namespace

struct sim_s::world_s {
    std::unique_ptr<btDefaultCollisionConfiguration> configuration;
    std::unique_ptr<btCollisionDispatcher> dispatcher;
    std::unique_ptr<btDbvtBroadphase> broad_phase;
    std::unique_ptr<btSequentialImpulseConstraintSolver> solver;
    std::unique_ptr<dynamics_world> dynamics;
    std::vector<body_slot> slots;
    std::vector<uint16_t> free_slots;
    int32_t live = 0;

    body_slot* find(BodyID id) {
        if (id.is_invalid() || id.index() >= slots.size()) return nullptr;
        body_slot& s = slots[id.index()];
        return s.body && s.sequence == id.sequence() ? &s : nullptr;
    }
    const body_slot* find(BodyID id) const { return const_cast<world_s*>(this)->find(id); }

    BodyID add(btCollisionShape* shape, std::unique_ptr<btCollisionShape> own, bool dynamic, btScalar mass,
               const btVector3& inertia, const btTransform& frame, btScalar radius,
               btScalar sweep_radius, const sim_settings_s& settings);

    btScalar sleep_speed = 0;  // below this a body counts as still

    void set_sleep_speed(body_slot& s) const {
        s.body->setSleepingThresholds(sleep_speed, s.radius > 0 ? sleep_speed / s.radius : sleep_speed);
    }

    btTransform origin_transform(const body_slot& s) const {
        return s.body->getWorldTransform() * s.frame.inverse();
    }
    void place(body_slot& s, const btTransform& origin) {
        s.body->setWorldTransform(origin * s.frame);
        s.body->setInterpolationWorldTransform(s.body->getWorldTransform());
        if (s.body->getBroadphaseHandle()) dynamics->updateSingleAabb(s.body);
    }
};

sim_s::sim_s() = default;

sim_s::~sim_s() {
    if (world) clear_bodies();
}

void sim_s::init() {
    if (world) return;
    gCalculateCombinedFrictionCallback = combined_friction;
    gCalculateCombinedRestitutionCallback = combined_restitution;
    gContactAddedCallback = mesh_contact_added;
    gDeactivationTime = settings.time_before_sleep;
    gContactBreakingThreshold = settings.speculative_contact_distance;

    world = std::make_unique<world_s>();
    // The dispatcher's pools are the world's temporary memory: manifolds for
    // the contact constraints, algorithms for the body pairs.
    btDefaultCollisionConstructionInfo memory;
    memory.m_defaultMaxPersistentManifoldPoolSize = 32768;
    memory.m_defaultMaxCollisionAlgorithmPoolSize = 65536;
    memory.m_customCollisionAlgorithmMaxElementSize = contact_algorithm_size();
    world->configuration = std::make_unique<btDefaultCollisionConfiguration>(memory);
    world->dispatcher = std::make_unique<btCollisionDispatcher>(world->configuration.get());
    if (settings.check_active_edges) use_hull_mesh_contacts(world->dispatcher.get());
    if (settings.use_body_pair_contact_cache)
        use_hull_pair_cache(world->dispatcher.get(), {settings.body_pair_cache_max_delta_position_sq,
                                                      settings.body_pair_cache_cos_max_delta_rotation_div2});
    world->broad_phase = std::make_unique<btDbvtBroadphase>();
    world->solver = std::make_unique<btSequentialImpulseConstraintSolver>();
    world->dynamics = std::make_unique<dynamics_world>(world->dispatcher.get(), world->broad_phase.get(),
                                                        world->solver.get(), world->configuration.get());
    world->dynamics->setInternalTickCallback(clamp_velocities, this, true);
    // Sleeping bodies and statics keep their bounds; every call that moves a
    // body updates them itself.
    world->dynamics->setForceUpdateAllAabbs(false);
    // New overlaps are found once a step, tree against tree, rather than
    // with a query for every body that moved: most of them move.
    world->broad_phase->m_deferedcollide = true;
    world->dynamics->cast_threshold = settings.linear_cast_threshold;
    world->dynamics->cast_penetration = settings.linear_cast_max_penetration;
    world->dynamics->rest_alone = settings.rest_in_busy_piles && settings.allow_sleeping;
    world->dynamics->wake_speed = settings.wake_speed;
    // Pieces stopped by a predictive contact still bounce.
    world->dynamics->setApplySpeculativeContactRestitution(true);

    btContactSolverInfo& solver = world->dynamics->getSolverInfo();
    solver.m_numIterations = settings.num_velocity_steps;
    solver.m_splitImpulse = settings.num_position_steps > 0;
    solver.m_erp = settings.baumgarte;
    solver.m_erp2 = settings.baumgarte;
    // Bullet's slop also takes slop / step off every bounce (its solver aims
    // at restitution − distance / step), which at four sub-steps leaves a
    // quarter of it; the slop only decides when split impulse takes over.
    solver.m_linearSlop = 0;
    solver.m_splitImpulsePenetrationThreshold = -settings.penetration_slop;
    solver.m_restitutionVelocityThreshold = settings.min_velocity_for_restitution;
    if (settings.constraint_warm_start)
        solver.m_solverMode |= SOLVER_USE_WARMSTARTING;
    else
        solver.m_solverMode &= ~SOLVER_USE_WARMSTARTING;
    set_gravity({0, -9.81f, 0});
}

BodyID sim_s::world_s::add(btCollisionShape* shape, std::unique_ptr<btCollisionShape> own, bool dynamic,
                           btScalar mass, const btVector3& inertia, const btTransform& frame, btScalar radius,
                           btScalar sweep_radius, const sim_settings_s& settings) {
    if (live >= max_bodies) return {};
    uint16_t index;
    if (!free_slots.empty()) {
        index = free_slots.back();
        free_slots.pop_back();
    } else {
        index = static_cast<uint16_t>(slots.size());
        slots.emplace_back();
    }
    body_slot& s = slots[index];
    s.sequence = static_cast<uint16_t>(s.sequence + 1 == 0x10000 ? 1 : s.sequence + 1);
    s.frame = frame;
    s.dynamic = dynamic;
    s.own_shape = std::move(own);

    btRigidBody::btRigidBodyConstructionInfo info(mass, nullptr, shape, inertia);
    info.m_startWorldTransform = frame;
    info.m_friction = default_friction;
    info.m_restitution = default_restitution;
    info.m_linearDamping = default_damping;
    info.m_angularDamping = default_damping;
    s.radius = radius;
    s.body = new btRigidBody(info);
    s.body->setUserIndex(index);
    set_sleep_speed(s);
    dynamics->forget(s.body);
    // The predictive sweep's sphere (see createPredictiveContacts); Bullet's
    // own motion clamping stays off (no motion threshold).
    if (dynamic) s.body->setCcdSweptSphereRadius(sweep_radius);
    const int layer = dynamic ? LAYER_MOVING : LAYER_NON_MOVING;
    if (!dynamic && settings.check_active_edges && shape->getShapeType() == TRIANGLE_MESH_SHAPE_PROXYTYPE)
        s.body->setCollisionFlags(s.body->getCollisionFlags() |
                                  btCollisionObject::CF_CUSTOM_MATERIAL_CALLBACK);
    dynamics->addRigidBody(s.body, layer_group(layer), layer_mask(layer));
    if (!dynamic && shape->getShapeType() == TRIANGLE_MESH_SHAPE_PROXYTYPE) dynamics->meshes.push_back(s.body);
    // Added without activation: a static body never runs, a dynamic one
    // waits until something wakes it.
    if (dynamic && !settings.allow_sleeping)
        s.body->forceActivationState(DISABLE_DEACTIVATION);
    s.body->forceActivationState(ISLAND_SLEEPING);
    ++live;
    return BodyID{uint32_t(index) | uint32_t(s.sequence) << 16};
}

BodyID sim_s::create_body(int32_t shape, bool dynamic) {
    if (!world || shape < 0 || shape >= static_cast<int32_t>(shape_list.size())) return {};
    const shape_s& s = *shape_list[shape];
    btScalar mass = 0;
    btVector3 inertia(0, 0, 0);
    btTransform frame = btTransform::getIdentity();
    if (dynamic) {
        if (s.mass > 0) {
            mass = s.mass;
            inertia = to_bt(s.inertia);
            frame = btTransform(to_bt(s.principal_rotation), to_bt(s.center_of_mass));
        } else {
            // No volume (a triangle mesh): a solid box of density 1 over its bounds.
            btVector3 d = to_bt(s.bounds_max) - to_bt(s.bounds_min);
            mass = d.x() * d.y() * d.z();
            inertia = btVector3(d.y() * d.y() + d.z() * d.z(), d.x() * d.x() + d.z() * d.z(),
                                d.x() * d.x() + d.y() * d.y()) * (mass / 12);
        }
    }
    return world->add(s.shape, nullptr, dynamic, mass, inertia, frame, s.outer_radius, s.inner_radius, settings);
}

BodyID sim_s::create_sphere(float radius) {
    if (!world || !(radius > 0)) return {};
    auto sphere = std::make_unique<btSphereShape>(radius);
    btScalar mass = btScalar(4.0 / 3.0 * SIMD_PI) * radius * radius * radius * hull_density;
    btScalar moment = btScalar(0.4) * mass * radius * radius;
    btCollisionShape* raw = sphere.get();
    return world->add(raw, std::move(sphere), true, mass, btVector3(moment, moment, moment),
                      btTransform::getIdentity(), radius, radius, settings);
}

void sim_s::set_position(BodyID id, vec3 position, bool activate) {
    body_slot* s = world ? world->find(id) : nullptr;
    if (!s) return;
    btTransform origin = world->origin_transform(*s);
    origin.setOrigin(to_bt(position));
    world->place(*s, origin);
    if (activate && s->dynamic) world->dynamics->wake(s->body);
}

void sim_s::set_rotation(BodyID id, quat rotation, Activation activation) {
    body_slot* s = world ? world->find(id) : nullptr;
    if (!s) return;
    btTransform origin = world->origin_transform(*s);
    btQuaternion q = to_bt(rotation);
    if (q.length2() > 0) q.normalize();
    origin.setRotation(q);
    world->place(*s, origin);
    if (activation == Activation::Activate && s->dynamic) world->dynamics->wake(s->body);
}

void sim_s::set_material(BodyID id, float friction, float restitution) {
    body_slot* s = world ? world->find(id) : nullptr;
    if (!s) return;
    s->body->setFriction(friction);
    s->body->setRestitution(restitution);
}

mat4 sim_s::get_transform(BodyID id) const {
    const body_slot* s = world ? world->find(id) : nullptr;
    return s ? to_mat4(world->origin_transform(*s)) : mat4_identity();
}

vec3 sim_s::get_position(BodyID id) const {
    const body_slot* s = world ? world->find(id) : nullptr;
    return s ? to_vec3(world->origin_transform(*s).getOrigin()) : vec3{0, 0, 0};
}

quat sim_s::get_rotation(BodyID id) const {
    const body_slot* s = world ? world->find(id) : nullptr;
    return s ? to_quat(world->origin_transform(*s).getRotation()) : quat{0, 0, 0, 1};
}

void sim_s::set_linear_velocity(BodyID id, vec3 velocity) {
    body_slot* s = world ? world->find(id) : nullptr;
    if (!s || !s->dynamic) return;
    btVector3 v = to_bt(velocity);
    if (v.length2() > max_linear_velocity * max_linear_velocity) v *= max_linear_velocity / v.length();
    if (!v.fuzzyZero()) world->dynamics->wake(s->body);
    if (!world->dynamics->is_resting(s->body)) s->body->setLinearVelocity(v);
}

vec3 sim_s::get_linear_velocity(BodyID id) const {
    const body_slot* s = world ? world->find(id) : nullptr;
    return s ? to_vec3(s->body->getLinearVelocity()) : vec3{0, 0, 0};
}

void sim_s::set_gravity(vec3 gravity) {
    if (!world) return;
    world->dynamics->setGravity(to_bt(gravity));
    // Bullet gives the new gravity to awake bodies only; sleepers need it too.
    auto& bodies = world->dynamics->moving_bodies();
    for (int i = 0; i < bodies.size(); ++i)
        if (!world->dynamics->is_resting(bodies[i])) bodies[i]->setGravity(to_bt(gravity));
    const btScalar speed = std::max(settings.point_velocity_sleep_threshold,
                                    settings.sleep_time_under_gravity * length(gravity));
    if (speed == world->sleep_speed) return;
    world->sleep_speed = speed;
    for (body_slot& s : world->slots)
        if (s.body) world->set_sleep_speed(s);
}

vec3 sim_s::get_gravity() const { return world ? to_vec3(world->dynamics->getGravity()) : vec3{0, 0, 0}; }

void sim_s::clear_bodies() {
    if (!world) return;
    for (size_t i = 0; i < world->slots.size(); ++i) {
        body_slot& s = world->slots[i];
        if (!s.body) continue;
        world->dynamics->removeRigidBody(s.body);
        world->dynamics->forget(s.body);
        delete s.body;
        s.body = nullptr;
        s.own_shape.reset();
        world->free_slots.push_back(static_cast<uint16_t>(i));
    }
    world->dynamics->meshes.clear();
    // Lowest slots first, as a fresh world would hand them out.
    std::sort(world->free_slots.begin(), world->free_slots.end(), std::greater<>());
    world->live = 0;
}

void sim_s::step(float delta, int32_t sub_steps) {
    if (!world || !(delta > 0) || world->live == 0) return;
    const int32_t steps = std::max(1, collision_steps) * std::max(1, sub_steps);
    const float fixed = delta / static_cast<float>(steps);
    for (int32_t i = 0; i < steps; ++i) world->dynamics->stepSimulation(fixed, 0, fixed);
}

bool sim_s::is_valid(BodyID id) const { return world && world->find(id); }

bool sim_s::is_active(BodyID id) const {
    const body_slot* s = world ? world->find(id) : nullptr;
    return s && s->dynamic && !world->dynamics->is_resting(s->body) && s->body->isActive();
}

bool sim_s::is_static(BodyID id) const {
    const body_slot* s = world ? world->find(id) : nullptr;
    return s && !s->dynamic;
}

float sim_s::get_mass(BodyID id) const {
    const body_slot* s = world ? world->find(id) : nullptr;
    if (s && world->dynamics->is_resting(s->body)) return world->dynamics->rest[id.index()].mass;
    return s && s->body->getInvMass() > 0 ? 1 / s->body->getInvMass() : 0;
}

vec3 sim_s::get_inertia(BodyID id) const {
    const body_slot* s = world ? world->find(id) : nullptr;
    if (!s) return {0, 0, 0};
    if (world->dynamics->is_resting(s->body)) return to_vec3(world->dynamics->rest[id.index()].inertia);
    const btVector3& inv = s->body->getInvInertiaDiagLocal();
    auto invert = [](btScalar x) { return x > 0 ? 1 / x : 0; };
    return {invert(inv.x()), invert(inv.y()), invert(inv.z())};
}

int32_t sim_s::body_count() const { return world ? world->live : 0; }

int32_t sim_s::active_body_count() const {
    if (!world) return 0;
    int32_t n = 0;
    auto& bodies = world->dynamics->moving_bodies();
    for (int i = 0; i < bodies.size(); ++i) n += bodies[i]->isActive() ? 1 : 0;
    return n;
}

bool sim_s::in_contact(BodyID a, BodyID b) const {
    const body_slot* sa = world ? world->find(a) : nullptr;
    const body_slot* sb = world ? world->find(b) : nullptr;
    if (!sa || !sb) return false;
    btDispatcher* d = world->dispatcher.get();
    for (int i = 0; i < d->getNumManifolds(); ++i) {
        const btPersistentManifold* m = d->getManifoldByIndexInternal(i);
        if (m->getNumContacts() == 0) continue;
        if ((m->getBody0() == sa->body && m->getBody1() == sb->body) ||
            (m->getBody0() == sb->body && m->getBody1() == sa->body))
            return true;
    }
    return false;
}

int32_t sim_s::contact_pair_count() const {
    if (!world) return 0;
    int32_t n = 0;
    btDispatcher* d = world->dispatcher.get();
    for (int i = 0; i < d->getNumManifolds(); ++i) n += d->getManifoldByIndexInternal(i)->getNumContacts() > 0;
    return n;
}

int32_t sim_s::broad_phase_pair_count() const {
    return world ? world->broad_phase->getOverlappingPairCache()->getNumOverlappingPairs() : 0;
}

void init_sim_world() {
    if (!sim_world) {
        sim_world = new sim_s;
        sim_world->init();
    } else {
        sim_world->clear_bodies();
    }
}

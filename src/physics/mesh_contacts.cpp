#include "physics/mesh_contacts.h"

#include <btBulletCollisionCommon.h>
#include <BulletCollision/CollisionDispatch/btActivatingCollisionAlgorithm.h>
#include <BulletCollision/CollisionDispatch/btCollisionObjectWrapper.h>
#include <BulletCollision/CollisionDispatch/btConvexConvexAlgorithm.h>
#include <BulletCollision/NarrowPhaseCollision/btGjkEpaPenetrationDepthSolver.h>

#include <new>

namespace {

// Collects, for one hull, the contacts of its vertices with every triangle
// the mesh's tree reports near it. Vertices are in the mesh's space.
struct vertex_face_collector : btTriangleCallback {
    const btVector3* vertices = nullptr;
    int count = 0;
    btScalar margin = 0;     // the hull's rounding, on top of its vertices
    btScalar reach = 0;      // contacts up to this far apart are kept (speculative)
    btScalar max_depth = 0;  // deeper than the hull is thick is the far side of a thin wall
    btVector3 centre{0, 0, 0};
    btScalar slip = 0;
    const btMatrix3x3* to_world = nullptr;
    const btVector3* world_origin = nullptr;
    btManifoldResult* result = nullptr;
    bool hull_is_body0 = true;

    void processTriangle(btVector3* t, int part, int index) override {
        btVector3 n = (t[1] - t[0]).cross(t[2] - t[0]);
        const btScalar area2 = n.length2();
        if (!(area2 > 0)) return;
        n /= btSqrt(area2);
        // A face holds only a hull whose centre is in front of it, or has just
        // slipped behind it (by less than the hull's half thickness, so it is
        // pushed back out): the far side of a thin closed mesh must not pull a
        // piece resting on top into it.
        if (n.dot(centre - t[0]) < -slip) return;
        // Edge normals pointing inwards, for the prism test.
        const btVector3 e0 = n.cross(t[1] - t[0]), e1 = n.cross(t[2] - t[1]), e2 = n.cross(t[0] - t[2]);
        const btScalar slack = margin;
        const btVector3 world_n = *to_world * n;
        for (int i = 0; i < count; ++i) {
            const btVector3& v = vertices[i];
            btScalar d = n.dot(v - t[0]) - margin;
            if (d > reach || d < -max_depth) continue;
            if (e0.dot(v - t[0]) < -slack * btSqrt(e0.length2()) || e1.dot(v - t[1]) < -slack * btSqrt(e1.length2()) ||
                e2.dot(v - t[2]) < -slack * btSqrt(e2.length2()))
                continue;
            // The touching point of the rounded hull, and the face point below
            // it. A point not yet touching counts as touching: Bullet's solver
            // would take the gap off the bounce of a piece that is about to
            // land (it aims at restitution − gap / step).
            const btVector3 on_hull = *to_world * (v - n * margin) + *world_origin;
            if (d > 0) d = 0;
            // The manifold holds (hull, mesh) whichever way round the pair
            // came, and points are given in its order: normal on the mesh
            // towards the hull, point on the mesh.
            if (hull_is_body0)
                result->setShapeIdentifiersB(part, index);
            else
                result->setShapeIdentifiersA(part, index);
            result->addContactPoint(world_n, on_hull - world_n * d, d);
        }
    }
};

class hull_mesh_algorithm : public btActivatingCollisionAlgorithm {
public:
    hull_mesh_algorithm(const btCollisionAlgorithmConstructionInfo& ci, const btCollisionObjectWrapper* body0,
                        const btCollisionObjectWrapper* body1, bool swapped)
        : btActivatingCollisionAlgorithm(ci, body0, body1), swapped_(swapped) {
        const btCollisionObjectWrapper* hull = swapped ? body1 : body0;
        const btCollisionObjectWrapper* mesh = swapped ? body0 : body1;
        manifold_ = m_dispatcher->getNewManifold(hull->getCollisionObject(), mesh->getCollisionObject());
    }
    ~hull_mesh_algorithm() override {
        if (manifold_) m_dispatcher->releaseManifold(manifold_);
    }

    void processCollision(const btCollisionObjectWrapper* body0, const btCollisionObjectWrapper* body1,
                          const btDispatcherInfo&, btManifoldResult* result) override {
        const btCollisionObjectWrapper* hull = swapped_ ? body1 : body0;
        const btCollisionObjectWrapper* mesh = swapped_ ? body0 : body1;
        const auto* shape = static_cast<const btConvexHullShape*>(hull->getCollisionShape());
        const auto* concave = static_cast<const btConcaveShape*>(mesh->getCollisionShape());
        result->setPersistentManifold(manifold_);

        const btTransform& mesh_world = mesh->getWorldTransform();
        const btTransform to_mesh = mesh_world.inverseTimes(hull->getWorldTransform());
        const int count = shape->getNumPoints();
        btVector3 local[64];
        const int n = count < 64 ? count : 64;
        btVector3 lo(BT_LARGE_FLOAT, BT_LARGE_FLOAT, BT_LARGE_FLOAT), hi = -lo;
        for (int i = 0; i < n; ++i) {
            local[i] = to_mesh * shape->getUnscaledPoints()[i];
            lo.setMin(local[i]);
            hi.setMax(local[i]);
        }
        const btScalar margin = shape->getMargin();
        const btScalar reach = manifold_->getContactBreakingThreshold();
        const btVector3 pad(margin + reach, margin + reach, margin + reach);

        vertex_face_collector collect;
        collect.vertices = local;
        collect.count = n;
        collect.margin = margin;
        collect.reach = reach;
        collect.max_depth = (hi - lo).length() + margin;
        collect.centre = to_mesh.getOrigin();
        const btVector3 extent = hi - lo;
        collect.slip = btScalar(0.5) * extent[extent.minAxis()];
        collect.to_world = &mesh_world.getBasis();
        collect.world_origin = &mesh_world.getOrigin();
        collect.result = result;
        collect.hull_is_body0 = !swapped_;
        concave->processAllTriangles(&collect, lo - pad, hi + pad);
        result->refreshContactPoints();
    }

    btScalar calculateTimeOfImpact(btCollisionObject*, btCollisionObject*, const btDispatcherInfo&,
                                   btManifoldResult*) override {
        return 1;
    }

    void getAllContactManifolds(btManifoldArray& manifolds) override {
        if (manifold_) manifolds.push_back(manifold_);
    }

    struct create_func : btCollisionAlgorithmCreateFunc {
        btCollisionAlgorithm* CreateCollisionAlgorithm(btCollisionAlgorithmConstructionInfo& ci,
                                                       const btCollisionObjectWrapper* body0,
                                                       const btCollisionObjectWrapper* body1) override {
            void* memory = ci.m_dispatcher1->allocateCollisionAlgorithm(sizeof(hull_mesh_algorithm));
            return new (memory) hull_mesh_algorithm(ci, body0, body1, m_swapped);
        }
    };

private:
    btPersistentManifold* manifold_ = nullptr;
    bool swapped_;
};

pair_cache_limits cache_limits{0, 2};  // never hits until set

class cached_hull_pair : public btCollisionAlgorithm {
public:
    cached_hull_pair(const btCollisionAlgorithmConstructionInfo& ci, const btCollisionObjectWrapper* body0,
                     const btCollisionObjectWrapper* body1, btConvexPenetrationDepthSolver* depth)
        : btCollisionAlgorithm(ci), test_(ci.m_manifold, ci, body0, body1, depth, 0, 3) {}

    void processCollision(const btCollisionObjectWrapper* body0, const btCollisionObjectWrapper* body1,
                          const btDispatcherInfo& info, btManifoldResult* result) override {
        const btTransform relative = body0->getWorldTransform().inverseTimes(body1->getWorldTransform());
        if (tested_) {
            btManifoldArray manifolds;
            test_.getAllContactManifolds(manifolds);
            const btScalar moved = (relative.getOrigin() - last_.getOrigin()).length2();
            const btQuaternion turn = relative.getRotation() * last_.getRotation().inverse();
            if (manifolds.size() == 1 && manifolds[0]->getNumContacts() > 0 &&
                moved < cache_limits.max_delta_position_sq && btFabs(turn.w()) > cache_limits.cos_max_delta_rotation_div2) {
                result->setPersistentManifold(manifolds[0]);
                result->refreshContactPoints();
                return;
            }
        }
        test_.processCollision(body0, body1, info, result);
        last_ = relative;
        tested_ = true;
    }

    btScalar calculateTimeOfImpact(btCollisionObject* a, btCollisionObject* b, const btDispatcherInfo& info,
                                   btManifoldResult* result) override {
        return test_.calculateTimeOfImpact(a, b, info, result);
    }
    void getAllContactManifolds(btManifoldArray& manifolds) override { test_.getAllContactManifolds(manifolds); }

    struct create_func : btCollisionAlgorithmCreateFunc {
        btGjkEpaPenetrationDepthSolver depth;
        btCollisionAlgorithm* CreateCollisionAlgorithm(btCollisionAlgorithmConstructionInfo& ci,
                                                       const btCollisionObjectWrapper* body0,
                                                       const btCollisionObjectWrapper* body1) override {
            void* memory = ci.m_dispatcher1->allocateCollisionAlgorithm(sizeof(cached_hull_pair));
            return new (memory) cached_hull_pair(ci, body0, body1, &depth);
        }
    };

private:
    btConvexConvexAlgorithm test_;
    btTransform last_;
    bool tested_ = false;
};

}  // namespace

int contact_algorithm_size() {
    return static_cast<int>(sizeof(cached_hull_pair) > sizeof(hull_mesh_algorithm) ? sizeof(cached_hull_pair)
                                                                                  : sizeof(hull_mesh_algorithm));
}

void use_hull_pair_cache(btCollisionDispatcher* dispatcher, pair_cache_limits limits) {
    static cached_hull_pair::create_func create;
    cache_limits = limits;
    dispatcher->registerCollisionCreateFunc(CONVEX_HULL_SHAPE_PROXYTYPE, CONVEX_HULL_SHAPE_PROXYTYPE, &create);
}

void use_hull_mesh_contacts(btCollisionDispatcher* dispatcher) {
    static hull_mesh_algorithm::create_func hull_first;
    static hull_mesh_algorithm::create_func mesh_first;
    mesh_first.m_swapped = true;
    dispatcher->registerCollisionCreateFunc(CONVEX_HULL_SHAPE_PROXYTYPE, TRIANGLE_MESH_SHAPE_PROXYTYPE, &hull_first);
    dispatcher->registerCollisionCreateFunc(TRIANGLE_MESH_SHAPE_PROXYTYPE, CONVEX_HULL_SHAPE_PROXYTYPE, &mesh_first);
}

// Step cost of the physics world under the pyramid scene's load: pieces the
// size of the show's ingredients emitted from height 190 to 200 onto a stepped
// pyramid of about 4,000 triangles and 300 units across, gravity (0, −100, 0),
// recycled when they fall below 0, at 60 steps a second. Prints per case the
// mean, median, p99 and worst step (thread CPU time and wall time), the mean
// count of active bodies, and how many pieces a second fell through the mesh
// (recycled from inside the pyramid's footprint).
//
//   physics_bench [case ...] [--steps N] [--warmup N] [--velocity-steps N] [--sleep V] [--sleep-time S] [--wake V] [--no-rest] [--hull-points N] [--profile]
//
// Cases: pyramid (3,200 pieces, 1 sub-step), pyramid1024 (1,024, 4),
// pyramid2048 (2,048, 2), pile (3,200 pieces dropped into a bowl, 1 sub-step).
#include "physics/sim.h"

#include <LinearMath/btQuickprof.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

double now(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

// ---- profile ----------------------------------------------------------------

// Bullet's own profile zones, timed by thread CPU time and summed by zone
// name; on with --profile.
struct zone_clock {
    std::vector<std::pair<const char*, double>> open;
    std::map<std::string, double> total;
    bool on = false;
} zones;

void enter_zone(const char* name) { zones.open.push_back({name, now(CLOCK_THREAD_CPUTIME_ID)}); }
void leave_zone() {
    if (zones.open.empty()) return;
    auto [name, start] = zones.open.back();
    zones.open.pop_back();
    if (zones.on) zones.total[name] += now(CLOCK_THREAD_CPUTIME_ID) - start;
}

// ---- environments -------------------------------------------------------------

struct mesh_builder {
    std::vector<float> vertices;
    std::vector<uint16_t> indices;
    uint16_t vertex(float x, float y, float z) {
        vertices.insert(vertices.end(), {x, y, z});
        return static_cast<uint16_t>(vertices.size() / 3 - 1);
    }
    // A quad a b c d, counter-clockwise seen from where it faces.
    void quad(uint16_t a, uint16_t b, uint16_t c, uint16_t d) { indices.insert(indices.end(), {a, b, c, a, c, d}); }
};

constexpr float pyramid_half = 150;
constexpr int pyramid_steps = 15;
constexpr float step_height = 10;
constexpr int grid = 40;  // cells per side

float pyramid_height(float x, float z) {
    float d = std::max(std::fabs(x), std::fabs(z));
    int level = std::min(pyramid_steps, static_cast<int>((pyramid_half - d) / (pyramid_half / pyramid_steps)) + 1);
    return d > pyramid_half ? 0 : level * step_height;
}

// A stepped pyramid as a grid of flat cells at their step's height, with
// vertical walls wherever two neighbours differ.
int32_t build_pyramid() {
    mesh_builder m;
    const float cell = 2 * pyramid_half / grid;
    auto height = [&](int i, int k) {
        return pyramid_height(-pyramid_half + (i + 0.5f) * cell, -pyramid_half + (k + 0.5f) * cell);
    };
    for (int i = 0; i < grid; ++i)
        for (int k = 0; k < grid; ++k) {
            float x0 = -pyramid_half + i * cell, z0 = -pyramid_half + k * cell, y = height(i, k);
            m.quad(m.vertex(x0, y, z0), m.vertex(x0, y, z0 + cell), m.vertex(x0 + cell, y, z0 + cell),
                   m.vertex(x0 + cell, y, z0));
            // Walls towards the +x and +z neighbours (and the outer rim).
            float yx = i + 1 < grid ? height(i + 1, k) : 0, yz = k + 1 < grid ? height(i, k + 1) : 0;
            if (yx != y) {
                float x = x0 + cell, lo = std::min(y, yx), hi = std::max(y, yx);
                if (y > yx)
                    m.quad(m.vertex(x, lo, z0), m.vertex(x, hi, z0), m.vertex(x, hi, z0 + cell), m.vertex(x, lo, z0 + cell));
                else
                    m.quad(m.vertex(x, lo, z0 + cell), m.vertex(x, hi, z0 + cell), m.vertex(x, hi, z0), m.vertex(x, lo, z0));
            }
            if (yz != y) {
                float z = z0 + cell, lo = std::min(y, yz), hi = std::max(y, yz);
                if (y > yz)
                    m.quad(m.vertex(x0, lo, z), m.vertex(x0 + cell, lo, z), m.vertex(x0 + cell, hi, z), m.vertex(x0, hi, z));
                else
                    m.quad(m.vertex(x0 + cell, lo, z), m.vertex(x0, lo, z), m.vertex(x0, hi, z), m.vertex(x0 + cell, hi, z));
            }
            if (i == 0 && y > 0)
                m.quad(m.vertex(x0, 0, z0 + cell), m.vertex(x0, y, z0 + cell), m.vertex(x0, y, z0), m.vertex(x0, 0, z0));
            if (k == 0 && y > 0)
                m.quad(m.vertex(x0, 0, z0), m.vertex(x0, y, z0), m.vertex(x0 + cell, y, z0), m.vertex(x0 + cell, 0, z0));
        }
    std::printf("pyramid: %zu triangles, %zu vertices\n", m.indices.size() / 3, m.vertices.size() / 3);
    return build_mesh_shape(static_cast<int32_t>(m.vertices.size() / 3), m.vertices.data(),
                            static_cast<int32_t>(m.indices.size()), m.indices.data());
}

// A bowl of radius 22: a flat bottom and a wall rising to height 12.
int32_t build_bowl() {
    mesh_builder m;
    const int around = 48, rings = 8;
    auto ring_radius = [](int r) { return 6.0f + 16.0f * r / rings; };
    auto ring_height = [](int r) { float t = float(r) / rings; return 12 * t * t; };
    uint16_t centre = m.vertex(0, 0, 0);
    std::vector<uint16_t> prev(around, centre);
    for (int r = 0; r <= rings; ++r) {
        std::vector<uint16_t> ring(around);
        for (int a = 0; a < around; ++a) {
            float t = 2 * 3.14159265f * a / around;
            ring[a] = m.vertex(ring_radius(r) * std::cos(t), ring_height(r), ring_radius(r) * std::sin(t));
        }
        for (int a = 0; a < around; ++a) {
            int b = (a + 1) % around;
            if (r == 0)
                m.indices.insert(m.indices.end(), {centre, ring[b], ring[a]});
            else
                m.quad(prev[a], prev[b], ring[b], ring[a]);
        }
        prev = ring;
    }
    return build_mesh_shape(static_cast<int32_t>(m.vertices.size() / 3), m.vertices.data(),
                            static_cast<int32_t>(m.indices.size()), m.indices.data());
}

// ---- pieces -------------------------------------------------------------------

// Hulls of 20 to 56 points the size of the show's pieces: chips about 2 across
// and thin, cheese and dice cubes about 1, beans and kernels about 0.8.
int piece_points = hull_points;

std::vector<int32_t> build_pieces(std::mt19937& rng) {
    std::uniform_real_distribution<float> u(-1, 1);
    std::vector<int32_t> shapes;
    for (int kind = 0; kind < 12; ++kind) {
        int n = 20 + (kind * 37) % 37;
        std::vector<float> p;
        for (int i = 0; i < n; ++i) {
            float x = u(rng), y = u(rng), z = u(rng);
            if (kind < 4) {  // chip: a curved rounded triangle, 0.15 thick
                float a = 2 * 3.14159265f * i / n, r = 1.0f + 0.15f * std::cos(3 * a);
                x = r * std::cos(a), z = r * std::sin(a);
                y = 0.15f * (i % 2 ? 1 : -1) + 0.2f * (x * x + z * z) * 0.25f;
            } else if (kind < 8) {  // cube-ish: points on a 1 × 1 × 1 box
                int face = i % 3;
                (face == 0 ? x : face == 1 ? y : z) = i % 2 ? 1 : -1;
                x *= 0.5f, y *= 0.5f, z *= 0.5f;
            } else {  // bean: points on an ellipsoid 0.8 × 0.5 × 0.5
                float len = std::sqrt(x * x + y * y + z * z) + 1e-3f;
                x = 0.4f * x / len, y = 0.25f * y / len, z = 0.25f * z / len;
            }
            p.insert(p.end(), {x, y, z});
        }
        int32_t id = build_convex_hull_shape(n, p.data(), piece_points);
        if (id >= 0) shapes.push_back(id);
    }
    return shapes;
}

struct scene_s {
    sim_s sim;
    std::vector<BodyID> items;
    std::mt19937 rng{1234};
    std::normal_distribution<float> gauss{0, 1};
    std::uniform_real_distribution<float> uniform{-1, 1};
    std::vector<int32_t> pieces;
    int fell_through = 0, recycled = 0;

    quat random_orientation() {
        vec3 axis = normalize({uniform(rng), uniform(rng), uniform(rng)});
        return quat_from_axis_angle(axis, uniform(rng) * 3.14159265f);
    }
    void emit(BodyID b, vec3 p, vec3 ps, vec3 v, vec3 vs) {
        vec3 pos = {gauss(rng) * ps.x + p.x, gauss(rng) * ps.y + p.y, gauss(rng) * ps.z + p.z};
        vec3 vel = {gauss(rng) * vs.x + v.x, gauss(rng) * vs.y + v.y, gauss(rng) * vs.z + v.z};
        sim.set_position(b, pos, false);
        sim.set_rotation(b, random_orientation(), Activation::Activate);
        sim.set_linear_velocity(b, vel);
    }
    BodyID spawn() {
        BodyID b = sim.create_body(pieces[rng() % pieces.size()], true);
        sim.set_material(b, 0.2f, 0.8f);
        items.push_back(b);
        return b;
    }
};

struct figures_s {
    std::vector<double> cpu, wall;
    double active = 0;
};

void report(const char* name, figures_s& f, const scene_s& s, int steps) {
    auto stats = [](std::vector<double> v, double& mean, double& median, double& p99, double& worst) {
        std::sort(v.begin(), v.end());
        mean = 0;
        for (double x : v) mean += x;
        mean /= v.size();
        median = v[v.size() / 2];
        p99 = v[std::min(v.size() - 1, v.size() * 99 / 100)];
        worst = v.back();
    };
    double m, md, p, w, wm, wmd, wp, ww;
    stats(f.cpu, m, md, p, w);
    stats(f.wall, wm, wmd, wp, ww);
    double seconds = steps / 60.0;
    std::printf("%-12s pieces %5zu  cpu ms: mean %6.2f median %6.2f p99 %6.2f worst %6.2f | wall mean %6.2f worst %6.2f"
                " | active %6.0f | recycled/s %6.1f fell through/s %5.1f | pairs %d, touching %d\n",
                name, s.items.size(), m, md, p, w, wm, ww, f.active / steps, s.recycled / seconds,
                s.fell_through / seconds, s.sim.broad_phase_pair_count(), s.sim.contact_pair_count());
    std::fflush(stdout);
}

void print_zones(int steps) {
    for (const auto& [name, ms] : zones.total) std::printf("    %-44s %7.3f ms/step\n", name.c_str(), ms / steps);
    zones.total.clear();
}

struct options_s {
    int steps = 600;
    int warmup = 900;
    int velocity_steps = -1;
    float sleep = -1;
    bool profile = false;
    bool rest = true;
    float wake = -1;
    float sleep_time = -1;
};

// A world with the options' settings, the generated pieces and one static
// environment.
void set_up(scene_s& s, const options_s& o, vec3 gravity, int32_t environment) {
    if (o.velocity_steps >= 0) s.sim.settings.num_velocity_steps = o.velocity_steps;
    if (o.sleep >= 0) s.sim.settings.point_velocity_sleep_threshold = o.sleep;
    if (o.wake >= 0) s.sim.settings.wake_speed = o.wake;
    if (o.sleep_time >= 0) s.sim.settings.sleep_time_under_gravity = o.sleep_time;
    s.sim.settings.rest_in_busy_piles = o.rest;
    s.sim.init();
    std::mt19937 shape_rng(7);
    s.pieces = build_pieces(shape_rng);
    s.sim.set_gravity(gravity);
    s.sim.create_body(environment, false);
}

// One 60 Hz step, timed and counted when measuring.
void timed_step(scene_s& s, figures_s& f, int sub_steps, bool measuring, const options_s& o) {
    zones.on = measuring && o.profile;
    double c0 = now(CLOCK_THREAD_CPUTIME_ID), w0 = now(CLOCK_MONOTONIC);
    s.sim.step(1.0f / 60, sub_steps);
    double c1 = now(CLOCK_THREAD_CPUTIME_ID), w1 = now(CLOCK_MONOTONIC);
    if (!measuring) return;
    f.cpu.push_back(c1 - c0);
    f.wall.push_back(w1 - w0);
    f.active += s.sim.active_body_count();
}

// The pyramid scene: 4 food pieces and 3 chips a frame until `cap`, pieces
// below 0 re-emitted at the chip emitter.
void run_pyramid(const char* name, int cap, int sub_steps, const options_s& o, int32_t pyramid) {
    scene_s s;
    set_up(s, o, {0, -100, 0}, pyramid);
    figures_s f;
    for (int frame = 0; frame < o.warmup + o.steps; ++frame) {
        if (frame == o.warmup) s.fell_through = s.recycled = 0;
        for (int i = 0; i < 4 && static_cast<int>(s.items.size()) < cap; ++i)
            s.emit(s.spawn(), {0, 200, 30}, {5, 10, 5}, {0, -10, 40}, {10, 10, 10});
        for (int i = 0; i < 3 && static_cast<int>(s.items.size()) < cap; ++i)
            s.emit(s.spawn(), {0, 190, 50}, {0, 10, 0}, {0, -30, 40}, {0, 0, 10});
        for (BodyID b : s.items) {
            vec3 p = s.sim.get_position(b);
            if (p.y >= 0) continue;
            ++s.recycled;
            if (std::fabs(p.x) < pyramid_half - 1 && std::fabs(p.z) < pyramid_half - 1) ++s.fell_through;
            s.emit(b, {0, 190, 50}, {0, 10, 0}, {0, -30, 40}, {0, 0, 10});
        }
        timed_step(s, f, sub_steps, frame >= o.warmup, o);
    }
    report(name, f, s, o.steps);
    print_zones(o.steps);
}

// 3,200 pieces dropped into a bowl in batches of 64, as the plate scenes pile
// them, gravity (0, −50, 0); measured once all are in.
void run_pile(const options_s& o, int32_t bowl) {
    scene_s s;
    set_up(s, o, {0, -50, 0}, bowl);
    figures_s f;
    for (int frame = 0; frame < o.warmup + o.steps; ++frame) {
        if (frame % 6 == 0 && s.items.size() < 3200)
            for (int i = 0; i < 64; ++i) {
                BodyID b = s.spawn();
                float x, z;
                do x = s.uniform(s.rng) * 15, z = s.uniform(s.rng) * 15;
                while (x * x + z * z > 225);
                s.sim.set_position(b, {x, 24 + 4 * s.gauss(s.rng), z}, false);
                s.sim.set_rotation(b, s.random_orientation(), Activation::Activate);
                s.sim.set_linear_velocity(b, {0, -20, 0});
            }
        for (BodyID b : s.items)
            if (s.sim.get_position(b).y < -50) ++s.fell_through, s.sim.set_position(b, {0, 40, 0}, true);
        timed_step(s, f, 1, frame >= o.warmup, o);
    }
    report("pile", f, s, o.steps);
    print_zones(o.steps);
}

}  // namespace

int main(int argc, char** argv) {
    options_s o;
    std::vector<std::string> cases;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&] { return i + 1 < argc ? argv[++i] : "0"; };
        if (a == "--steps") o.steps = std::atoi(next());
        else if (a == "--warmup") o.warmup = std::atoi(next());
        else if (a == "--velocity-steps") o.velocity_steps = std::atoi(next());
        else if (a == "--profile") o.profile = true;
        else if (a == "--hull-points") piece_points = std::atoi(next());
        else if (a == "--no-rest") o.rest = false;
        else if (a == "--wake") o.wake = static_cast<float>(std::atof(next()));
        else if (a == "--sleep-time") o.sleep_time = static_cast<float>(std::atof(next()));
        else if (a == "--sleep") o.sleep = static_cast<float>(std::atof(next()));
        else cases.push_back(a);
    }
    if (cases.empty()) cases = {"pyramid", "pyramid1024", "pyramid2048", "pile"};
    if (o.profile) {
        btSetCustomEnterProfileZoneFunc(enter_zone);
        btSetCustomLeaveProfileZoneFunc(leave_zone);
    }
    int32_t pyramid = build_pyramid();
    int32_t bowl = build_bowl();
    for (const std::string& c : cases) {
        if (c == "pyramid") run_pyramid("pyramid", 3200, 1, o, pyramid);
        else if (c == "pyramid1024") run_pyramid("pyramid1024", 1024, 4, o, pyramid);
        else if (c == "pyramid2048") run_pyramid("pyramid2048", 2048, 2, o, pyramid);
        else if (c == "pile") run_pile(o, bowl);
        else std::fprintf(stderr, "physics_bench: unknown case \"%s\"\n", c.c_str());
    }
}

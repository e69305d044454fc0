#include "synth.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dsp.h"

namespace compose {

namespace {

// Every setting an instrument may carry, with its default. Kinds override some
// defaults below; each kind reads only the settings that make sense for it.
struct ParamDefault {
    const char* key;
    double value;
};
constexpr ParamDefault kParams[] = {
    {"gain", 0.0},        // dB
    {"pan", 0.0},         // -1 left … 1 right
    {"reverb", 0.0},      // send level 0 … 1
    {"delay", 0.0},       // send level 0 … 1
    {"note", 60.0},       // MIDI note of 'x'
    {"attack", 0.005},    // seconds
    {"decay", 0.3},       // seconds (time constant, or ring time of struck kinds)
    {"sustain", 0.7},     // level 0 … 1
    {"release", 0.1},     // seconds (time constant)
    {"cutoff", 20000.0},  // Hz
    {"reso", 0.7},        // filter Q
    {"env", 0.0},         // filter envelope depth in octaves
    {"env_decay", 0.2},   // seconds
    {"shape", 0.0},       // 0 saw … 1 square
    {"voices", 1.0},      // oscillators per note
    {"detune", 0.0},      // cents between the outermost voices
    {"width", 0.0},       // pan spread of the voices
    {"strum", 0.0},       // seconds between the notes of a chord
    {"vibrato", 0.0},     // semitones
    {"vib_rate", 5.5},    // Hz
    {"vib_delay", 0.25},  // seconds before vibrato fades in
    {"pitch", 0.0},       // semitones the struck kinds start above their note
    {"pitch_decay", 0.03},
    {"noise", 0.0},       // noise share (click, slap, breath)
    {"sub", 0.0},         // sine one octave down
    {"bright", 1.0},      // overtone level of modal kinds
    {"rate", 30.0},       // Hz, scrapes per second of the guiro
    {"sweep_from", 300.0},
    {"sweep_to", 8000.0},
};

enum class Kind { Kick, Snare, Hat, Shaker, Clave, Conga, Cowbell, Guiro, Crash, Riser, Bass, Pluck, Marimba, Pad, Lead };

struct KindInfo {
    const char* name;
    Kind kind;
    std::vector<ParamDefault> defaults;
};

const std::vector<KindInfo>& kinds() {
    static const std::vector<KindInfo> table = {
        {"kick", Kind::Kick, {{"note", 31}, {"pitch", 26}, {"pitch_decay", 0.035}, {"decay", 0.24}, {"noise", 0.25}}},
        {"snare", Kind::Snare, {{"note", 55}, {"decay", 0.16}, {"env_decay", 0.07}, {"noise", 0.7}, {"cutoff", 4500}}},
        {"hat", Kind::Hat, {{"decay", 0.045}, {"cutoff", 7000}, {"noise", 0.55}}},
        {"shaker", Kind::Shaker, {{"attack", 0.012}, {"decay", 0.06}, {"cutoff", 6200}, {"reso", 1.2}}},
        {"clave", Kind::Clave, {{"note", 89}, {"decay", 0.055}}},
        {"conga", Kind::Conga, {{"note", 52}, {"pitch", 3}, {"pitch_decay", 0.02}, {"decay", 0.22}, {"noise", 0.15}}},
        {"cowbell", Kind::Cowbell, {{"note", 74}, {"decay", 0.22}, {"cutoff", 1100}, {"reso", 1.5}}},
        {"guiro", Kind::Guiro, {{"cutoff", 2800}, {"reso", 3}, {"rate", 34}}},
        {"crash", Kind::Crash, {{"decay", 1.4}, {"cutoff", 4500}, {"noise", 0.6}}},
        {"riser", Kind::Riser, {{"reso", 2.5}, {"release", 0.05}}},
        {"bass", Kind::Bass, {{"note", 36}, {"shape", 0.3}, {"cutoff", 500}, {"env", 2.5}, {"env_decay", 0.12}, {"reso", 1.1}, {"sub", 0.5}, {"attack", 0.003}, {"decay", 0.4}, {"sustain", 0.6}, {"release", 0.05}}},
        {"pluck", Kind::Pluck, {{"decay", 1.5}, {"cutoff", 5000}, {"release", 0.08}}},
        {"marimba", Kind::Marimba, {{"decay", 0.45}}},
        {"pad", Kind::Pad, {{"attack", 0.4}, {"decay", 1.0}, {"sustain", 0.8}, {"release", 0.5}, {"cutoff", 2200}, {"voices", 3}, {"detune", 14}, {"width", 0.6}}},
        {"lead", Kind::Lead, {{"shape", 0.5}, {"cutoff", 3000}, {"env", 1.0}, {"env_decay", 0.15}, {"attack", 0.01}, {"decay", 0.3}, {"sustain", 0.75}, {"release", 0.08}, {"vibrato", 0.15}}},
    };
    return table;
}

const KindInfo* find_kind(std::string_view name) {
    for (const KindInfo& k : kinds())
        if (name == k.name) return &k;
    return nullptr;
}

double param(const Instrument& inst, const char* key) {
    if (auto it = inst.params.find(key); it != inst.params.end()) return it->second;
    if (const KindInfo* k = find_kind(inst.kind))
        for (const ParamDefault& d : k->defaults)
            if (std::strcmp(d.key, key) == 0) return d.value;
    for (const ParamDefault& d : kParams)
        if (std::strcmp(d.key, key) == 0) return d.value;
    return 0.0;
}

// An instrument's settings resolved once, so voices read plain fields.
struct Voice {
    Kind kind;
    double gain, pan, reverb, delay, attack, decay, sustain, release, cutoff, reso, env, env_decay, shape;
    int voices;
    double detune, width, strum, vibrato, vib_rate, vib_delay, pitch, pitch_decay, noise, sub, bright, rate, sweep_from, sweep_to;
};

Voice resolve(const Instrument& inst) {
    Voice v{};
    v.kind = find_kind(inst.kind)->kind;
    auto p = [&](const char* k) { return param(inst, k); };
    v.gain = db_to_gain(p("gain"));
    v.pan = std::clamp(p("pan"), -1.0, 1.0);
    v.reverb = p("reverb"); v.delay = p("delay");
    v.attack = std::max(p("attack"), 0.0005); v.decay = std::max(p("decay"), 0.001);
    v.sustain = std::clamp(p("sustain"), 0.0, 1.0); v.release = std::max(p("release"), 0.001);
    v.cutoff = p("cutoff"); v.reso = p("reso"); v.env = p("env"); v.env_decay = std::max(p("env_decay"), 0.001);
    v.shape = std::clamp(p("shape"), 0.0, 1.0);
    v.voices = std::clamp(int(p("voices")), 1, 8);
    v.detune = p("detune"); v.width = std::clamp(p("width"), 0.0, 1.0); v.strum = p("strum");
    v.vibrato = p("vibrato"); v.vib_rate = p("vib_rate"); v.vib_delay = p("vib_delay");
    v.pitch = p("pitch"); v.pitch_decay = std::max(p("pitch_decay"), 0.001);
    v.noise = p("noise"); v.sub = p("sub"); v.bright = p("bright"); v.rate = p("rate");
    v.sweep_from = p("sweep_from"); v.sweep_to = p("sweep_to");
    return v;
}

constexpr double kTailTimeConstants = 6.0;  // e^-6: about -52 dB, where a voice fades out and stops
constexpr int64_t kTailFade = 256;          // samples of fade at a voice's cut

// Seconds a note of this gate length keeps sounding.
double voice_seconds(const Voice& v, double gate) {
    switch (v.kind) {
        case Kind::Guiro:
        case Kind::Riser: return gate + v.release * kTailTimeConstants;
        case Kind::Bass:
        case Kind::Pad:
        case Kind::Lead: return gate + v.attack + v.release * kTailTimeConstants;
        case Kind::Pluck: return std::min(gate + v.release * kTailTimeConstants, v.decay * 1.2);
        case Kind::Snare: return std::max(v.decay, v.env_decay) * kTailTimeConstants;
        default: return v.decay * kTailTimeConstants;
    }
}

// Attack-decay-sustain-release level, one sample per call, for a note held
// `gate` seconds: linear attack, exponential decay to sustain and release.
struct Adsr {
    double sustain, level = 0.0, rise;
    int64_t gate_samples, i = 0;
    Decay decay, release;
    Adsr(const Voice& v, double gate)
        : sustain(v.sustain), rise(1.0 / (v.attack * kSampleRate)), gate_samples(int64_t(gate * kSampleRate)),
          decay(v.decay), release(v.release) {}
    double next() {
        if (i++ >= gate_samples) return level *= release.factor;
        if (rise > 0.0) {
            level += rise;
            if (level >= 1.0) { level = 1.0; rise = 0.0; }
            return level;
        }
        return level = sustain + (1.0 - sustain) * decay.next();
    }
};

// Renders one oscillator voice (or one struck sound) into out[0 … n).
void render_voice(const Voice& v, double freq, double gate, Noise& rng, float* out, int64_t n) {
    const double dt = 1.0 / kSampleRate;
    switch (v.kind) {
        case Kind::Kick: {
            double phase = 0.0;
            Svf click;
            click.set(3000.0, 0.7);
            Decay pitch(v.pitch_decay), amp(v.decay), snap(0.004);
            for (int64_t i = 0; i < n; ++i) {
                const double drop = pitch.next();
                const double f = drop > 1e-5 ? freq * std::exp2(v.pitch / 12.0 * drop) : freq;
                phase += f * dt;
                const double body = sine(phase) * amp.next();
                double c = 0.0;
                if (snap.value > 1e-5) {  // the beater's click: a few milliseconds
                    click.tick(rng.next());
                    c = click.lp * v.noise * snap.next();
                }
                out[i] = float(std::tanh(1.4 * (body + c)));
            }
            break;
        }
        case Kind::Snare: {
            double p1 = 0.0, p2 = 0.0;
            Svf band;
            band.set(v.cutoff, 0.6);
            Decay body(v.env_decay), rattle(v.decay);
            for (int64_t i = 0; i < n; ++i) {
                p1 += freq * dt;
                p2 += freq * 1.72 * dt;
                const double tone = (sine(p1) + 0.5 * sine(p2)) * body.next();
                band.tick(rng.next());
                const double snap = (band.bp + 0.3 * band.hp) * rattle.next();
                out[i] = float((1.0 - v.noise) * tone + v.noise * 1.6 * snap);
            }
            break;
        }
        case Kind::Hat:
        case Kind::Crash: {
            // Six detuned squares at inharmonic ratios give the metal; noise (the
            // "noise" share) gives the sizzle; a highpass keeps only the top.
            static constexpr double kMetal[6] = {1.0, 1.4828, 1.8003, 2.5461, 2.6303, 3.8970};
            Osc metal[6];
            for (Osc& o : metal) o.phase = rng.unit();
            const double base = freq * 0.7848;  // at C4: 205 Hz, the lowest of the six
            Svf hp;
            hp.set(v.cutoff, 0.7);
            Decay amp(v.decay);
            for (int64_t i = 0; i < n; ++i) {
                double m = 0.0;
                for (int k = 0; k < 6; ++k) m += metal[k].next(base * kMetal[k], 1.0);
                hp.tick(v.noise * rng.next() + (1.0 - v.noise) * m * (1.0 / 6.0));
                out[i] = float(hp.hp * amp.next() * std::min(1.0, double(i) * dt / 0.0008));
            }
            break;
        }
        case Kind::Shaker: {
            Svf band;
            band.set(v.cutoff, v.reso);
            Decay amp(v.decay);
            const int64_t rise = int64_t(v.attack * kSampleRate) + 1;
            for (int64_t i = 0; i < n; ++i) {
                band.tick(rng.next());
                const double env = i < rise ? double(i) / double(rise) : amp.next();
                out[i] = float(band.bp * env * 1.8);
            }
            break;
        }
        case Kind::Clave: {
            double p = 0.0;
            Decay amp(v.decay);
            for (int64_t i = 0; i < n; ++i) {
                p += freq * dt;
                const double s = sine(p) + 0.12 * sine(p * 2.76);
                out[i] = float(s * amp.next() * std::min(1.0, double(i) * dt / 0.0005));
            }
            break;
        }
        case Kind::Conga: {
            double p = 0.0;
            Svf slap;
            slap.set(freq * 6.0, 0.8);
            Decay pitch(v.pitch_decay), amp(v.decay), ring(0.05), hit(0.012);
            for (int64_t i = 0; i < n; ++i) {
                const double drop = pitch.next();
                const double f = drop > 1e-5 ? freq * std::exp2(v.pitch / 12.0 * drop) : freq;
                p += f * dt;
                const double body = (sine(p) + 0.25 * sine(p * 1.59) * ring.next()) * amp.next();
                double s = body;
                if (hit.value > 1e-5) {  // the slap's noise lasts a few tens of milliseconds
                    slap.tick(rng.next());
                    s += v.noise * 2.0 * slap.bp * hit.next();
                }
                out[i] = float(s);
            }
            break;
        }
        case Kind::Cowbell: {
            Osc a, b;
            Svf band;
            band.set(v.cutoff, v.reso);
            Decay strike(0.03), ring(v.decay);
            for (int64_t i = 0; i < n; ++i) {
                band.tick(0.5 * (a.next(freq, 1.0) + b.next(freq * 1.48, 1.0)));
                const double env = 0.6 * strike.next() + 0.4 * ring.next();
                out[i] = float(band.bp * env * 1.5);
            }
            break;
        }
        case Kind::Guiro: {
            Svf band;
            band.set(v.cutoff, v.reso);
            const int64_t gate_n = int64_t(gate * kSampleRate);
            const double tick_factor = std::exp(-6.0 * v.rate * dt);
            double tick = 1.0, ridge = 0.0, level = 0.0;
            Decay release(v.release);
            for (int64_t i = 0; i < n; ++i) {
                // each ridge of the scraper: a sharp tick that dies away
                ridge += v.rate * dt;
                if (ridge >= 1.0) { ridge -= 1.0; tick = 1.0; }
                tick *= tick_factor;
                level = i < gate_n ? std::min(1.0, double(i) * dt / 0.01) : level * release.factor;
                band.tick(rng.next() * tick);
                out[i] = float(band.bp * level * 2.5);
            }
            break;
        }
        case Kind::Riser: {
            Svf band;
            const int64_t gate_n = std::max<int64_t>(1, int64_t(gate * kSampleRate));
            double level = 0.0;
            for (int64_t i = 0; i < n; ++i) {
                const double x = std::min(double(i) / double(gate_n), 1.0);
                if ((i & 31) == 0) band.set(v.sweep_from * std::pow(v.sweep_to / v.sweep_from, x), v.reso);
                band.tick(rng.next());
                level = i < gate_n ? x * x : level * std::exp(-dt / v.release);
                out[i] = float(band.bp * level * 1.5);
            }
            break;
        }
        case Kind::Pluck: {
            // Karplus-Strong string: a filtered noise burst circulating in a delay
            // one period long, losing a little each pass; muted at the gate's end.
            const double period = kSampleRate / freq;
            const size_t size = size_t(period) + 4;
            std::vector<float> line(size, 0.0f);
            Svf shape;
            shape.set(v.cutoff, 0.6);
            for (size_t i = 0; i < size_t(period); ++i) {
                shape.tick(rng.next());
                line[i] = float(shape.lp);
            }
            const double loss = std::pow(10.0, -3.0 * (period / kSampleRate) / v.decay);
            const double mute_factor = std::exp(-dt / v.release);
            const int64_t gate_n = int64_t(gate * kSampleRate);
            const double frac = std::ceil(period) - period;
            const size_t lag = size_t(std::ceil(period));
            double last = 0.0, mute = 1.0;
            size_t w = size_t(period);
            for (int64_t i = 0; i < n; ++i) {
                // read `period` samples back: between lag and lag - 1 (wrapped by
                // comparison, not division: this loop runs for every string sample)
                const size_t r0 = w >= lag ? w - lag : w + size - lag, r1 = r0 + 1 == size ? 0 : r0 + 1;
                const double y = line[r0] * (1.0 - frac) + line[r1] * frac;
                const double damped = 0.5 * (y + last) * loss;
                last = y;
                if (i >= gate_n) mute *= mute_factor;
                line[w] = float(damped * (i >= gate_n ? mute_factor : 1.0));
                w = w + 1 == size ? 0 : w + 1;
                out[i] = float(y * std::min(1.0, mute * 4.0) * std::min(1.0, double(i) * dt / 0.001));
            }
            break;
        }
        case Kind::Marimba: {
            static constexpr double kRatio[3] = {1.0, 3.99, 9.14};
            static constexpr double kLevel[3] = {1.0, 0.35, 0.1};
            static constexpr double kDecayShare[3] = {1.0, 0.35, 0.12};
            double ph[3] = {0, 0, 0};
            Decay bar[3] = {Decay(v.decay * kDecayShare[0]), Decay(v.decay * kDecayShare[1]), Decay(v.decay * kDecayShare[2])};
            Decay knock(0.003);
            Svf mallet;
            mallet.set(2500.0, 0.7);
            for (int64_t i = 0; i < n; ++i) {
                double s = 0.0;
                for (int k = 0; k < 3; ++k) {
                    const double e = bar[k].next();
                    // above Nyquist's reach, or died away (the upper modes go first)
                    if (e < 1e-5 || freq * kRatio[k] > kSampleRate * 0.45) continue;
                    ph[k] += freq * kRatio[k] * dt;
                    s += (k == 0 ? 1.0 : kLevel[k] * v.bright) * sine(ph[k]) * e;
                }
                if (knock.value > 1e-5) {  // the mallet's knock lasts a few milliseconds
                    mallet.tick(rng.next());
                    s += 0.15 * mallet.lp * knock.next();
                }
                out[i] = float(s * std::min(1.0, double(i) * dt / 0.0007));
            }
            break;
        }
        case Kind::Bass:
        case Kind::Pad:
        case Kind::Lead: {
            Adsr adsr(v, gate);
            Osc osc;
            osc.phase = rng.unit();  // free-running phase, so stacked voices do not start in step
            double sub_phase = 0.0;
            Svf lp;
            double vib_phase = rng.unit();
            Decay filter_env(v.env_decay);
            const double vib_start = v.vib_delay * kSampleRate, vib_ramp = 0.3 * kSampleRate;
            for (int64_t i = 0; i < n; ++i) {
                double f = freq;
                if (v.vibrato > 0.0 && double(i) > vib_start) {
                    vib_phase += v.vib_rate * dt;
                    const double depth = v.vibrato * std::min(1.0, (double(i) - vib_start) / vib_ramp);
                    f *= 1.0 + depth * (0.0577623 * sine(vib_phase));  // 2^(depth/12 · sin) to first order
                }
                const double fe = filter_env.next();
                if (i == 0 || (v.env != 0.0 && (i & 15) == 0)) lp.set(v.cutoff * std::exp2(v.env * fe), v.reso);
                double s = osc.next(f, v.shape);
                if (v.noise > 0.0) s += v.noise * rng.next();
                lp.tick(s);
                double y = lp.lp;
                if (v.sub > 0.0) {
                    sub_phase += 0.5 * f * dt;
                    y += v.sub * sine(sub_phase);
                }
                out[i] = float(y * adsr.next() * 0.5);
            }
            break;
        }
    }
}

double row_of(double seconds, double row_s) { return seconds / row_s; }

// DC blocker (first-order highpass near 10 Hz) on both channels: a swept kick
// leaves a little offset, which would only eat headroom.
void block_dc(Render& r) {
    for (std::vector<float>* ch : {&r.left, &r.right}) {
        const double pole = 1.0 - 2.0 * kPi * 10.0 / kSampleRate;
        double x1 = 0.0, y1 = 0.0;
        for (float& x : *ch) {
            const double y = double(x) - x1 + pole * y1;
            x1 = x;
            y1 = y;
            x = float(y);
        }
    }
}

// Fourth-order Butterworth highpass on both channels (two state-variable stages):
// takes the rumble under the kick and the bass's lowest octave off the master.
void highpass(Render& r, double hz) {
    for (std::vector<float>* ch : {&r.left, &r.right}) {
        Svf stage[2];
        for (int k = 0; k < 2; ++k) stage[k].set(hz, kButterworth4Q[k]);
        for (float& x : *ch) {
            stage[0].tick(x);
            stage[1].tick(stage[0].hp);
            x = float(stage[1].hp);
        }
    }
}

// Multiplies both channels by an automated gain in dB, evaluated every 64 frames.
// A fade (the master's) only lowers the level and is silence at -90 dB or below.
void apply_gain_curve(const Automation& a, double row_s, bool fade, std::vector<float>& left, std::vector<float>& right) {
    const int64_t frames = int64_t(left.size());
    for (int64_t b = 0; b < frames; b += 64) {
        const double db = a.value_at(row_of(double(b) / kSampleRate, row_s));
        float g = float(db_to_gain(db));
        if (fade) g = db <= -90.0 ? 0.0f : std::min(g, 1.0f);
        for (int64_t i = b; i < std::min(frames, b + 64); ++i) {
            left[size_t(i)] *= g;
            right[size_t(i)] *= g;
        }
    }
}

}  // namespace

bool voice_kind_known(std::string_view kind) { return find_kind(kind) != nullptr; }

bool voice_param_known(std::string_view key) {
    for (const ParamDefault& d : kParams)
        if (key == d.key) return true;
    return false;
}

double voice_base_note(const Instrument& inst) { return param(inst, "note"); }

Render render_score(const Score& score) {
    const int64_t frames = int64_t(std::llround(score.length_s * kSampleRate));
    const double row_s = score.row_seconds();
    Render out;
    out.left.assign(size_t(frames), 0.0f);
    out.right.assign(size_t(frames), 0.0f);
    std::vector<float> reverb_send(size_t(frames), 0.0f), delay_send(size_t(frames), 0.0f);
    std::vector<float> bus_l(size_t(frames), 0.0f), bus_r(size_t(frames), 0.0f), scratch;

    const std::vector<Note> notes = schedule(score);
    size_t next = 0;
    // COMPOSE_STATS in the environment prints each instrument's cost and level
    // to standard error (for balancing a mix); the render itself is unaffected.
    const bool stats = std::getenv("COMPOSE_STATS") != nullptr;
    std::vector<int64_t> voice_samples(score.instruments.size(), 0);
    for (size_t ii = 0; ii < score.instruments.size(); ++ii) {
        const Voice v = resolve(score.instruments[ii]);
        const auto started = std::chrono::steady_clock::now();  // for the stats line only
        std::fill(bus_l.begin(), bus_l.end(), 0.0f);
        std::fill(bus_r.begin(), bus_r.end(), 0.0f);
        for (; next < notes.size() && notes[next].instrument == int(ii); ++next) {
            const Note& note = notes[next];
            for (size_t pi = 0; pi < note.pitches.size(); ++pi) {
                const double start_s = note.start_s + v.strum * double(pi);
                const int64_t start = int64_t(std::llround(start_s * kSampleRate));
                if (start >= frames) continue;
                const int64_t n = std::min(frames - start, int64_t(std::ceil(voice_seconds(v, note.length_s) * kSampleRate)) + 1);
                scratch.assign(size_t(n), 0.0f);
                voice_samples[ii] += n * v.voices;
                for (int k = 0; k < v.voices; ++k) {
                    // Voices spread evenly over ±detune/2 cents and ±width in pan.
                    const double spread = v.voices > 1 ? double(k) / double(v.voices - 1) * 2.0 - 1.0 : 0.0;
                    const double freq = midi_to_hz(note.pitches[pi]) * std::pow(2.0, spread * v.detune * 0.5 / 1200.0);
                    Noise rng(score.seed ^ (uint64_t(ii) << 48) ^ (uint64_t(next) << 8) ^ (uint64_t(pi) << 4) ^ uint64_t(k));
                    render_voice(v, freq, note.length_s, rng, scratch.data(), n);
                    for (int64_t i = std::max<int64_t>(0, n - kTailFade); i < n; ++i)
                        scratch[size_t(i)] *= float(n - i) / float(kTailFade);
                    const double pan = std::clamp(v.pan + spread * v.width, -1.0, 1.0);
                    const double amp = note.velocity * v.gain / std::sqrt(double(v.voices));
                    const float gl = float(amp * std::cos((pan + 1.0) * kPi * 0.25));
                    const float gr = float(amp * std::sin((pan + 1.0) * kPi * 0.25));
                    for (int64_t i = 0; i < n; ++i) {
                        bus_l[size_t(start + i)] += scratch[size_t(i)] * gl;
                        bus_r[size_t(start + i)] += scratch[size_t(i)] * gr;
                    }
                }
            }
        }
        for (const Automation& a : score.automations)
            if (a.instrument == int(ii)) apply_gain_curve(a, row_s, false, bus_l, bus_r);
        if (stats) {
            double energy = 0.0, peak = 0.0;
            int64_t active = 0;
            for (int64_t i = 0; i < frames; ++i) {
                const double e = 0.5 * (double(bus_l[size_t(i)]) * bus_l[size_t(i)] + double(bus_r[size_t(i)]) * bus_r[size_t(i)]);
                energy += e;
                active += e > 1e-10;
                peak = std::max(peak, double(std::max(std::fabs(bus_l[size_t(i)]), std::fabs(bus_r[size_t(i)]))));
            }
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
            std::fprintf(stderr, "%-8s %6.0f ms, %6.1f M voice samples, %6.1f dB rms while sounding, peak %6.1f dB\n",
                         score.instruments[ii].name.c_str(), ms, double(voice_samples[ii]) * 1e-6,
                         10.0 * std::log10(energy / double(std::max<int64_t>(1, active)) + 1e-20), 20.0 * std::log10(peak + 1e-20));
        }
        for (int64_t i = 0; i < frames; ++i) {
            const size_t s = size_t(i);
            out.left[s] += bus_l[s];
            out.right[s] += bus_r[s];
            const float mono = 0.5f * (bus_l[s] + bus_r[s]);
            reverb_send[s] += mono * float(v.reverb);
            delay_send[s] += mono * float(v.delay);
        }
    }

    auto setting = [](const std::map<std::string, double>& m, const char* key, double dflt) {
        auto it = m.find(key);
        return it == m.end() ? dflt : it->second;
    };
    {
        std::fill(bus_l.begin(), bus_l.end(), 0.0f);
        std::fill(bus_r.begin(), bus_r.end(), 0.0f);
        PingPongDelay delay(setting(score.delay, "rows", 3.0) * row_s, setting(score.delay, "feedback", 0.35),
                            setting(score.delay, "tone", 3500.0));
        delay.process(delay_send.data(), bus_l.data(), bus_r.data(), frames);
        // Repeats also go to the reverb, so they sit in the same room.
        const float dg = float(db_to_gain(setting(score.delay, "gain", 0.0)));
        for (int64_t i = 0; i < frames; ++i) {
            const size_t s = size_t(i);
            out.left[s] += bus_l[s] * dg;
            out.right[s] += bus_r[s] * dg;
            reverb_send[s] += 0.25f * (bus_l[s] + bus_r[s]) * dg;
        }
    }
    {
        std::fill(bus_l.begin(), bus_l.end(), 0.0f);
        std::fill(bus_r.begin(), bus_r.end(), 0.0f);
        Reverb reverb(setting(score.reverb, "room", 0.7), setting(score.reverb, "damp", 0.4),
                      setting(score.reverb, "predelay", 0.02));
        reverb.process(reverb_send.data(), bus_l.data(), bus_r.data(), frames);
        const float rg = float(db_to_gain(setting(score.reverb, "gain", 0.0)));
        for (int64_t i = 0; i < frames; ++i) {
            out.left[size_t(i)] += bus_l[size_t(i)] * rg;
            out.right[size_t(i)] += bus_r[size_t(i)] * rg;
        }
    }

    // Master bus: automated lowpass, highpass, drive, compressor, limiter, then the fade.
    for (const Automation& a : score.automations) {
        if (a.instrument >= 0 || a.param != "cutoff") continue;
        Svf fl, fr;
        for (int64_t b = 0; b < frames; b += 32) {
            const double cutoff = a.value_at(row_of(double(b) / kSampleRate, row_s));
            fl.set(cutoff, 0.707);
            fr.set(cutoff, 0.707);
            for (int64_t i = b; i < std::min(frames, b + 32); ++i) {
                fl.tick(out.left[size_t(i)]);
                fr.tick(out.right[size_t(i)]);
                out.left[size_t(i)] = float(fl.lp);
                out.right[size_t(i)] = float(fr.lp);
            }
        }
    }
    block_dc(out);
    if (const double hz = setting(score.master, "highpass", 0.0); hz > 0.0) highpass(out, hz);
    const float drive = float(db_to_gain(setting(score.master, "gain", 0.0)));
    for (int64_t i = 0; i < frames; ++i) {
        out.left[size_t(i)] *= drive;
        out.right[size_t(i)] *= drive;
    }
    MasterSettings ms;
    ms.threshold_db = setting(score.master, "threshold", ms.threshold_db);
    ms.ratio = std::max(1.0, setting(score.master, "ratio", ms.ratio));
    ms.attack_s = std::max(0.0005, setting(score.master, "attack", ms.attack_s));
    ms.release_s = std::max(0.005, setting(score.master, "release", ms.release_s));
    ms.ceiling_db = std::min(0.0, setting(score.master, "ceiling", ms.ceiling_db));
    compress(out.left.data(), out.right.data(), frames, ms);
    block_dc(out);  // again: gain riding on lopsided kicks leaves an offset of its own
    limit(out.left.data(), out.right.data(), frames, ms);
    for (const Automation& a : score.automations)
        if (a.instrument < 0 && a.param == "gain") apply_gain_curve(a, row_s, true, out.left, out.right);
    return out;
}

std::vector<uint8_t> wav_bytes(const Render& r, uint64_t seed) {
    const uint32_t frames = uint32_t(r.left.size());
    const uint32_t data_bytes = frames * 4u;
    std::vector<uint8_t> bytes;
    bytes.reserve(44 + size_t(data_bytes));
    auto put32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(v >> (8 * i))); };
    auto put16 = [&](uint16_t v) { bytes.push_back(uint8_t(v)); bytes.push_back(uint8_t(v >> 8)); };
    auto tag = [&](const char* t) { bytes.insert(bytes.end(), t, t + 4); };
    tag("RIFF"); put32(36 + data_bytes); tag("WAVE");
    tag("fmt "); put32(16); put16(1); put16(2); put32(44100); put32(44100 * 4); put16(4); put16(16);
    tag("data"); put32(data_bytes);
    Noise rng(seed ^ 0xD17E5EEDull);
    auto sample = [&](float x) {
        if (x == 0.0f) return int16_t(0);  // digital silence stays silent
        const double d = rng.unit() + rng.unit() - 1.0;  // triangular, ±1 LSB
        const double s = std::round(double(x) * 32767.0 + d);
        return int16_t(std::clamp(s, -32767.0, 32767.0));
    };
    for (uint32_t i = 0; i < frames; ++i) {
        put16(uint16_t(sample(r.left[i])));
        put16(uint16_t(sample(r.right[i])));
    }
    return bytes;
}

}  // namespace compose

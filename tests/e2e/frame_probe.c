/* Watches the real executable from inside its process without changing it:
 * loaded with LD_PRELOAD, it stands between the show and SDL at two points.
 *
 * - SDL_GL_SwapWindow: every presented frame. Before passing the swap on it
 *   drains glGetError (the show itself never reads it, so every error raised
 *   since the previous frame is still there), and it times the frame's work
 *   (from the end of one swap to the start of the next) and the interval
 *   between swaps.
 * - SDL_OpenAudioDevice: the audio callback is wrapped to count the bytes the
 *   device asked for, the clock that the show's playback position follows.
 *
 * Once a second it writes one line to standard error:
 *   frame-probe: t=12.0 frames=61 total=700 gl_errors=0 drawable=1920x1080
 *     work_ms=3.10/9.52 interval_ms=16.4/17.9 audio_bytes=4233600 audio=1
 * (seconds since the first frame; frames in this second and in all; GL errors
 * so far; the drawable's size at the last frame; mean/max frame work and
 * mean/max interval in this second; bytes the audio device asked for so far,
 * audio=0 while no device is open). The first GL errors are also named at once.
 *
 * VELMO_PROBE_PACE_HZ=60 makes each swap wait for the next slot of a 60 Hz
 * grid, as a display's vertical blank would (a virtual X server has none).
 * Everything goes to standard error, which the show already has open. */
#define _GNU_SOURCE
#include <SDL.h>
#include <dlfcn.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

typedef void (*swap_fn)(SDL_Window*);
typedef void* (*proc_fn)(const char*);
typedef void (*drawable_fn)(SDL_Window*, int*, int*);
typedef SDL_AudioDeviceID (*open_audio_fn)(const char*, int, const SDL_AudioSpec*, SDL_AudioSpec*, int);
typedef unsigned (*get_error_fn)(void);

static int64_t now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

static void* next_symbol(const char* name) {
    void* p = dlsym(RTLD_NEXT, name);
    if (!p) {
        fprintf(stderr, "frame-probe: %s not found\n", name);
        abort();
    }
    return p;
}

/* Audio: the show's callback and user data, and the bytes asked for. */
static SDL_AudioCallback show_callback;
static void* show_userdata;
static atomic_llong audio_bytes;
static atomic_int audio_open;

static void counting_callback(void* userdata, Uint8* stream, int len) {
    (void)userdata;
    show_callback(show_userdata, stream, len);
    atomic_fetch_add_explicit(&audio_bytes, len, memory_order_relaxed);
}

SDL_AudioDeviceID SDL_OpenAudioDevice(const char* device, int iscapture, const SDL_AudioSpec* desired,
                                      SDL_AudioSpec* obtained, int allowed_changes) {
    static open_audio_fn next;
    if (!next) next = (open_audio_fn)next_symbol("SDL_OpenAudioDevice");
    if (!desired || !desired->callback) return next(device, iscapture, desired, obtained, allowed_changes);
    SDL_AudioSpec wrapped = *desired;
    show_callback = desired->callback;
    show_userdata = desired->userdata;
    wrapped.callback = counting_callback;
    wrapped.userdata = NULL;
    SDL_AudioDeviceID id = next(device, iscapture, &wrapped, obtained, allowed_changes);
    if (obtained) {
        obtained->callback = desired->callback;
        obtained->userdata = desired->userdata;
    }
    if (id) atomic_store(&audio_open, 1);
    return id;
}

/* Frames. */
static struct {
    int64_t first, last_report, last_swap_start, last_swap_end, next_slot, pace_ns;
    long total;
    int frames, gl_errors;
    double work_sum, work_max, interval_sum, interval_max;
} probe;

static const char* gl_error_name(unsigned e) {
    switch (e) {
        case 0x0500: return "GL_INVALID_ENUM";
        case 0x0501: return "GL_INVALID_VALUE";
        case 0x0502: return "GL_INVALID_OPERATION";
        case 0x0503: return "GL_STACK_OVERFLOW";
        case 0x0504: return "GL_STACK_UNDERFLOW";
        case 0x0505: return "GL_OUT_OF_MEMORY";
        case 0x0506: return "GL_INVALID_FRAMEBUFFER_OPERATION";
        default: return "GL error";
    }
}

static void report(SDL_Window* window, int64_t now) {
    static drawable_fn drawable;
    if (!drawable) drawable = (drawable_fn)next_symbol("SDL_GL_GetDrawableSize");
    int w = 0, h = 0;
    drawable(window, &w, &h);
    double n = probe.frames > 0 ? probe.frames : 1;
    fprintf(stderr,
            "frame-probe: t=%.1f frames=%d total=%ld gl_errors=%d drawable=%dx%d work_ms=%.2f/%.2f "
            "interval_ms=%.1f/%.1f audio_bytes=%lld audio=%d\n",
            (now - probe.first) / 1e9, probe.frames, probe.total, probe.gl_errors, w, h, probe.work_sum / n,
            probe.work_max, probe.interval_sum / n, probe.interval_max,
            (long long)atomic_load_explicit(&audio_bytes, memory_order_relaxed), atomic_load(&audio_open));
    probe.frames = 0;
    probe.work_sum = probe.work_max = probe.interval_sum = probe.interval_max = 0;
    probe.last_report = now;
}

void SDL_GL_SwapWindow(SDL_Window* window) {
    static swap_fn next;
    static get_error_fn get_error;
    if (!next) {
        next = (swap_fn)next_symbol("SDL_GL_SwapWindow");
        proc_fn proc = (proc_fn)next_symbol("SDL_GL_GetProcAddress");
        get_error = (get_error_fn)proc("glGetError");
        const char* pace = getenv("VELMO_PROBE_PACE_HZ");
        if (pace && atof(pace) > 0) probe.pace_ns = (int64_t)(1e9 / atof(pace));
    }
    int64_t start = now_ns();
    for (int i = 0; get_error && i < 16; ++i) {
        unsigned e = get_error();
        if (e == 0) break;
        if (probe.gl_errors < 8) fprintf(stderr, "frame-probe: %s (0x%04x) before frame %ld\n", gl_error_name(e), e, probe.total + 1);
        ++probe.gl_errors;
    }
    if (probe.total == 0) {
        probe.first = probe.last_report = start;
    } else {
        double work = (start - probe.last_swap_end) / 1e6;
        double interval = (start - probe.last_swap_start) / 1e6;
        probe.work_sum += work;
        probe.interval_sum += interval;
        if (work > probe.work_max) probe.work_max = work;
        if (interval > probe.interval_max) probe.interval_max = interval;
    }
    probe.last_swap_start = start;
    if (probe.pace_ns > 0) {
        /* The next slot after now: a frame that missed one waits for the one after. */
        if (probe.next_slot == 0) probe.next_slot = start;
        while (probe.next_slot <= start) probe.next_slot += probe.pace_ns;
        struct timespec wait = {(time_t)(probe.next_slot / 1000000000), (long)(probe.next_slot % 1000000000)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wait, NULL);
    }
    next(window);
    ++probe.total;
    ++probe.frames;
    probe.last_swap_end = now_ns();
    if (probe.last_swap_end - probe.last_report >= 1000000000) report(window, probe.last_swap_end);
}

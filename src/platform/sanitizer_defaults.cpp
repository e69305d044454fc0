// Leak reports that belong to the system libraries under the window (the GL
// driver, D-Bus, GTK and its stack), not to the show. Compiled into every
// program that links the platform layer, in sanitised builds only. A leak whose
// innermost frame is the show's own code is still reported.
#include <dlfcn.h>

extern "C" const char* __lsan_default_suppressions() {
    return "leak:swrast_dri.so\n"
           "leak:libGLX_mesa.so\n"
           "leak:libLLVM\n"
           "leak:libdbus-1.so\n"
           "leak:libfontconfig.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libgtk-3.so\n"
           "leak:libgdk-3.so\n"
           "leak:libpango\n"
           "leak:libharfbuzz.so\n"
           "leak:libX11.so\n";
}

namespace {

// The driver is unloaded with the last GL window, long before the leak check
// at exit; its frames would then have no name to match. Keep it loaded.
struct KeepGlDriverLoaded {
    KeepGlDriverLoaded() {
        dlopen("libGLX_mesa.so.0", RTLD_NOW | RTLD_NODELETE);
        dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
    }
};
KeepGlDriverLoaded keep_gl_driver_loaded;

}  // namespace

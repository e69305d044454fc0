// velmo_models <output folder> <font.ttf>: writes the seven model files of the
// show (names as in scene/model_files.h). The models are built side by side,
// one thread each; every file is the same bytes on every run.
#include <time.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/read_text_file.h"
#include "models.h"

namespace {

struct Job {
    const char* file_name;
    std::function<ModelFile()> make;
    bool ok;
    std::string error;
    size_t bytes = 0;
    double cpu_seconds = 0;  // of the thread that built it
};

double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        *error = path + ": cannot be written";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: velmo_models <output folder> <font.ttf>\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::string font, error;
    if (!read_text_file(argv[2], &font, &error) || !check_font(font, argv[2], &error)) {
        std::fprintf(stderr, "velmo_models: %s\n", error.c_str());
        return 1;
    }
    // In the load order of the show; the greetings also need the font.
    std::vector<Job> jobs = {
        {"ingredients.glb", make_ingredients, false, {}},
        {"donkey.glb", make_donkey, false, {}},
        {"mill.glb", make_mill, false, {}},
        {"face.glb", make_face, false, {}},
        {"plate.glb", make_plate, false, {}},
        {"pyramid.glb", make_pyramid, false, {}},
        {"greetings.glb", [&font]() { return make_greetings(font); }, false, {}},
    };
    std::vector<std::thread> threads;
    for (Job& job : jobs) {
        threads.emplace_back([&job, &folder]() {
            double start = thread_cpu_seconds();
            ModelFile model = job.make();
            std::vector<uint8_t> bytes = write_glb(model, &job.error);
            if (bytes.empty()) {
                job.error = std::string(job.file_name) + ": " + job.error;
                return;
            }
            job.ok = write_file(folder + "/" + job.file_name, bytes, &job.error);
            job.bytes = bytes.size();
            job.cpu_seconds = thread_cpu_seconds() - start;
        });
    }
    for (std::thread& t : threads) t.join();
    int status = 0;
    for (const Job& job : jobs) {
        if (job.ok) std::printf("velmo_models: %-16s %9zu bytes, %5.2f s of CPU\n", job.file_name, job.bytes, job.cpu_seconds);
        if (!job.ok) {
            std::fprintf(stderr, "velmo_models: %s\n", job.error.c_str());
            status = 1;
        }
    }
    return status;
}

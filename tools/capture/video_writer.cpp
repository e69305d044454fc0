#include "video_writer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

extern char** environ;

namespace {

std::string errno_text(int e) { return std::strerror(e); }

// Every byte, retrying short writes and interruptions. False with errno set.
bool write_all(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool write_music_file(const std::string& path, const float* music, size_t frames, std::string* error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot create " + path + ": " + errno_text(errno);
        return false;
    }
    bool ok = write_all(fd, music, frames * 2 * sizeof(float));
    int e = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        e = errno;
    }
    if (!ok) *error = "cannot write " + path + ": " + errno_text(e);
    return ok;
}

std::string exit_text(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
    return "status " + std::to_string(status);
}

}  // namespace

bool video_open(const VideoDesc& desc, VideoWriter* w, std::string* error) {
    *w = VideoWriter{};
    w->out = desc.out;
    w->partial = desc.out + ".partial";
    w->music_file = desc.out + ".music.partial";
    w->frame_bytes = static_cast<size_t>(desc.width) * desc.height * 4;
    if (!write_music_file(w->music_file, desc.music, desc.music_frames, error)) {
        video_abort(w);
        return false;
    }

    const std::string size = std::to_string(desc.width) + "x" + std::to_string(desc.height);
    const std::string rate = std::to_string(desc.fps);
    std::vector<std::string> args = {desc.ffmpeg, "-hide_banner", "-loglevel", "error", "-nostats", "-y",
                                     "-f", "rawvideo", "-pix_fmt", "rgba", "-video_size", size, "-framerate", rate,
                                     "-i", "pipe:0",
                                     "-f", "f32le", "-ar", "44100", "-ac", "2", "-i", w->music_file,
                                     "-map", "0:v:0", "-map", "1:a:0"};
    const std::vector<std::string> codec =
        desc.lossless ? std::vector<std::string>{"-c:v", "ffv1", "-pix_fmt", "bgr0", "-c:a", "pcm_f32le",
                                                 "-f", "matroska"}
                      : std::vector<std::string>{"-c:v", "libx264", "-preset", "medium", "-crf", "18",
                                                 "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "256k",
                                                 "-movflags", "+faststart", "-f", "mp4"};
    args.insert(args.end(), codec.begin(), codec.end());
    args.push_back(w->partial);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        *error = "cannot make a pipe to ffmpeg: " + errno_text(errno);
        video_abort(w);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, desc.ffmpeg.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[0]);
    if (rc != 0) {
        ::close(fds[1]);
        *error = "cannot run ffmpeg ('" + desc.ffmpeg + "'): " + errno_text(rc) +
                 " (install ffmpeg, or name it with --ffmpeg)";
        video_abort(w);
        return false;
    }
    w->child = pid;
    w->pipe_fd = fds[1];
    return true;
}

bool video_write_frame(VideoWriter* w, const uint8_t* rgba, std::string* error) {
    if (write_all(w->pipe_fd, rgba, w->frame_bytes)) return true;
    const int e = errno;
    // A closed pipe means ffmpeg has stopped; its status says more than EPIPE.
    ::close(w->pipe_fd);
    w->pipe_fd = -1;
    int status = 0;
    if (w->child > 0 && waitpid(w->child, &status, 0) == w->child) {
        w->child = -1;
        *error = "ffmpeg stopped (" + exit_text(status) + ") while writing " + w->partial;
    } else {
        *error = "cannot send frames to ffmpeg: " + errno_text(e);
    }
    return false;
}

bool video_finish(VideoWriter* w, std::string* error) {
    ::close(w->pipe_fd);
    w->pipe_fd = -1;
    int status = 0;
    pid_t got = -1;
    do got = waitpid(w->child, &status, 0);
    while (got < 0 && errno == EINTR);
    w->child = -1;
    if (got < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *error = "ffmpeg failed (" + (got < 0 ? errno_text(errno) : exit_text(status)) + ") writing " + w->partial;
        video_abort(w);
        return false;
    }
    if (std::rename(w->partial.c_str(), w->out.c_str()) != 0) {
        *error = "cannot rename " + w->partial + " to " + w->out + ": " + errno_text(errno);
        video_abort(w);
        return false;
    }
    std::remove(w->music_file.c_str());
    return true;
}

void video_abort(VideoWriter* w) {
    if (w->pipe_fd >= 0) ::close(w->pipe_fd);
    w->pipe_fd = -1;
    if (w->child > 0) {
        kill(w->child, SIGTERM);
        int status = 0;
        while (waitpid(w->child, &status, 0) < 0 && errno == EINTR) {
        }
        w->child = -1;
    }
    if (!w->partial.empty()) std::remove(w->partial.c_str());
    if (!w->music_file.empty()) std::remove(w->music_file.c_str());
}

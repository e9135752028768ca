// Cold start of the panel against a bare Qt Widgets window, side by side in one run.
//
// Each program is started afresh, alternately, on an X server (the one in $DISPLAY, or an
// Xvfb started here). The time to show is taken from the launch until the X server maps
// the program's first top-level window; resident memory is read from /proc once the
// window is up and the program has settled.
//
//   bench_startup [--runs N]
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    double showMs;
    long rssKb;
};

long residentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

struct Program {
    const char* name;
    const char* path;
    const char* argument; // may be null
};

pid_t launch(const Program& program, const std::string& runtimeDir) {
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        execl(program.path, program.path, program.argument, static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// Starts `program` and waits until a top-level window is mapped on the root window.
std::optional<Sample> measure(xcb_connection_t* c, xcb_window_t root, const Program& program,
                              const std::string& runtimeDir) {
    const auto start = Clock::now();
    const pid_t pid = launch(program, runtimeDir);
    std::optional<Sample> sample;
    const auto deadline = start + std::chrono::seconds(20);
    while (!sample && Clock::now() < deadline) {
        xcb_generic_event_t* e = xcb_poll_for_event(c);
        if (!e) {
            // Nothing queued: wait for the X server to send something, up to the deadline.
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
            poll(&fd, 1, int(std::max<long long>(0, left.count())) + 1);
            if (xcb_connection_has_error(c))
                break;
            continue;
        }
        if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY) {
            const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(e);
            if (map->event == root && !map->override_redirect)
                sample = Sample{
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count(), 0};
        }
        std::free(e);
    }
    if (sample) {
        // Let the first paint and any deferred start-up work finish before reading memory.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        sample->rssKb = residentKb(pid);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    // Drop the unmap/destroy events of the program that went away.
    while (xcb_generic_event_t* e = xcb_poll_for_event(c))
        std::free(e);
    return sample;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    int runs = 10;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));

    pid_t xvfb = 0;
    if (!std::getenv("DISPLAY")) {
        // Xvfb writes the display number it took to the pipe once it takes clients.
        int ready[2];
        if (pipe(ready) != 0)
            return 1;
        xvfb = fork();
        if (xvfb == 0) {
            close(ready[0]);
            const std::string fd = std::to_string(ready[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x24",
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(ready[1]);
        std::string display;
        pollfd fd{ready[0], POLLIN, 0};
        char ch = 0;
        while (poll(&fd, 1, 10000) > 0 && read(ready[0], &ch, 1) == 1 && ch != '\n')
            display += ch;
        close(ready[0]);
        if (display.empty()) {
            std::fprintf(stderr, "Xvfb did not start\n");
            return 1;
        }
        setenv("DISPLAY", (":" + display).c_str(), 1);
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "no X server (install xvfb or set DISPLAY)\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);

    char dir[] = "/tmp/tamberlo-bench-XXXXXX";
    const std::string runtimeDir = mkdtemp(dir) ? dir : "/tmp";

    const Program programs[] = {
        {"bare Qt window", TAMBERLO_BARE_WINDOW, nullptr},
        {"bare + 1 caption", TAMBERLO_BARE_WINDOW, "--text"},
        {"tamberlo", TAMBERLO_PANEL, nullptr},
    };
    constexpr int count = 3;
    std::vector<double> show[count];
    long rss[count] = {};
    // A first launch of each warms the disk cache; it is not counted.
    for (const Program& p : programs)
        measure(c, root, p, runtimeDir);
    for (int r = 0; r < runs; ++r)
        for (int k = 0; k < count; ++k)
            if (const auto s = measure(c, root, programs[k], runtimeDir)) {
                show[k].push_back(s->showMs);
                rss[k] = std::max(rss[k], s->rssKb);
            }

    std::printf("cold start until the window is mapped, %d runs each (after one warm-up)\n\n",
                runs);
    std::printf("%-18s %10s %10s %10s %12s\n", "program", "median ms", "min ms", "max ms",
                "RSS MB");
    for (int k = 0; k < count; ++k) {
        if (show[k].empty()) {
            std::printf("%-18s no window appeared\n", programs[k].name);
            continue;
        }
        std::printf("%-18s %10.1f %10.1f %10.1f %12.1f\n", programs[k].name, median(show[k]),
                    *std::min_element(show[k].begin(), show[k].end()),
                    *std::max_element(show[k].begin(), show[k].end()), rss[k] / 1024.0);
    }
    if (!show[0].empty() && !show[2].empty()) {
        std::printf("\ntamberlo / bare window: %.2fx (target within 1.3x); RSS %.1f MB (target "
                    "under 50 MB)\n",
                    median(show[2]) / median(show[0]), rss[2] / 1024.0);
        if (!show[1].empty())
            std::printf("tamberlo / bare window with one Chinese caption: %.2fx\n",
                        median(show[2]) / median(show[1]));
    }
    rmdir(runtimeDir.c_str());
    xcb_disconnect(c);
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
    return 0;
}

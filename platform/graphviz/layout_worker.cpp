// kavro-layout: the layout component's worker process. Reads requests on standard input (a stream socket
// from the component), draws each with Graphviz (in a fork of itself) and answers on the same socket. Ends when the component
// closes its end, or with it (parent-death signal). Usage: kavro-layout [--memory-mb N]
#include "platform/graphviz/render.h"
#include "platform/graphviz/worker_protocol.h"

#include <dirent.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <string>

namespace {

using namespace kavro::graphviz;

bool read_all(int fd, void* data, std::size_t n) {
    auto* p = static_cast<std::uint8_t*>(data);
    while (n > 0) {
        const ssize_t got = ::read(fd, p, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= std::size_t(got);
    }
    return true;
}

bool write_all(int fd, const void* data, std::size_t n) {
    auto* p = static_cast<const std::uint8_t*>(data);
    while (n > 0) {
        const ssize_t put = ::send(fd, p, n, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        n -= std::size_t(put);
    }
    return true;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

void limit_resources(unsigned long memory_mb) {
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    // Sanitizers reserve terabytes of address space: a memory limit would stop them, not Graphviz.
    if (memory_mb > 0 && !kSanitized) {
        const rlim_t bytes = rlim_t(memory_mb) << 20;
        const rlimit as{bytes, bytes};
        setrlimit(RLIMIT_AS, &as);
    }
}

// Graphviz's text layout starts a thread of its own to load the fonts. A fork is safe only once the
// process has a single thread again; a worker that never gets there is still bounded by the caller's time
// limit.
void wait_single_threaded() {
    for (int i = 0; i < 300; ++i) {
        DIR* tasks = ::opendir("/proc/self/task");
        if (!tasks) return;
        int threads = 0;
        while (const dirent* e = ::readdir(tasks))
            if (e->d_name[0] != '.') ++threads;
        ::closedir(tasks);
        if (threads <= 1) return;
        ::usleep(10000);
    }
}

std::string make_reply(RenderStatus status, const std::string& body) {
    std::string reply(5, '\0');
    reply[0] = char(status);
    put_u32(reinterpret_cast<std::uint8_t*>(reply.data()) + 1, std::uint32_t(body.size()));
    return reply + body;
}

// Draws text in a child process and puts the reply to send in *reply.
void draw_in_child(const std::string& text, std::string* reply) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *reply = make_reply(RenderStatus::Failed, "no pipe");
        return;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        std::string jpeg, message;
        const RenderStatus status = render_jpeg(text, &jpeg, &message);
        const std::string out = make_reply(status, status == RenderStatus::Ok ? jpeg : message);
        for (std::size_t done = 0; done < out.size();) {
            const ssize_t put = ::write(fds[1], out.data() + done, out.size() - done);
            if (put <= 0) _exit(1);
            done += std::size_t(put);
        }
        _exit(0);
    }
    ::close(fds[1]);
    reply->clear();
    if (child > 0) {
        char buffer[65536];
        for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) break;
            reply->append(buffer, std::size_t(got));
        }
    }
    ::close(fds[0]);
    int status = 0;
    if (child > 0) ::waitpid(child, &status, 0);
    const bool whole = child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && reply->size() >= 5 &&
                       get_u32(reinterpret_cast<const std::uint8_t*>(reply->data()) + 1) == reply->size() - 5;
    if (!whole) {
        const std::string why = child < 0                ? std::string("no process for the drawing")
                                : WIFSIGNALED(status) ? "Graphviz ended with signal " + std::to_string(WTERMSIG(status))
                                                      : std::string("Graphviz ended without a drawing");
        *reply = make_reply(RenderStatus::Failed, why);
    }
}

} // namespace

// Thread sanitizer builds: the font libraries' own start-up thread races with their users inside those
// libraries; that is theirs, not ours.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libfontconfig.so\nrace:libglib-2.0.so\nrace:libpango\nrace:libcairo.so\n";
}

int main(int argc, char** argv) {
    unsigned long memory_mb = 1024;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--memory-mb") == 0)
            std::from_chars(argv[i + 1], argv[i + 1] + std::strlen(argv[i + 1]), memory_mb);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() == 1) return 0; // the component is already gone
    limit_resources(memory_mb);

    std::string text, jpeg, message;
    // Loading Graphviz's plug-ins and fonts takes a while; it is not counted against the first drawing.
    render_jpeg("digraph{a->b}", &jpeg, &message);
    wait_single_threaded();
    if (!write_all(0, &kReady, 1)) _exit(0);
    std::string reply;
    for (;;) {
        std::uint8_t header[4];
        if (!read_all(0, header, 4)) break;
        const std::uint32_t length = get_u32(header);
        if (length > kMaxRequestBytes) break;
        text.resize(length);
        if (!read_all(0, text.data(), length)) break;
        // Graphviz keeps parser state between graphs, and a bad text can leave it broken: each drawing is
        // made in a fork of this warmed-up process, which ends with it.
        draw_in_child(text, &reply);
        if (!write_all(0, reply.data(), reply.size())) break;
    }
    // Graphviz's own allocations are the system's to take back.
    std::fflush(stderr);
    _exit(0);
}

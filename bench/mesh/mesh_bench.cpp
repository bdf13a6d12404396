// One topology cycle without its pauses (substitution, layout, JPEG save, decode, fit) for the 4-node
// capture and a generated 20-node mesh, beside the same text drawn by Graphviz in this process (what the
// worker process costs) and by `dot -Tjpg` started as a separate program, at the drawing's natural size and at
// the frame's size that the layout worker draws at.
#include "filters/mesh/topology_thread.h"
#include "platform/graphviz/component.h"
#include "platform/graphviz/render.h"

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

extern char** environ;

namespace {

std::string capture() {
    std::ifstream f(std::string(BENCH_DATA) + "/olsr/ns2-hub-single-snapshot.dot");
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// A 20-node mesh as the daemon writes it: each node linked to its next two neighbours, ETX labels, two HNA.
std::string mesh20() {
    auto ip = [](int i) { return "\"10.99.0." + std::to_string(i + 1) + "\""; };
    std::string t = "digraph topology\n{\n";
    for (int i = 0; i < 20; ++i)
        for (int k = 1; k <= 2; ++k) {
            t += ip(i) + " -> " + ip((i + k) % 20) + "[label=\"1.000\"];\n";
            t += ip((i + k) % 20) + " -> " + ip(i) + "[label=\"1.234\"];\n";
        }
    t += ip(0) + " -> \"0.0.0.0/0\"[label=\"HNA\"];\n\"0.0.0.0/0\"[shape=diamond];\n";
    t += ip(7) + " -> \"192.168.0.99/32\"[label=\"HNA\"];\n\"192.168.0.99/32\"[shape=diamond];\n";
    return t + "}\n\n";
}

const std::string& text(int which) {
    static const std::string texts[2] = {capture(), mesh20()};
    return texts[which];
}

struct Fixture {
    ComPtr<IGraphLayout> layout;
    std::unique_ptr<mesh::TopologyDrawer> drawer;
    mesh::SharedFrame frame;
    mesh::ServerSettings::Snapshot settings{
        {127, 0, 0, 1}, 2004, {{"10.99.12.1", "R1"}, {"10.99.12.2", "BASE"}, {"10.99.0.1", "R2"}}};
    std::string dir;
    Fixture() {
        char tmpl[] = "/tmp/kavro-bench-mesh-XXXXXX";
        dir = mkdtemp(tmpl);
        auto* component = new CGraphLayout(nullptr, kavro::graphviz::LayoutProcess::default_worker_path(), {});
        component->NonDelegatingQueryInterface(IID_IGraphLayout, layout.put_void());
        drawer = std::make_unique<mesh::TopologyDrawer>(layout, dir + "/tmp.jpg", false);
    }
};

void BM_MeshCycle(benchmark::State& state) {
    static Fixture f;
    const std::string& t = text(int(state.range(0)));
    for (auto _ : state) {
        std::memcpy(f.drawer->text(), t.c_str(), t.size() + 1);
        const mesh::CycleResult r = f.drawer->draw(f.settings, f.frame);
        if (r != mesh::CycleResult::Drawn) {
            state.SkipWithError(mesh::to_string(r));
            break;
        }
    }
    state.SetLabel(std::to_string(f.drawer->last_width()) + "x" + std::to_string(f.drawer->last_height()));
}

void BM_GraphvizInThisProcess(benchmark::State& state) {
    const std::string& t = text(int(state.range(0)));
    std::string jpeg, message;
    for (auto _ : state)
        if (kavro::graphviz::render_jpeg(t, &jpeg, &message) != kavro::graphviz::RenderStatus::Ok)
            state.SkipWithError("not drawn");
}

void BM_DotProgram(benchmark::State& state) {
    const std::string& t = text(int(state.range(0)));
    char path[] = "/tmp/kavro-bench-dot-XXXXXX";
    const int fd = mkstemp(path);
    (void)!write(fd, t.data(), t.size());
    close(fd);
    const std::string out = std::string(path) + ".jpg";
    // range(1) = 1: with the size the layout worker gives every drawing (the frame), so both draw the same
    // picture; 0: at the drawing's natural size.
    char size[] = "-Gsize=8,6";
    char* argv[] = {const_cast<char*>("dot"), const_cast<char*>("-Tjpg"), path, const_cast<char*>("-o"),
                    const_cast<char*>(out.c_str()), state.range(1) ? size : nullptr, nullptr};
    for (auto _ : state) {
        pid_t pid;
        if (posix_spawnp(&pid, "dot", nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("dot not installed (package graphviz)");
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("dot failed");
    }
    unlink(path);
    unlink(out.c_str());
}

} // namespace

// First argument 0: the 4-node capture, 1: the 20-node mesh.
BENCHMARK(BM_MeshCycle)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GraphvizInThisProcess)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DotProgram)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();

// A topology text through the whole drawing path: names and HNA substituted, laid out by the layout
// component's worker process, saved, decoded and fitted into the frame. Whatever the text, the host
// neither crashes nor writes outside its buffers, and a failure is a failed cycle.
#include "filters/mesh/topology_thread.h"
#include "platform/graphviz/component.h"

#include <unistd.h>

#include <cstring>
#include <string>

namespace {

struct Path {
    ComPtr<IGraphLayout> layout;
    std::unique_ptr<mesh::TopologyDrawer> drawer;
    mesh::SharedFrame frame;
    mesh::ServerSettings::Snapshot settings{{127, 0, 0, 1}, 2004, {{"10.99.12.1", "R1"}, {"1", "BASE-STATION"}}};
    Path() {
        char dir[] = "/tmp/kavro-fuzz-mesh-XXXXXX";
        if (!mkdtemp(dir)) __builtin_trap();
        // The worker is the one built beside this program; drawings that take too long are cut short.
        auto* component = new CGraphLayout(nullptr, kavro::graphviz::LayoutProcess::default_worker_path(),
                                           kavro::graphviz::LayoutLimits{.time = std::chrono::milliseconds(2000)});
        component->NonDelegatingQueryInterface(IID_IGraphLayout, layout.put_void());
        drawer = std::make_unique<mesh::TopologyDrawer>(layout, std::string(dir) + "/tmp.jpg", false);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Path path;
    const std::size_t n = size < mesh::kReceiveBytes ? size : mesh::kReceiveBytes;
    std::memcpy(path.drawer->text(), data, n);
    path.drawer->text()[n] = '\0';
    const mesh::CycleResult r = path.drawer->draw(path.settings, path.frame);
    if (r == mesh::CycleResult::Drawn && (path.drawer->last_width() <= 0 || path.drawer->last_height() <= 0))
        __builtin_trap();
    return 0;
}

// The default picture reader on any file: never reads or writes outside its buffers, and a picture it
// accepts holds exactly width x height x 3 bytes, which the fitting then places inside the frame.
#include "filters/mesh/fit.h"
#include "filters/mesh/image_ppm.h"
#include "platform/ui/message_box.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int devnull = [] {
        kavro::ui::set_message_box_presenter([](const std::string&, const std::string&, unsigned) { return 1; });
        return open("/dev/null", O_WRONLY | O_CLOEXEC);
    }();
    std::FILE* f = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!f) return 0;
    image_ppm ppm;
    // The reader's message on every refused header would flood the log: standard error goes to /dev/null for
    // the read alone, so the fuzzer's own reports and the checks below stay visible.
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(devnull, 2);
    const bool ok = ppm.read(f, "fuzz");
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::fclose(f);
    if (ok != !ppm.empty()) __builtin_trap();
    if (ok) {
        if (std::size_t(ppm.width()) * ppm.height() * 3 > size) __builtin_trap(); // more pixels than bytes read
        static std::vector<std::uint8_t> frame(mesh::kFrameBytes);
        mesh::fit_picture(ppm.pixels(), ppm.width(), ppm.height(), frame.data());
    }
    return 0;
}

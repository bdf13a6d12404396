// A second process for the system layer's tests.
//   sys_helper hold NAME VALUE   holds the instance block, prints "ready", then "raise VALUE" per request
//   sys_helper connected         prints 1 or 0 for the connected-state query
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "platform/sys/instance.h"
#include "platform/sys/system.h"

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "hold") == 0) {
        auto block = kavro::sys::InstanceBlock::create(argv[2], [](std::uint32_t v) {
            std::printf("raise %u\n", v);
            std::fflush(stdout);
        });
        if (!block) {
            std::printf("taken\n");
            return 1;
        }
        block->store(std::uint32_t(std::strtoul(argv[3], nullptr, 10)));
        std::printf("ready\n");
        std::fflush(stdout);
        for (;;) pause();
    }
    if (argc == 2 && std::strcmp(argv[1], "connected") == 0) {
        std::printf("%d\n", kavro::sys::connected_state() ? 1 : 0);
        return 0;
    }
    std::fprintf(stderr, "usage: sys_helper hold NAME VALUE | connected\n");
    return 2;
}

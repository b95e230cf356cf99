#include <cstdio>

#include "app/cli_verbs.h"

namespace tarpo::app {

int cli_rx(int, char**) {
    std::fprintf(stderr, "tarpo-cli rx: not available in this build\n");
    return 2;
}

}  // namespace tarpo::app

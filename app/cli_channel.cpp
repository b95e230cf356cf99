#include <cstdio>

#include "app/cli_verbs.h"

namespace tarpo::app {

int cli_channel(int, char**) {
    std::fprintf(stderr, "tarpo-cli channel: not available in this build\n");
    return 2;
}

}  // namespace tarpo::app

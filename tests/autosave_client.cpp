// SPDX-License-Identifier: MIT
// The client of the autosave kill test: see testsupport/AutosaveClient.h.
#include "AutosaveClient.h"

#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "client") != 0) {
        std::fprintf(stderr, "usage: autosave_client client STATE_DIR DELAY_MS PERIOD_MS SECONDS\n");
        return 2;
    }
    return AutosaveClient::run(argc - 2, argv + 2);
}

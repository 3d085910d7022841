#include <cstdio>
#include <cstring>

#include "engine/run_options.h"

int main(int argc, char* argv[])
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("velmora-cli %s\n", engine::ProgramVersion);
        return 0;
    }
    std::fprintf(stderr, "usage: velmora-cli --version\n");
    return 2;
}

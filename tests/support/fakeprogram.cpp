// A stand-in for a published Tovrel in the update tests: a program for this machine that answers
// --version with the version it was built with, and does nothing else.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0)
        std::printf("Tovrel %s\n", TOVREL_FAKE_VERSION);
    return 0;
}

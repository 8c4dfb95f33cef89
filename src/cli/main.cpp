// trawler-cli: the acquisition and the package reader without windows.
#include <cstdio>

int main(int argc, char** argv) {
    std::fprintf(stderr, "usage: trawler-cli printers|collect|inspect|extract ...\n");
    return 2;
}

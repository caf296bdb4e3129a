#include "dump/fontdump.h"

int main(int argc, char** argv) {
    return fontdump::run_fontdump(argc, argv);
}

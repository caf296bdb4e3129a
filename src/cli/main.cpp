#include "cli/settings.h"

int main(int argc, char** argv) {
    return sheetcut::run_sheetcut(argc, argv);
}

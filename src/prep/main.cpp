#include "prep/sheetprep.h"

int main(int argc, char** argv) {
    return sheetcut::run_sheetprep(argc, argv);
}

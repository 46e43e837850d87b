#include "app/CommandLine.h"

int main(int argc, char* argv[]) {
    return corvinelMain(argc, argv);
}

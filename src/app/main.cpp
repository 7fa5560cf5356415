#include "app/AppMain.h"

int main(int argc, char** argv) {
    return orvan::runApplication(argc, argv);
}

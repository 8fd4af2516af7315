#include "values.h"

int main(int argc, char **argv) {
    return values_main(argc, argv);
}

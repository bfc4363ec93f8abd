#include "StartUp.h"

int main(int argc, char** argv) {
    return tarnel::RunDesktop(argc, argv);
}

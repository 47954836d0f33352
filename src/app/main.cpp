#include "app/run_driver.h"

int main(int argc, char** argv) { return lw::RunMover(argc, argv); }

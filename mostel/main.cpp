// mostel: enlarges a PNG three times with the edge-rule scaler.
#include "driver.h"

int main(int argc, char** argv) { return mostel::RunMostel(argc, argv); }

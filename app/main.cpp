#include "app/run.h"

int main(int argc, char** argv) {
  return murve::run_murvecolor(argc, argv);
}

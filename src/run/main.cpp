// mps1d: Maxwell-pseudospin solver in 1D+time.  Takes no arguments; the run
// is described by "execdata.txt" in the working folder.
#include <cstring>
#include <iostream>

#include "run/readgeom.hpp"

#ifndef MPS_VERSION
#define MPS_VERSION "unknown"
#endif

int main(int argc, char** argv) {
  if (argc > 1) {
    if (std::strcmp(argv[1], "--version") == 0) {
      std::cout << "mps1d " << MPS_VERSION << '\n';
      return 0;
    }
    std::cerr << "usage: mps1d   (no arguments; the run is described by execdata.txt "
                 "in the working folder)\n";
    return std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
  }
  mps::Console console{std::cin, std::cout, std::cerr};
  return mps::run_program(console);
}

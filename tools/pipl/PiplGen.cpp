// pipl-gen KEY OUT.pipl OUT.rc: writes the PiPL bytes and a resource script
// that embeds them as resource type PIPL, id 16000.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

#include "tools/pipl/Pipl.h"

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "wx86") != 0 && std::strcmp(argv[1], "8664") != 0)) {
    std::cerr << "usage: pipl-gen wx86|8664 OUT.pipl OUT.rc\n";
    return 2;
  }
  const std::vector<uint8_t> bytes = pipl::BuildEffectPipl(argv[1]);
  std::ofstream bin(argv[2], std::ios::binary);
  bin.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  std::ofstream rc(argv[3]);
  rc << EffectIdentity::kPiPLResourceId << " PIPL \"" << argv[2] << "\"\n";
  if (!bin || !rc) {
    std::cerr << "pipl-gen: cannot write output\n";
    return 1;
  }
  return 0;
}

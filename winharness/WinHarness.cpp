// winharness MODULE OUTDIR: loads an effect module as a Windows host does
// (LoadLibrary, then GetProcAddress of `main`), runs the fixed session on it
// and writes OUTDIR/session.txt plus one OUTDIR/<case>.raw per render. It
// judges nothing itself: the Linux tests compare its files with the Linux
// module's output.
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

#include "softhost/SoftHost.h"
#include "winharness/Session.h"

namespace {

bool WriteFile(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: winharness MODULE OUTDIR\n";
    return 2;
  }
  const std::string dir = argv[2];
  try {
    softhost::EffectModule module(argv[1]);
    bool written = true;
    const std::string log =
        winharness::RunSession(module.Entry(), [&](const winharness::Case& c, const auto& raw) {
          written = WriteFile(dir + "/" + c.name + ".raw", raw.data(), raw.size()) && written;
        });
    written = WriteFile(dir + "/session.txt", log.data(), log.size()) && written;
    std::cout << log;
    if (!written) {
      std::cerr << "winharness: cannot write into " << dir << "\n";
      return 1;
    }
  } catch (const std::exception& e) {
    std::cerr << "winharness: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

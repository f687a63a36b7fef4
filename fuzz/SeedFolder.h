#pragma once

// For the seed programs: "NAME_seeds OUTDIR" writes its files into OUTDIR.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace lanewright::fuzz {

class SeedFolder {
 public:
  SeedFolder(int argc, char** argv) {
    if (argc != 2) {
      std::fprintf(stderr, "usage: %s OUTDIR\n", argc > 0 ? argv[0] : "seeds");
      std::exit(64);
    }
    dir_ = argv[1];
    std::filesystem::create_directories(dir_);
  }

  std::string Path(std::string_view name) const { return (dir_ / name).string(); }

  void Write(std::string_view name, std::string_view bytes) const {
    std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
      std::fprintf(stderr, "cannot write %s\n", Path(name).c_str());
      std::exit(1);
    }
  }

 private:
  std::filesystem::path dir_;
};

}  // namespace lanewright::fuzz

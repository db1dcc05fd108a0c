// Packs an image file into the fuzzers' sparse input form:
//   pack_seed IMAGE FLAGS OUT
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "sparse_image.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: pack_seed IMAGE FLAGS OUT\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const std::vector<uint8_t> image{std::istreambuf_iterator<char>(in), {}};
  const auto packed = PackImage(image, static_cast<uint8_t>(std::atoi(argv[2])));
  std::ofstream out(argv[3], std::ios::binary);
  out.write(reinterpret_cast<const char*>(packed.data()), static_cast<std::streamsize>(packed.size()));
  return out ? 0 : 1;
}

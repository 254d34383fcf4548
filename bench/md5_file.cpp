// Prints the MD5 digest of a file the way the update tool digests a detail file:
// read in 1 MB blocks, fed to the digest piece by piece. Usage: ost-md5 FILE
#include <cstdio>
#include <vector>

#include "util/md5.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ost-md5 FILE\n");
    return 64;
  }
  FILE* file = std::fopen(argv[1], "rb");
  if (!file) {
    std::perror(argv[1]);
    return 1;
  }
  ost::Md5Context context;
  ost::Md5Init(&context);
  std::vector<unsigned char> block(1 << 20);
  size_t n;
  while ((n = std::fread(block.data(), 1, block.size(), file)) > 0) {
    ost::Md5Update(&context, block.data(), n);
  }
  std::fclose(file);
  ost::Md5Final(&context);
  for (unsigned char byte : context.digest) std::printf("%02x", byte);
  std::printf("  %s\n", argv[1]);
  return 0;
}

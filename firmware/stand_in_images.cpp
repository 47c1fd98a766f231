// Writes deterministic stand-ins for the six firmware images (129.bin ...) into a folder, for
// builds without the product's images. Each byte is a hash of the image id and its offset, so a
// byte sent to the wrong address never matches by chance, and every machine builds the same
// bytes. A few bytes follow the real images' shape: 129 and 142 share their first 57 bytes,
// 136 begins 55 AA, 139 is erased flash (FF) but for two texts near its end, and 142 ends with
// its version "1.10".
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "firmware/firmware_images.h"
#include "firmware/pseudo_random.h"

namespace {

// Eight bytes per hash of (seed, offset / 8).
void FillPseudoRandom(std::vector<uint8_t>& bytes, uint32_t seed) {
  q9m::firmware::FillPseudoRandom(bytes.data(), bytes.size(), uint64_t{seed} << 40);
}

void Put(std::vector<uint8_t>& bytes, size_t offset, const char* text) {
  std::memcpy(bytes.data() + offset, text, std::strlen(text));
}

std::vector<uint8_t> StandIn(uint32_t id, size_t length) {
  std::vector<uint8_t> bytes(length);
  constexpr size_t kSharedHeader = 57;  // 129 and 142 start alike
  if (id == 139) {
    std::fill(bytes.begin(), bytes.end(), 0xFF);
    Put(bytes, 4064, "1.10");
    Put(bytes, 4080, "Q9m stand-in 139");
    return bytes;
  }
  FillPseudoRandom(bytes, id);
  if (id == 129 || id == 142) {
    std::vector<uint8_t> header(kSharedHeader);
    FillPseudoRandom(header, 1);
    std::copy(header.begin(), header.end(), bytes.begin());
  }
  if (id == 136) {
    bytes[0] = 0x55;
    bytes[1] = 0xAA;
  }
  if (id == 142) Put(bytes, length - 4, "1.10");
  return bytes;
}

bool WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  // Written beside the target and renamed, so an interrupted run leaves no short image.
  const std::filesystem::path partial = path.string() + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) return false;
  }
  std::error_code error;
  std::filesystem::rename(partial, path, error);
  return !error;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    std::fprintf(stderr, "cannot create %s: %s\n", folder.c_str(), error.message().c_str());
    return 1;
  }
  for (const auto& info : q9m::firmware::kImageTable) {
    const auto path = folder / (std::to_string(info.id) + ".bin");
    if (!WriteFile(path, StandIn(info.id, info.length))) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}

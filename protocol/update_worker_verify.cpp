// The worker's read-back verification: every range the run wrote is read back in pieces and
// compared with its image; a 4 KiB sector that differs is erased and written once more, and a
// second difference is an error that names the address.
#include <algorithm>
#include <cstdio>

#include "protocol/read_back_verify.h"
#include "protocol/string_table.h"
#include "protocol/update_worker.h"

namespace q9m::protocol {

namespace {

std::string Printf(const char* format, auto... values) {
  char text[200];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

}  // namespace

int UpdateWorker::RunVerify() {
  uint64_t total = 0;
  for (const WrittenRange& range : written_) total += range.length;
  ShowActivity(IDS_VERIFYING);
  ShowProgressRange(static_cast<int>(total));
  ShowProgress(0);

  std::vector<uint8_t> piece(kVerifyReadLength);
  std::vector<SectorMismatch> mismatches;
  uint64_t done = 0;
  for (const WrittenRange& range : written_) {
    for (uint32_t offset = 0; offset < range.length;) {
      const uint32_t n = std::min(kVerifyReadLength, range.length - offset);
      if (!ReadBack(range.address + offset, n, piece.data())) return -1;
      CollectMismatchedSectors(range.address + offset, piece.data(), range.bytes + offset, n,
                               kSectorSize, mismatches);
      offset += n;
      done += n;
      ShowProgress(static_cast<int>(done));
    }
  }
  for (const SectorMismatch& mismatch : mismatches) {
    if (RepairSector(mismatch.sector, mismatch.firstAddress) != 0) return -1;
  }
  return 0;
}

bool UpdateWorker::ReadBack(uint32_t address, uint32_t length, uint8_t* into) {
  ReadBackBuffer& readBack = context_.device.readBack;
  // An answer that arrives but fails its check, or holds another count, was hurt on the way
  // (a lossy link drops a byte now and then): a read changes nothing, so it is asked again,
  // as often as a block is sent. No answer at all is the device gone: that ends at once.
  for (int send = 1;; ++send) {
    readBack.Reset();
    context_.sender.SendReadRequest(address, length);
    switch (WaitForReply(kReadReplyTimeoutMs)) {
      case Reply::Closing:
        return false;
      case Reply::TimedOut:
        ReportErrorAt(
            IDS_TIMEOUT_1, address,
            Printf("verifying: no answer to the read of %u bytes at 0x%06X", length, address));
        return false;
      case Reply::Signalled:
        break;
    }
    std::string problem;
    const size_t count = readBack.Count();
    if (Status() != kStatusSuccess) {
      problem = Printf("verifying: the answer to the read of %u bytes at 0x%06X failed its check",
                       length, address);
    } else if (count != length || !readBack.Read(0, into, length)) {
      // One reply answers one read, with exactly the bytes asked for.
      problem = Printf("verifying: the read of %u bytes at 0x%06X returned %zu bytes", length,
                       address, count);
    } else {
      return true;
    }
    if (send == kMaxBlockSends) {
      ReportErrorAt(IDS_TRANSFER_ERROR, address,
                    problem + Printf(", %d times in a row", kMaxBlockSends));
      return false;
    }
  }
}

bool UpdateWorker::ErasedThisRun(uint32_t address, uint32_t length) const {
  return std::any_of(erased_.begin(), erased_.end(), [&](const auto& range) {
    return range.first <= address &&
           uint64_t{address} + length <= uint64_t{range.first} + range.second;
  });
}

int UpdateWorker::RepairSector(uint32_t sector, uint32_t firstDifference) {
  // Erasing a sector that holds bytes this run did not put there would lose them.
  if (!ErasedThisRun(sector, kSectorSize)) {
    ReportErrorAt(IDS_TRANSFER_ERROR, firstDifference,
                  Printf("verifying: the flash at 0x%06X differs from the image, and its sector "
                         "holds bytes this update did not erase",
                         firstDifference));
    return -1;
  }
  // The parts of the written ranges that lie in the sector.
  struct Part {
    uint32_t address;
    uint32_t length;
    const uint8_t* bytes;
  };
  std::vector<Part> parts;
  for (const WrittenRange& range : written_) {
    const uint64_t begin = std::max<uint64_t>(sector, range.address);
    const uint64_t end =
        std::min<uint64_t>(uint64_t{sector} + kSectorSize, uint64_t{range.address} + range.length);
    if (begin >= end) continue;
    parts.push_back({static_cast<uint32_t>(begin), static_cast<uint32_t>(end - begin),
                     range.bytes + (begin - range.address)});
  }

  quiet_ = true;
  int result = RunEraseStep(sector, kSectorSize);
  for (const Part& part : parts) {
    if (result == 0) result = WriteBlocks(part.address, part.bytes, part.length);
  }
  quiet_ = false;
  if (result != 0) return -1;

  std::vector<uint8_t> found(kSectorSize);
  for (const Part& part : parts) {
    if (!ReadBack(part.address, part.length, found.data())) return -1;
    if (const auto differ = FirstDifference(part.address, found.data(), part.bytes, part.length)) {
      const uint32_t at = *differ - part.address;
      ReportErrorAt(IDS_TRANSFER_ERROR, *differ,
                    Printf("verifying: the flash at 0x%06X holds %02X where the image has %02X, "
                           "also after its sector was erased and written again",
                           *differ, found[at], part.bytes[at]));
      return -1;
    }
  }
  return 0;
}

}  // namespace q9m::protocol

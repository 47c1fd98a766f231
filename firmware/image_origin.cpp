#include "firmware/image_origin.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "firmware/firmware_images.h"
#include "firmware/flash_plan.h"

namespace q9m::firmware {

bool CarriesStandInImages() {
#ifdef Q9M_STAND_IN_IMAGES
  return true;
#else
  return false;
#endif
}

std::string ImageVersionText() {
  const auto image = FindImage(kVersionImageId);
  if (!image || image->length < kVersionImageOffset + kVersionLength) return "unknown";
  const uint8_t* version = image->bytes + kVersionImageOffset;
  std::string text(reinterpret_cast<const char*>(version), kVersionLength);
  bool printable = true;
  for (const uint8_t byte : text) printable = printable && byte >= 0x20 && byte < 0x7F;
  if (printable) return text;
  char hex[3 * kVersionLength] = {};
  for (uint32_t i = 0; i < kVersionLength; ++i) {
    std::snprintf(hex + 3 * i, sizeof hex - 3 * i, i + 1 < kVersionLength ? "%02X " : "%02X",
                  version[i]);
  }
  return hex;
}

std::string ImageOriginText() {
  if (!CarriesStandInImages()) return "Firmware " + ImageVersionText();
  return "Stand-in firmware " + ImageVersionText() + ": simulated device only";
}

bool UpdatesAllowed() {
  if (!CarriesStandInImages()) return true;
  const char* allow = std::getenv(kAllowStandInImagesVariable);
  return allow != nullptr && std::strcmp(allow, "1") == 0;
}

std::string StandInRefusalText() {
  return "This build carries stand-in firmware images, not the product's: writing them would "
         "leave a real device unable to start. Nothing was sent. To update the simulated "
         "device, set " +
         std::string(kAllowStandInImagesVariable) + "=1.";
}

}  // namespace q9m::firmware

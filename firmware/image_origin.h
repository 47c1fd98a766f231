// Which firmware images this build carries. A build made without the product's images embeds
// pseudo-random stand-ins of the same lengths, good for the simulated device only: written to
// a real device they would leave it unable to start. Such a build says so wherever the program
// names itself, and erases nothing unless the person running it asked for exactly that.
#pragma once

#include <string>

namespace q9m::firmware {

// The environment variable that lets a stand-in build update a device: "1" allows it.
inline constexpr const char* kAllowStandInImagesVariable = "Q9M_ALLOW_STAND_IN_IMAGES";

// True when the build generated stand-ins (no folder with the product's images was given).
bool CarriesStandInImages();

// The version that image 142 carries in its last four bytes, as text ("1.10"), or those bytes
// in hexadecimal when they are not printable.
std::string ImageVersionText();

// One line naming the images, for the About box, the console's first line and --version:
// "Firmware 1.10", or "Stand-in firmware 1.10: simulated device only".
std::string ImageOriginText();

// Whether an update may erase and write a device. Always true with the product's images (the
// environment is not read); with stand-ins only when the variable above is exactly "1".
bool UpdatesAllowed();

// Why an update was refused: what the build carries and how to allow it on purpose.
std::string StandInRefusalText();

}  // namespace q9m::firmware

// The simulated device's report as text for a person and as JSON for scripts.
#pragma once

#include <string>

#include "devsim/simulated_device.h"

namespace q9m::devsim {

std::string ReportText(const DeviceReport& report);
std::string ReportJson(const DeviceReport& report);
// A JSON string literal, quotes included.
std::string JsonString(const std::string& text);

}  // namespace q9m::devsim

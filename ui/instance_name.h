// The name of a running copy: its window title, and the name that holds its instance number.
#pragma once

#include <string>

namespace q9m::ui {

// The program's name as the About box shows it, whatever the instance number.
inline constexpr const char* kProgramTitle = "Vela Q9m System v2.00 Updater";

// "Vela Q9m System v2.00 Updater" for instance 1, "... Updater (n)" from 2 on.
std::string InstanceName(int instanceNumber);

}  // namespace q9m::ui

// Which port a list preselects: the last one whose name equals one of the preferred names,
// exactly (byte for byte, case-sensitive, nothing trimmed). From instance 2 on, the preferred
// names end in a blank and the instance number in parentheses.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace q9m::ui {

// The preferred names as this platform's MIDI service spells them (UTF-8): the Japanese
// name that the same device reports on a Japanese system, then the English ones.
inline constexpr std::array<const char*, 3> PreferredPortNames = {
    "USB \xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xAA "
    "\xE3\x83\x87\xE3\x83\x90\xE3\x82\xA4\xE3\x82\xB9",  // USB オーディオ デバイス
    "USB Audio Device",
    "VELA T Series",
};

// The three candidates for instance `instanceNumber` (1 to 20).
std::array<std::string, 3> PortNameCandidates(int instanceNumber);

// The index to select in a list of `names`, or -1 for none.
int PreselectPort(const std::vector<std::string>& names, int instanceNumber);

// The index of the last port named exactly `wanted`, or -1.
int FindPort(const std::vector<std::string>& names, const std::string& wanted);

// A list that shows `shown` with item `selected` (or -1) selected, when the ports listed now
// are `now`: nothing when they are the same, else the item to select among them. The port
// selected before keeps its selection while it is still listed; otherwise the one that
// PreselectPort selects is.
std::optional<int> FollowedSelection(const std::vector<std::string>& shown, int selected,
                                     const std::vector<std::string>& now, int instanceNumber);

// The MIDI OUT and MIDI IN ports' names in port order, as the port lists show them.
std::vector<std::string> MidiOutNames();
std::vector<std::string> MidiInNames();

// What the platform says about the chosen ports before an update (a bridge known to cut long
// messages), one sentence per port that has a warning; empty when neither has one.
std::string PortRouteWarning(int outIndex, int inIndex);
// The question that follows such a warning, before anything is sent.
inline constexpr const char* kBridgedPortsQuestion = "Update over these ports all the same?";

}  // namespace q9m::ui

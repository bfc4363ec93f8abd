// The output profile catalogue: six groups of profiles, each profile known by its code
// (group × 100 + position), and the entries of the drop-down catalogue list with their
// expand and collapse rules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnel {

class TMainSettings;

inline constexpr int kCatalogueGroups = 7;
// The caption table has room for 51 groups of 51 positions; an empty caption is no profile.
inline constexpr int kCaptionTableSize = 51;

// The caption of group `group` (empty outside 0..5).
const std::string& GroupCaption(int group);
// The caption of a profile, or an empty string when the table holds none there.
const std::string& ProfileCaption(int group, int position);
const std::string& ProfileCaptionOfCode(int32_t code);
// Every profile code in catalogue order.
std::vector<int32_t> ProfileCodes();
// The INI section of a profile in both files: "formatInfo" + code.
std::string ProfileSection(int32_t code);

// One entry of a catalogue list.
struct TItemInfo {
    bool IsProfile = false;
    bool IsGroup = false;
    std::string
        GroupName; // informational: "Apple iPod", "Apple iPhone", "Apple TV" on the first three headers
    bool Collapsed = false;
    int32_t Code = 0; // header: the group number; profile: the profile code

    std::string Caption() const;
};

// The entries of a freshly filled catalogue list: each header, followed by its profiles when the
// settings show the group expanded.
std::vector<TItemInfo> FillCatalogue(TMainSettings& settings);
// The profile entries of a group, in position order.
std::vector<TItemInfo> GroupProfiles(int group);
// Expands or collapses the header at `index`; returns false when the entry is no header.
bool ToggleGroup(std::vector<TItemInfo>& entries, size_t index);
// The index of the entry whose caption equals `caption` without surrounding blanks; -1 for none.
int FindCatalogueEntry(const std::vector<TItemInfo>& entries, const std::string& caption);
// Writes each header's collapsed state to the settings' "lstformat" section.
void SaveGroupStates(const std::vector<TItemInfo>& entries, TMainSettings& settings);

} // namespace tarnel

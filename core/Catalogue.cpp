#include "Catalogue.h"

#include "IniFile.h"
#include "MainSettings.h"

#include <array>

namespace tarnel {

namespace {

// Captions are stored keys in the settings files: their spelling stays as it is.
const std::array<std::string, kCatalogueGroups> kGroupCaptions = {"Apple iPod",
                                                                  "Apple iPhone",
                                                                  "Apple TV",
                                                                  "Quick Time Video - MOV",
                                                                  "General Video formates",
                                                                  "General Audio formates",
                                                                  "Modern formats"};

const std::array<std::string, 3> kGroupNames = {"Apple iPod", "Apple iPhone", "Apple TV"};

const std::vector<std::vector<std::string>> kProfileCaptions = {
    {"iPod Video MPEG-4 (*.mp4)", "iPod Video H.264 (*.mp4)", "iPod MPEG-4 Excellent (320 x 240)(*.mp4)",
     "iPod MPEG-4 Normal (320 x 240)(*.mp4)", "iPod MPEG-4 Mini (320 x 240)(*.mp4)",
     "iPod Touch MPEG-4 Excellent (*.mp4)", "iPod Touch MPEG-4 (480 x 320) (*.mp4)",
     "iPod Touch MPEG-4 (320 x 240) (*.mp4)", "iPod Touch MPEG-4 Wide Screen (*.mp4)"},
    {"iPhone MPEG-4 Extra Video (*.mp4)", "iPhone MPEG-4 Wide Screen (*.mp4)", "iPhone MPEG-4 Movie (*.mp4)",
     "iPhone Movie for 480p TV Out (*.mp4)", "iPhone Movie for 576p TV Out (*.mp4)"},
    {"Apple TV (640 x 480) MPEG-4 Excellent (*.mp4)", "Apple TV (640 x 480) MPEG-4 Normal (*.mp4)",
     "Apple TV (640 x 480) MPEG-4 Mini (*.mp4)", "Apple H.264 (320 x 240) (*.mp4)",
     "Apple H.264 480P (640 x 480) (*.mp4)", "Apple H.264 720p (1280 x 720) (*.mp4)"},
    {"MOV - Quick Time Video (*.mov)"},
    {"MPEG-1 Video (*.mpg)", "MPEG-2 Video (*.mpg)", "MPEG-4 Video (*.mp4)", "H.264/MPEG-4 AVC Video (*.mp4)",
     "AVI Video (*.avi)", "WMV Video (*.wmv)", "Divx Video (*.avi)", "Xvid Video (*.avi)",
     "DV - NTSC -Digital Video Format (*.dv)", "DV - PAL -Digital Video Format (*.dv)"},
    {"MP3 MPEG Layer-3 Audio (*.mp3)", "AAC Advenced Audio Codec (*.aac)", "M4A MPEG-4 Audio (*.m4a)",
     "WMA - Windows Meida Audio (*.wma)", "WAV - Waveform Audio (*.wav)", "OGG Vorbis Audio Codec (*.ogg)",
     "AC-3 Audio Codec (*.ac3)"},
    {"H.265/HEVC Video (*.mp4)", "VP9 Video (*.webm)", "AV1 Video (*.mkv)", "AV1 Video (*.webm)",
     "Opus Audio (*.opus)", "FLAC Audio (*.flac)"},
};

const std::string kNone;

} // namespace

const std::string& GroupCaption(int group) {
    return group >= 0 && group < kCatalogueGroups ? kGroupCaptions[group] : kNone;
}

const std::string& ProfileCaption(int group, int position) {
    if (group < 0 || group >= static_cast<int>(kProfileCaptions.size()) || position < 0)
        return kNone;
    const auto& captions = kProfileCaptions[group];
    return position < static_cast<int>(captions.size()) ? captions[position] : kNone;
}

const std::string& ProfileCaptionOfCode(int32_t code) {
    return code < 0 ? kNone : ProfileCaption(code / 100, code % 100);
}

std::vector<int32_t> ProfileCodes() {
    std::vector<int32_t> codes;
    for (int group = 0; group < kCaptionTableSize; ++group)
        for (int position = 0; position < kCaptionTableSize; ++position)
            if (!ProfileCaption(group, position).empty())
                codes.push_back(group * 100 + position);
    return codes;
}

std::string ProfileSection(int32_t code) {
    return "formatInfo" + std::to_string(code);
}

std::string TItemInfo::Caption() const {
    return IsGroup ? GroupCaption(Code) : ProfileCaptionOfCode(Code);
}

std::vector<TItemInfo> GroupProfiles(int group) {
    std::vector<TItemInfo> profiles;
    for (int position = 0; position < kCaptionTableSize; ++position)
        if (!ProfileCaption(group, position).empty())
            profiles.push_back({.IsProfile = true, .Code = group * 100 + position});
    return profiles;
}

std::vector<TItemInfo> FillCatalogue(TMainSettings& settings) {
    std::vector<TItemInfo> entries;
    for (int group = 0; group < kCatalogueGroups; ++group) {
        TItemInfo header{.IsGroup = true, .Collapsed = settings.GroupCollapsed(group), .Code = group};
        if (group < static_cast<int>(kGroupNames.size()))
            header.GroupName = kGroupNames[group];
        entries.push_back(header);
        if (!header.Collapsed)
            for (const TItemInfo& profile : GroupProfiles(group))
                entries.push_back(profile);
    }
    return entries;
}

bool ToggleGroup(std::vector<TItemInfo>& entries, size_t index) {
    if (index >= entries.size() || !entries[index].IsGroup)
        return false;
    TItemInfo& header = entries[index];
    const auto next = entries.begin() + static_cast<std::ptrdiff_t>(index) + 1;
    if (header.Collapsed) {
        const std::vector<TItemInfo> profiles = GroupProfiles(header.Code);
        header.Collapsed = false;
        entries.insert(next, profiles.begin(), profiles.end());
    } else {
        header.Collapsed = true;
        auto end = next;
        while (end != entries.end() && end->IsProfile)
            ++end;
        entries.erase(next, end);
    }
    return true;
}

int FindCatalogueEntry(const std::vector<TItemInfo>& entries, const std::string& caption) {
    const std::string wanted = Trim(caption);
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].Caption() == wanted)
            return static_cast<int>(i);
    return -1;
}

void SaveGroupStates(const std::vector<TItemInfo>& entries, TMainSettings& settings) {
    for (const TItemInfo& entry : entries)
        if (entry.IsGroup)
            settings.SetGroupCollapsed(entry.Code, entry.Collapsed);
}

} // namespace tarnel

#include "MainSettings.h"

#include "Catalogue.h"
#include "GlobalObject.h"
#include "converter/LoudnessMeter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace tarnel {

TMainSettings::TMainSettings(const std::string& fileName)
    : ini_(fileName) {}

std::string TMainSettings::OutputFolder() {
    if (!outputOverride_.empty())
        return outputOverride_;
    return ini_.ReadString(kSettingsSection, "OutPutDir", TGlobalObject::DefaultOutputFolder());
}

bool TMainSettings::SetOutputFolder(const std::string& folder) {
    if (!outputOverride_.empty()) {
        outputOverride_ = folder;
        return true;
    }
    return ini_.WriteString(kSettingsSection, "OutPutDir", folder);
}

std::string TMainSettings::SnapshotFolder() {
    return ini_.ReadString(kSettingsSection, "SnapOutPutDir", TGlobalObject::DefaultOutputFolder());
}

// The preferences dialog writes this key as "snapOutPutDir"; keys are matched without regard to case.
bool TMainSettings::SetSnapshotFolder(const std::string& folder) {
    return ini_.WriteString(kSettingsSection, "snapOutPutDir", folder);
}

int32_t TMainSettings::Volume() {
    return ini_.ReadInteger(kSettingsSection, "volume", kDefaultVolume);
}

int32_t TMainSettings::VolumeShown() {
    const int32_t volume = Volume();
    return volume < 0 || volume > 128 ? 64 : volume;
}

bool TMainSettings::SetVolume(int32_t volume) {
    return ini_.WriteInteger(kSettingsSection, "volume", volume);
}

bool TMainSettings::Mute() {
    return ini_.ReadInteger(kSettingsSection, "mute", 0) == 1;
}

bool TMainSettings::SetMute(bool muted) {
    return ini_.WriteInteger(kSettingsSection, "mute", muted ? 1 : 0);
}

std::string TMainSettings::FormatName() {
    return ini_.ReadString(kSettingsSection, "FormatName", kDefaultFormatName);
}

int32_t TMainSettings::FormatCode() {
    return ini_.ReadInteger(kSettingsSection, "FormatCode", kDefaultFormatCode);
}

bool TMainSettings::SetFormat(const std::string& caption, int32_t code) {
    const bool nameWritten = ini_.WriteString(kSettingsSection, "FormatName", caption);
    return ini_.WriteString(kSettingsSection, "FormatCode", std::to_string(code)) && nameWritten;
}

bool TMainSettings::SnapFullSize() {
    return ini_.ReadInteger(kSettingsSection, "snapFullSize", 1) == 1;
}

bool TMainSettings::SnapSmallSize() {
    return ini_.ReadInteger(kSettingsSection, "snapSmallSize", 1) == 1;
}

bool TMainSettings::SnapBmp() {
    return ini_.ReadInteger(kSettingsSection, "snapBmp", 1) == 1;
}

bool TMainSettings::SnapJpg() {
    return ini_.ReadInteger(kSettingsSection, "snapJpg", 1) == 1;
}

int32_t TMainSettings::JpegQuality() {
    return ini_.ReadInteger(kSettingsSection, "jpgCmp", 30);
}

int32_t TMainSettings::Priority() {
    return ini_.ReadInteger(kSettingsSection, "priority", 1);
}

void TMainSettings::SetSnapshotChoices(bool fullSize, bool smallSize, bool bmp, bool jpg,
                                       int32_t jpegQuality) {
    ini_.WriteInteger(kSettingsSection, "snapBmp", bmp ? 1 : 0);
    ini_.WriteInteger(kSettingsSection, "snapJpg", jpg ? 1 : 0);
    ini_.WriteInteger(kSettingsSection, "snapFullSize", fullSize ? 1 : 0);
    ini_.WriteInteger(kSettingsSection, "snapSmallSize", smallSize ? 1 : 0);
    if (jpegQuality > 0)
        ini_.WriteInteger(kSettingsSection, "jpgCmp", jpegQuality);
}

bool TMainSettings::SetPriority(int32_t priority) {
    return ini_.WriteInteger(kSettingsSection, "priority", priority);
}

int32_t TMainSettings::MaximumJobs() {
    return static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
}

int32_t TMainSettings::Jobs() {
    return std::clamp(ini_.ReadInteger(kSettingsSection, "jobs", 1), 1, MaximumJobs());
}

bool TMainSettings::SetJobs(int32_t jobs) {
    return ini_.WriteInteger(kSettingsSection, "jobs", std::clamp(jobs, 1, MaximumJobs()));
}

std::string TMainSettings::ProfileZoom(int32_t code) {
    if (!zoomOverride_.empty())
        return zoomOverride_;
    return ini_.ReadString(ProfileSection(code), "parazoom", "lbox");
}

std::string TMainSettings::AudioTracks(int32_t code) {
    if (!audioTracksOverride_.empty())
        return audioTracksOverride_;
    return ini_.ReadString(ProfileSection(code), "paraAudioTracks", "First");
}

bool TMainSettings::SetAudioTracks(int32_t code, const std::string& tracks) {
    return ini_.WriteString(ProfileSection(code), "paraAudioTracks", tracks);
}

double TMainSettings::Loudness(int32_t code) {
    if (loudnessOverride_)
        return *loudnessOverride_;
    const double lufs =
        std::strtod(ini_.ReadString(ProfileSection(code), "paraLoudness", "0").c_str(), nullptr);
    return lufs >= kLoudnessTargetLow && lufs <= kLoudnessTargetHigh ? lufs : 0;
}

bool TMainSettings::SetLoudness(int32_t code, double lufs) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", lufs);
    return ini_.WriteString(ProfileSection(code), "paraLoudness", text);
}

bool TMainSettings::MeasureQuality() {
    if (qualityOverride_)
        return *qualityOverride_;
    return ini_.ReadBool(kSettingsSection, "quality", false);
}

bool TMainSettings::SetMeasureQuality(bool measure) {
    return ini_.WriteBool(kSettingsSection, "quality", measure);
}

bool TMainSettings::GroupCollapsed(int group) {
    return ini_.ReadBool(kGroupStateSection, std::to_string(group), true);
}

bool TMainSettings::SetGroupCollapsed(int group, bool collapsed) {
    return ini_.WriteBool(kGroupStateSection, std::to_string(group), collapsed);
}

} // namespace tarnel

// The settings file tarnelmain.ini through one typed facade: section "settings" (folders, volume,
// the current profile, snapshot and priority choices) and section "lstformat" (the catalogue
// groups shown collapsed). Every call reads or writes the file at that moment.
#pragma once

#include "IniFile.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tarnel {

inline constexpr const char* kSettingsSection = "settings";
inline constexpr const char* kGroupStateSection = "lstformat";
// Shown in the profile field when no profile was ever chosen. It is no caption of the catalogue, so
// nothing is selected in the list, and the code read with it is kDefaultFormatCode.
inline constexpr const char* kDefaultFormatName = "Apple iPod Video MPEG-4 Movie (*.mp4)";
inline constexpr int kDefaultFormatCode = 1;
// The preview's volume (0..128) before one is stored: half way, so a first file is heard.
inline constexpr int32_t kDefaultVolume = 64;

class TMainSettings {
public:
    explicit TMainSettings(const std::string& fileName);

    TIniFile& File() { return ini_; }

    std::string OutputFolder();
    bool SetOutputFolder(const std::string& folder);
    // An output folder for this run only (the command line's --out): read and set in place of the
    // stored one, which stays as it is.
    void OverrideOutputFolder(const std::string& folder) { outputOverride_ = folder; }
    // The zoom of every profile for this program run only (tarnel-cli convert --zoom); not stored.
    void OverrideProfileZoom(const std::string& zoom) { zoomOverride_ = zoom; }
    // "First" or "All" for every profile, for this program run only (tarnel-cli convert
    // --audio-tracks); not stored.
    void OverrideAudioTracks(const std::string& tracks) { audioTracksOverride_ = tracks; }
    std::string SnapshotFolder();
    bool SetSnapshotFolder(const std::string& folder);

    // 0..128 as stored (kDefaultVolume when none is); VolumeShown gives 64 for any value outside
    // that range.
    int32_t Volume();
    int32_t VolumeShown();
    bool SetVolume(int32_t volume);
    bool Mute();
    bool SetMute(bool muted);

    std::string FormatName();
    int32_t FormatCode();
    bool SetFormat(const std::string& caption, int32_t code);

    bool SnapFullSize();
    bool SnapSmallSize();
    bool SnapBmp();
    bool SnapJpg();
    int32_t JpegQuality();
    int32_t Priority();
    // The preferences' choices; the quality is written only when above 0.
    void SetSnapshotChoices(bool fullSize, bool smallSize, bool bmp, bool jpg, int32_t jpegQuality);
    bool SetPriority(int32_t priority);
    // Conversions run side by side: 1 … the number of processor cores (key "jobs"), 1 by default.
    int32_t Jobs();
    bool SetJobs(int32_t jobs);
    static int32_t MaximumJobs();

    // The zoom mode of a profile's user section ("parazoom"), "lbox" when not chosen yet.
    std::string ProfileZoom(int32_t code);
    // The profile's "Audio tracks" choice: "First" (the default) or "All".
    std::string AudioTracks(int32_t code);
    bool SetAudioTracks(int32_t code, const std::string& tracks);

    // The profile's "Normalise loudness" target in LUFS ("paraLoudness"); 0 (the default) is off.
    double Loudness(int32_t code);
    bool SetLoudness(int32_t code, double lufs);
    void OverrideLoudness(double lufs) { loudnessOverride_ = lufs; }
    // Whether each finished video output's PSNR and SSIM are measured (key "quality"), off by default.
    bool MeasureQuality();
    bool SetMeasureQuality(bool measure);
    void OverrideMeasureQuality(bool measure) { qualityOverride_ = measure; }

    // True (the default) when catalogue group `group` is shown collapsed.
    bool GroupCollapsed(int group);
    bool SetGroupCollapsed(int group, bool collapsed);

private:
    TIniFile ini_;
    std::string outputOverride_;
    std::string zoomOverride_;
    std::string audioTracksOverride_;
    std::optional<double> loudnessOverride_;
    std::optional<bool> qualityOverride_;
};

} // namespace tarnel

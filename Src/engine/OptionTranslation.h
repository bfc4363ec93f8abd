// The option and encoder names of the 0.6-era vocabulary (built-in presets, profile data) mapped
// onto today's libraries: renamed encoder options, flags that became encoder options, and encoder
// names that no longer exist.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tarnel {

struct TOptionSetting {
    std::string Name;
    std::string Value;
};

// Today's settings for one option. `encoderKnows(name)` tells whether a chosen encoder has a
// private option of that name: an old flag is moved to its encoder option only then, so a flag
// that the generic flags still know stays where it is for other encoders. Names without a
// translation come back unchanged.
std::vector<TOptionSetting>
TranslateLegacyOption(const std::string& name, const std::string& value,
                      const std::function<bool(const std::string&)>& encoderKnows);

// The option names that translations produce (to check them against the encoders).
std::vector<std::string> TranslatedOptionNames();
// The old names that translations replace.
std::vector<std::string> LegacyOptionNames();

// False for an option that the old vocabulary meant for one kind of stream only while today's
// libraries flag it for more ("b" was the video bit rate; "ab" is the audio one). `typeMask` is
// AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM or AV_OPT_FLAG_SUBTITLE_PARAM (0 = any).
bool LegacyOptionAppliesTo(const std::string& name, int typeMask);

// The encoder name to use for `name`: an alias when `name` has no encoder here or only an
// experimental one and the alias exists; otherwise `name` itself. Each alias is logged once per
// process at llWarning.
std::string CurrentEncoderName(const std::string& name, const void* sender = nullptr);

} // namespace tarnel

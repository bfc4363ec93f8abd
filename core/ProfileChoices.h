// A profile's choices as the conversion reads them: the user's section "formatInfo" + code of the
// settings file, written by the settings dialog; while the user has not confirmed that dialog for
// the profile, the profile's own default entries, translated as the dialog would write them.
// Also the translation of list entries into the values written for them.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tarnel {

class TMainSettings;
class TProfileFile;

// A list key's entries: the text split at every "," (empty pieces included).
std::vector<std::string> SplitProfileList(const std::string& text);

// What the settings dialog writes for an entry; empty when the entry is none it knows.
std::string VideoEncoderValue(const std::string& entry); // compared in lower case
std::string AudioEncoderValue(const std::string& entry); // compared in lower case
std::string ChannelValue(const std::string& entry);      // exact text
// "100%" → "256": the engine's volume for a percentage entry. Throws std::invalid_argument when the
// entry without its last character is not a number; empty for numbers not in the table.
std::string VolumeValue(const std::string& entry);

class TIniFile;

// The H.264 values of a profile that the settings dialog copies into the user's section when H264
// is chosen: "paraBitExact" when it reads true, "paraMaxBitrate", "paraBufferSize", "paraLevel",
// "paraQscale", "paraGop" when above 0, "paraCoder" when 0 or more, each as read. A value that is no
// integer throws std::invalid_argument; those written before it stay written.
void CopyH264Extras(TProfileFile& profiles, int32_t code, TIniFile& userFile, const std::string& section);

class TProfileChoices {
public:
    TProfileChoices(TMainSettings& settings, TProfileFile& profiles, int32_t code);

    std::string Read(const std::string& key, const std::string& def);
    // True when the user confirmed the settings dialog for this profile.
    bool HasUserSection() const { return hasUserSection_; }
    // The "para" keys the dialog's "&Default" then "&Ok" would write for the profile.
    static std::map<std::string, std::string> DefaultChoices(TProfileFile& profiles, int32_t code);

private:
    TMainSettings& settings_;
    std::string section_;
    bool hasUserSection_ = false;
    std::map<std::string, std::string> defaults_;
};

} // namespace tarnel

// The encoder presets built into the engine: named lists of key=value lines, in the option names
// of the 0.6-era libx264 wrapper (translated when the options are set).
#pragma once

#include <string>
#include <vector>

namespace tarnel {

struct TOptionsPreset {
    std::string Name;
    std::string Content; // one "key=value" per line, each line ended by "\n"
};

// All built-in presets, in a fixed order.
const std::vector<TOptionsPreset>& BuiltinPresets();

// The preset whose name equals `name` without regard to ASCII case, or null.
const TOptionsPreset* FindBuiltinPreset(const std::string& name);

} // namespace tarnel

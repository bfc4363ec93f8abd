// The built-in presets. Most are written as their differences from one common base list; a few
// short ones are given whole.
#include "engine/BuiltinPresets.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>
#include <utility>

namespace tarnel {

namespace {

using TKeyValue = std::pair<std::string_view, std::string_view>;
using TKeyValues = std::vector<TKeyValue>;

const TKeyValues kBase = {
    {"coder", "1"},
    {"flags", "+loop"},
    {"cmp", "+chroma"},
    {"partitions", "-parti8x8-parti4x4-partp8x8-partb8x8"},
    {"me_method", "dia"},
    {"subq", "2"},
    {"me_range", "16"},
    {"g", "250"},
    {"keyint_min", "25"},
    {"sc_threshold", "40"},
    {"i_qfactor", "0.71"},
    {"b_strategy", "1"},
    {"qcomp", "0.6"},
    {"qmin", "10"},
    {"qmax", "51"},
    {"qdiff", "4"},
    {"bf", "3"},
    {"refs", "1"},
    {"directpred", "1"},
    {"trellis", "0"},
    {"flags2", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip"},
    {"wpredp", "2"},
};

// Either a whole preset (`Whole`) or the base list with `Changes` set (replacing or adding keys)
// and the `Removed` keys left out. Several names may share one content.
struct TPresetRecipe {
    std::vector<std::string_view> Names;
    bool Whole = false;
    TKeyValues Changes;
    std::vector<std::string_view> Removed;
};

const TKeyValues kPspChanges = {
    {"level", "30"},        {"partitions", "+parti4x4+parti8x8+partp8x8+partb8x8"},
    {"me_method", "umh"},   {"subq", "7"},
    {"trellis", "2"},       {"b", "1250000"},
    {"maxrate", "1500000"}, {"bufsize", "4000000"},
    {"bt", "256000"},
};

const TKeyValues kPs3Changes = {
    {"level", "30"},        {"partitions", "+parti4x4+parti8x8+partp8x8+partb8x8"},
    {"me_method", "umh"},   {"subq", "7"},
    {"trellis", "2"},       {"maxrate", "3500000"},
    {"bufsize", "4000000"}, {"bt", "256000"},
};

const std::vector<TPresetRecipe>& Recipes() {
    static const std::vector<TPresetRecipe> recipes = {
        {{"libx264-baseline"},
         true,
         {{"coder", "0"}, {"bf", "0"}, {"flags2", "-wpred-dct8x8"}, {"wpredp", "0"}},
         {}},
        {{"libx264-default"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partb8x8"},
          {"me_method", "hex"},
          {"subq", "7"},
          {"refs", "3"},
          {"trellis", "1"},
          {"flags2", "+mixed_refs+wpred+dct8x8+fastpskip"}},
         {}},
        {{"libx264-fast"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partb8x8"},
          {"me_method", "hex"},
          {"subq", "6"},
          {"refs", "2"},
          {"trellis", "1"},
          {"flags2", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip"}},
         {}},
        {{"libx264-fast_firstpass", "libx264-medium_firstpass"}, false, {}, {}},
        {{"libx264-faster"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partb8x8"},
          {"me_method", "hex"},
          {"subq", "4"},
          {"refs", "2"},
          {"trellis", "1"},
          {"flags2", "+bpyramid-mixed_refs+wpred+dct8x8+fastpskip"},
          {"wpredp", "1"}},
         {}},
        {{"libx264-faster_firstpass"}, false, {{"wpredp", "1"}}, {}},
        {{"libx264-fastfirstpass"},
         false,
         {{"partitions", "-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8"},
          {"directpred", "3"},
          {"flags2", "-bpyramid-wpred-mixed_refs-dct8x8+fastpskip"}},
         {}},
        {{"libx264-hq"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partb8x8"},
          {"me_method", "umh"},
          {"subq", "8"},
          {"b_strategy", "2"},
          {"refs", "4"},
          {"directpred", "3"},
          {"trellis", "1"},
          {"flags2", "+wpred+mixed_refs+dct8x8+fastpskip"}},
         {}},
        {{"libx264-ipod320"},
         true,
         {{"coder", "0"},
          {"bf", "0"},
          {"flags2", "-wpred-dct8x8"},
          {"level", "13"},
          {"maxrate", "768000"},
          {"bufsize", "3000000"},
          {"wpredp", "0"}},
         {}},
        {{"libx264-ipod640"},
         true,
         {{"coder", "0"},
          {"bf", "0"},
          {"refs", "1"},
          {"flags2", "-wpred-dct8x8"},
          {"level", "30"},
          {"maxrate", "10000000"},
          {"bufsize", "10000000"},
          {"wpredp", "0"}},
         {}},
        {{"libx264-lossless_fast"},
         false,
         {{"coder", "0"},
          {"partitions", "-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8"},
          {"me_method", "hex"},
          {"subq", "3"},
          {"flags2", "+fastpskip"},
          {"cqp", "0"},
          {"wpredp", "0"}},
         {"bf", "refs", "trellis"}},
        {{"libx264-lossless_max"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8"},
          {"me_method", "esa"},
          {"subq", "8"},
          {"refs", "16"},
          {"flags2", "+mixed_refs+dct8x8+fastpskip"},
          {"cqp", "0"}},
         {"bf", "trellis"}},
        {{"libx264-lossless_medium"},
         false,
         {{"partitions", "-parti8x8+parti4x4+partp8x8+partp4x4-partb8x8"},
          {"me_method", "hex"},
          {"subq", "5"},
          {"flags2", "+fastpskip"},
          {"cqp", "0"}},
         {"bf", "refs", "trellis"}},
        {{"libx264-lossless_slow"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8"},
          {"me_method", "umh"},
          {"subq", "6"},
          {"refs", "2"},
          {"flags2", "+dct8x8+fastpskip"},
          {"cqp", "0"}},
         {"bf", "trellis"}},
        {{"libx264-lossless_slower"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8"},
          {"me_method", "umh"},
          {"subq", "8"},
          {"refs", "4"},
          {"flags2", "+mixed_refs+dct8x8+fastpskip"},
          {"cqp", "0"}},
         {"bf", "trellis"}},
        {{"libx264-lossless_ultrafast"},
         false,
         {{"coder", "0"},
          {"partitions", "-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8"},
          {"subq", "0"},
          {"flags2", "+fastpskip"},
          {"cqp", "0"}},
         {"bf", "wpredp", "refs", "trellis"}},
        {{"libx264-main"}, true, {{"flags2", "-dct8x8"}}, {}},
        {{"libx264-max"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8"},
          {"me_method", "tesa"},
          {"subq", "10"},
          {"me_range", "24"},
          {"b_strategy", "2"},
          {"refs", "16"},
          {"directpred", "3"},
          {"trellis", "2"},
          {"flags2", "+wpred+mixed_refs+dct8x8-fastpskip"}},
         {}},
        {{"libx264-medium"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partb8x8"},
          {"me_method", "hex"},
          {"subq", "7"},
          {"refs", "3"},
          {"trellis", "1"},
          {"flags2", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip"}},
         {}},
        {{"libx264-normal"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partb8x8"},
          {"me_method", "hex"},
          {"subq", "6"},
          {"refs", "2"},
          {"directpred", "3"},
          {"flags2", "+wpred+dct8x8+fastpskip"}},
         {}},
        {{"libx264-placebo", "libx264-placebo_firstpass"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8"},
          {"me_method", "tesa"},
          {"subq", "10"},
          {"me_range", "24"},
          {"b_strategy", "2"},
          {"bf", "16"},
          {"refs", "16"},
          {"directpred", "3"},
          {"trellis", "2"},
          {"flags2", "+bpyramid+mixed_refs+wpred+dct8x8-fastpskip"}},
         {}},
        {{"libx264-slow"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partb8x8"},
          {"me_method", "umh"},
          {"subq", "8"},
          {"b_strategy", "2"},
          {"refs", "5"},
          {"directpred", "3"},
          {"trellis", "1"},
          {"flags2", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip"}},
         {}},
        {{"libx264-slow_firstpass", "libx264-slower_firstpass"},
         false,
         {{"b_strategy", "2"}, {"directpred", "3"}},
         {}},
        {{"libx264-slower"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8"},
          {"me_method", "umh"},
          {"subq", "9"},
          {"b_strategy", "2"},
          {"refs", "8"},
          {"directpred", "3"},
          {"trellis", "2"},
          {"flags2", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip"}},
         {}},
        {{"libx264-slowfirstpass"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partb8x8"},
          {"me_method", "hex"},
          {"subq", "6"},
          {"b_strategy", "2"},
          {"directpred", "3"},
          {"flags2", "+wpred+dct8x8+fastpskip"}},
         {}},
        {{"libx264-superfast"},
         false,
         {{"partitions", "+parti8x8+parti4x4-partp8x8-partb8x8"},
          {"subq", "1"},
          {"flags2", "+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree"},
          {"wpredp", "0"}},
         {}},
        {{"libx264-superfast_firstpass"},
         false,
         {{"subq", "1"}, {"flags2", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip-mbtree"}, {"wpredp", "0"}},
         {}},
        {{"libx264-ultrafast", "libx264-ultrafast_firstpass"},
         false,
         {{"coder", "0"},
          {"flags", "-loop"},
          {"subq", "0"},
          {"sc_threshold", "0"},
          {"b_strategy", "0"},
          {"bf", "0"},
          {"flags2", "-bpyramid-mixed_refs-wpred-dct8x8+fastpskip-mbtree"},
          {"wpredp", "0"}},
         {}},
        {{"libx264-veryfast"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partb8x8"},
          {"me_method", "hex"},
          {"flags2", "+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree"},
          {"wpredp", "0"}},
         {}},
        {{"libx264-veryfast_firstpass"},
         false,
         {{"flags2", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip-mbtree"}, {"wpredp", "0"}},
         {}},
        {{"libx264-veryslow"},
         false,
         {{"partitions", "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8"},
          {"me_method", "umh"},
          {"subq", "10"},
          {"me_range", "24"},
          {"b_strategy", "2"},
          {"bf", "8"},
          {"refs", "16"},
          {"directpred", "3"},
          {"trellis", "2"},
          {"flags2", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip"}},
         {}},
        {{"libx264-veryslow_firstpass"},
         false,
         {{"me_range", "24"}, {"b_strategy", "2"}, {"bf", "8"}, {"directpred", "3"}},
         {}},
        {{"libx264-psp", "libx264-mp4"}, false, kPspChanges, {"flags2", "wpredp"}},
        {{"libx264-ps3"}, false, kPs3Changes, {"flags2", "wpredp"}},
        {{"libx264-ipod"},
         false,
         {{"coder", "0"},
          {"level", "30"},
          {"partitions", "+parti4x4+parti8x8+partp8x8"},
          {"me_method", "umh"},
          {"subq", "7"},
          {"trellis", "2"},
          {"b", "1000000"},
          {"maxrate", "1250000"},
          {"bufsize", "4000000"},
          {"bt", "256000"}},
         {"bf", "flags2", "wpredp"}},
    };
    return recipes;
}

TKeyValues ResolveRecipe(const TPresetRecipe& recipe) {
    if (recipe.Whole)
        return recipe.Changes;
    TKeyValues lines = kBase;
    for (const auto& [key, value] : recipe.Changes) {
        auto found = std::find_if(lines.begin(), lines.end(),
                                  [&, &key = key](const TKeyValue& line) { return line.first == key; });
        if (found != lines.end())
            found->second = value;
        else
            lines.emplace_back(key, value);
    }
    std::erase_if(lines, [&](const TKeyValue& line) {
        return std::find(recipe.Removed.begin(), recipe.Removed.end(), line.first) != recipe.Removed.end();
    });
    return lines;
}

std::string ContentText(const TKeyValues& lines) {
    std::string content;
    for (const auto& [key, value] : lines) {
        content.append(key);
        content += '=';
        content.append(value);
        content += '\n';
    }
    return content;
}

std::vector<TOptionsPreset> BuildPresets() {
    std::vector<TOptionsPreset> presets;
    for (const TPresetRecipe& recipe : Recipes()) {
        const std::string content = ContentText(ResolveRecipe(recipe));
        for (std::string_view name : recipe.Names)
            presets.push_back({std::string(name), content});
    }
    return presets;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    auto lower = [](unsigned char c) {
        return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace

const std::vector<TOptionsPreset>& BuiltinPresets() {
    static const std::vector<TOptionsPreset> presets = BuildPresets();
    return presets;
}

const TOptionsPreset* FindBuiltinPreset(const std::string& name) {
    const auto& presets = BuiltinPresets();
    auto found = std::find_if(presets.begin(), presets.end(), [&](const TOptionsPreset& preset) {
        return EqualsIgnoringCase(preset.Name, name);
    });
    return found != presets.end() ? &*found : nullptr;
}

} // namespace tarnel

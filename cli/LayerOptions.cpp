#include "LayerOptions.h"

#include "core/IniFile.h"
#include "render/FrameHookRenderer.h"

#include <array>
#include <climits>
#include <map>
#include <vector>

namespace tarnel::cli {

namespace {

int32_t Integer(const std::string& key, const std::string& value) {
    int32_t number = 0;
    if (!TryStrToInt(value, number))
        throw OptionError("Invalid value \"" + value + "\" for \"" + key + "\" in --layer");
    return number;
}

bool Flag(const std::string& key, const std::string& value) {
    const std::string lower = LowerCase(value);
    if (lower == "1" || lower == "true" || lower == "yes")
        return true;
    if (lower == "0" || lower == "false" || lower == "no")
        return false;
    throw OptionError("Invalid value \"" + value + "\" for \"" + key + "\" in --layer");
}

// "#rrggbb" as the record's colour.
TColor Colour(const std::string& key, const std::string& value) {
    unsigned r = 0, g = 0, b = 0;
    char end = 0;
    if (value.size() != 7 || std::sscanf(value.c_str(), "#%2x%2x%2x%c", &r, &g, &b, &end) != 3)
        throw OptionError("Invalid colour \"" + value + "\" for \"" + key + "\" in --layer (use #rrggbb)");
    return RGBColor(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b));
}

// key=value pairs separated by ","; "\," is a comma inside a value.
std::vector<std::pair<std::string, std::string>> Pairs(const std::string& text) {
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == ',') {
            pieces.back() += ',';
            ++i;
        } else if (text[i] == ',') {
            pieces.emplace_back();
        } else {
            pieces.back() += text[i];
        }
    }
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const std::string& piece : pieces) {
        const size_t equals = piece.find('=');
        if (equals == std::string::npos || equals == 0)
            throw OptionError("Invalid --layer part \"" + piece + "\" (expected key=value)");
        pairs.emplace_back(LowerCase(Trim(piece.substr(0, equals))), piece.substr(equals + 1));
    }
    return pairs;
}

} // namespace

// Four integers separated by colons.
std::array<int32_t, 4> FourValues(const std::string& option, const std::string& text, const char* form) {
    std::array<int32_t, 4> values{};
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t colon = text.find(':', start);
        const std::string piece = text.substr(start, i < 3 ? colon - start : std::string::npos);
        if ((i < 3 && colon == std::string::npos) || !TryStrToInt(piece, values[i]))
            throw OptionError("Invalid " + option + " \"" + text + "\" (expected " + form + ")");
        start = colon + 1;
    }
    return values;
}

void ParseAdjust(const std::string& text, TlvFilesRecord& record) {
    const std::array<int32_t, 4> values =
        FourValues("--adjust", text, "BRIGHTNESS:CONTRAST:SATURATION:EXPOSURE");
    const struct {
        const char* name;
        int32_t value, low, high;
    } ranges[] = {{"brightness", values[0], 0, 512},
                  {"contrast", values[1], -100, 100},
                  {"saturation", values[2], 0, 512},
                  {"exposure", values[3], -255, 512}};
    for (const auto& range : ranges)
        if (range.value < range.low || range.value > range.high)
            throw OptionError("--adjust: " + std::string(range.name) + " " + std::to_string(range.value) +
                              " is outside " + std::to_string(range.low) + ".." + std::to_string(range.high));
    record.Brightness = values[0];
    record.Contrast = values[1];
    record.Saturation = values[2];
    record.Exposure = values[3];
}

// Made even downwards, as the crop dialog stores its crop. A crop that leaves no picture fails
// that file's conversion with the engine's message.
void ParseCrop(const std::string& text, TlvFilesRecord& record) {
    const std::array<int32_t, 4> values = FourValues("--crop", text, "TOP:BOTTOM:LEFT:RIGHT");
    for (const int32_t value : values)
        if (value < 0)
            throw OptionError("--crop: " + std::to_string(value) + " is negative");
    record.CropTop = 2 * (values[0] / 2);
    record.CropBottom = 2 * (values[1] / 2);
    record.CropLeft = 2 * (values[2] / 2);
    record.CropRight = 2 * (values[3] / 2);
}

std::unique_ptr<TWmRec> ParseLayer(const std::string& text) {
    auto layer = std::make_unique<TWmRec>();
    layer->StartSecond = 0;
    layer->EndSecond = INT32_MAX;
    bool isText = false, isImage = false, sized = false;
    int32_t width = 0, height = 0;
    for (const auto& [key, value] : Pairs(text)) {
        if (key == "text") {
            layer->Text = value;
            isText = true;
        } else if (key == "image") {
            layer->ImageFile = value;
            isImage = true;
        } else if (key == "x") {
            layer->TextLeft = layer->ImageLeft = Integer(key, value);
        } else if (key == "y") {
            layer->TextTop = layer->ImageTop = Integer(key, value);
        } else if (key == "width") {
            width = Integer(key, value);
            sized = true;
        } else if (key == "height") {
            height = Integer(key, value);
            sized = true;
        } else if (key == "font") {
            layer->Font.Name = value;
        } else if (key == "size") {
            layer->Font.Size = Integer(key, value);
        } else if (key == "bold") {
            layer->Font.Bold = Flag(key, value);
        } else if (key == "italic") {
            layer->Font.Italic = Flag(key, value);
        } else if (key == "underline") {
            layer->Font.Underline = Flag(key, value);
        } else if (key == "strike") {
            layer->Font.StrikeOut = Flag(key, value);
        } else if (key == "color") {
            layer->Font.Color = Colour(key, value);
        } else if (key == "back") {
            layer->BackColor = Colour(key, value);
            layer->BackOpaque = true;
        } else if (key == "alpha") {
            const int32_t alpha = Integer(key, value);
            if (alpha < 0 || alpha > 255)
                throw OptionError("Invalid value \"" + value + "\" for \"alpha\" in --layer (0..255)");
            layer->TextAlpha = layer->ImageAlpha = static_cast<uint32_t>(alpha);
        } else if (key == "from") {
            layer->StartSecond = Integer(key, value);
        } else if (key == "to") {
            layer->EndSecond = Integer(key, value);
        } else {
            throw OptionError("Unknown key \"" + key + "\" in --layer");
        }
    }
    if (isText == isImage)
        throw OptionError("A --layer needs either text= or image=: \"" + text + "\"");
    layer->Kind = isText ? 0 : 1;
    if (isImage) {
        layer->ImageWidth = width;
        layer->ImageHeight = height;
        return layer;
    }
    const QSize measured = TFrameHookRenderer::TextExtent(layer->Font, layer->Text);
    layer->TextWidth = sized && width > 0 ? width : measured.width();
    layer->TextHeight = sized && height > 0 ? height : measured.height();
    return layer;
}

} // namespace tarnel::cli

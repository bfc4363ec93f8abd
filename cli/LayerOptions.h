// The picture settings and watermark layers of tarnel-cli convert:
//   --adjust B:C:S:X   brightness, contrast, saturation and exposure as a file row keeps them
//   --crop T:B:L:R     source pixels cut off the top, bottom, left and right (made even)
//   --layer text=Tarnel,x=16,y=16,font=Sans,size=26,color=#ffffff,back=#000000,alpha=255,from=0,to=5
//   --layer image=logo.png,x=600,y=20,alpha=128
#pragma once

#include "core/FilesRecord.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace tarnel::cli {

// Thrown with a message that names the option, key or value refused.
class OptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void ParseAdjust(const std::string& text, TlvFilesRecord& record);
void ParseCrop(const std::string& text, TlvFilesRecord& record);
// A text layer without width and height takes the size its text measures (the font must be
// available: a QGuiApplication must exist).
std::unique_ptr<TWmRec> ParseLayer(const std::string& text);

} // namespace tarnel::cli

// The codec lookup by name, shared by inputs (decoders) and outputs (encoders).
#include "base/FFUtils.h"
#include "engine/FFmpeg.h"
#include "engine/OptionTranslation.h"

namespace tarnel {

namespace {

bool IsExperimental(const AVCodec* codec) {
    return (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) != 0;
}

const AVCodec* CodecByName(const std::string& name, bool encoder) {
    return encoder ? avcodec_find_encoder_by_name(name.c_str()) : avcodec_find_decoder_by_name(name.c_str());
}

const AVCodec* DefaultCodec(AVCodecID id, bool encoder) {
    return encoder ? avcodec_find_encoder(id) : avcodec_find_decoder(id);
}

} // namespace

bool TCustomFFmpeg::FindCodec(const std::string& name, AVMediaType type, AVCodecID& id, int strictness,
                              bool encoder, const AVCodec** found) {
    if (found)
        *found = nullptr;
    if (name.empty()) {
        id = AV_CODEC_ID_NONE;
        return true;
    }
    const char* kind = encoder ? "encoder" : "decoder";
    const AVCodec* codec = CodecByName(encoder ? CurrentEncoderName(name, this) : name, encoder);
    if (!codec) {
        lastError_ = Format("Unknown %s '%s'", kind, name.c_str());
        return false;
    }
    if (codec->type != type) {
        lastError_ = Format("Invalid %s type '%s'", kind, name.c_str());
        return false;
    }
    if (IsExperimental(codec) && strictness > FF_COMPLIANCE_EXPERIMENTAL) {
        lastError_ = Format("%s '%s' is experimental and might produce bad results.\r\n"
                            "Add '-strict experimental' if you want to use it.",
                            kind, codec->name);
        const AVCodec* other = DefaultCodec(codec->id, encoder);
        if (other && !IsExperimental(other))
            lastError_ += Format("\r\nOr use the non experimental %s '%s'.", kind, other->name);
        return false;
    }
    id = codec->id;
    if (found)
        *found = codec;
    return true;
}

} // namespace tarnel

#include "FileFilters.h"

namespace tarnel {

namespace {

// Every extension the libraries read and the program converts, video first.
const char* const kVideoPatterns =
    "*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.3G2;*.M4V;*.MP4;*.MPG;"
    "*.MPEG;*.DAT;*.OGM;*.VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;*.SWF;"
    "*.WEBM;*.OGV;*.M2TS;*.MTS;*.M2T;*.MXF;*.F4V;*.DIVX;*.XVID;*.MJPG;*.MJPEG;"
    "*.GIF;*.MPV;*.M2V;*.DV;*.Y4M;*.H264;*.264;*.HEVC;*.H265;*.265;*.IVF;*.NUT;";
const char* const kAudioPatterns =
    "*.MP3;*.AAC;*.WAV;*.WMA;*.OGG;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;"
    "*.MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;*.TTA;*.AC3;*.DTS;"
    "*.OPUS;*.OGA;*.SPX;*.AIF;*.AIFF;*.AU;*.CAF;*.EAC3;*.M4B;*.AMR;*.W64;*.RAM;";

} // namespace

const std::vector<TFileFilter>& MediaFileFilters() {
    static const std::vector<TFileFilter> filters = {
        {"All Supported Media Files", std::string(kVideoPatterns) + kAudioPatterns},
        {"All Supported Video Formats", kVideoPatterns},
        {"All Supported Audio Formats", kAudioPatterns},
        {"AVI files (*.avi)", "*.avi"},
        {"MPEG4 files (*.mp4)", "*.mp4"},
        {"MPEG files (*.mpg,*.mpeg)", "*.mpg;*.mpeg"},
        {"3GP files (*.3gp,*.3g2)", "*.3gp;*.3g2"},
        {"Itunes Video files (*.m4v)", "*.m4v"},
        {"Windows Media files (*.wmv,*.asf)", "*.wmv;*.asf"},
        {"Real Media files (*.rm,*.rmvb)", "*.rm;*.rmvb"},
        {"Video CD files (*.dat)", "*.dat"},
        {"Quick Time files (*.mov)", "*.mov"},
        {"Flash Video files (*.flv)", "*.flv"},
        {"Matroska Video files (*.mkv)", "*.mkv"},
        {"MJPEG Video files (*.mjpg,*.mjpeg)", "*.mjpg;*.mjpeg"},
        {"Animated GIF files (*.gif)", "*.gif"},
        {"H.264/MPEG4 AVC Video files (*.mts,*.m2ts)", "*.mts;*.m2ts"},
        {"DVD video object files (*.vob)", "*.vob"},
        {"MPEG-1 Video files (*.mpv)", "*.mpv"},
        {"Video Transport Stream files (*.ts)", "*.ts"},
        {"TP Video files (*.tp)", "*.tp"},
        {"Maceomeida Flash files (*.swf)", "*.swf"},
        {"MP3 Audio files (*.mp3)", "*.mp3"},
        {"Advanced Audio Coding files (*.aac)", "*.aac"},
        {"Monkey's Audio files (*.ape)", "*.ape"},
        {"Ogg Vorbis Audio files (*.ogg)", "*.ogg"},
        {"Windows Media Audio files (*.wma)", "*.wma"},
        {"MusePack Audio files (*.mpc)", "*.mpc"},
        {"MPEG Audio files (*.mpa)", "*.mpa"},
        {"MPEG-4 Audio files (*.m4a)", "*.m4a"},
        {"Matroska Audio files (*.mka)", "*.mka"},
        {"DTS Audio files (*.dts)", "*.dts"},
        {"Audio Codec 3 files (*.ac3)", "*.ac3"},
        {"Speex Audio files (*.spx)", "*.spx"},
        {"Real Audio files (*.ra,*.ram)", "*.ra;*.ram"},
        {"MPEG Layer II Compressed Audio files (*.mp2)", "*.mp2"},
        {"All files (*.*)", "*.*"},
    };
    return filters;
}

std::string MediaFileFilterString() {
    std::string text;
    for (const TFileFilter& filter : MediaFileFilters()) {
        if (!text.empty())
            text += "|";
        text += filter.Description + "|" + filter.Patterns;
    }
    return text;
}

} // namespace tarnel

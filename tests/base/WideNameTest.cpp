#include "TestSupport.h"
#include "base/LibHandles.h"
#include "base/UnicodeProtocol.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

namespace tarnel {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPrefix = "unicode:utf8:";

struct NameCase {
    const char* name;
    bool needsWide;
};

class WideNameConversion : public ::testing::TestWithParam<NameCase> {};

TEST_P(WideNameConversion, ConvertsOnlyMisreadNamesAndRoundTrips) {
    const std::string name = GetParam().name;
    EXPECT_EQ(NeedsWideName(name), GetParam().needsWide);
    const std::string libraryName = ToLibraryName(name);
    EXPECT_EQ(libraryName, GetParam().needsWide ? kPrefix + name : name);
    EXPECT_EQ(FromLibraryName(libraryName), name);
}

INSTANTIATE_TEST_SUITE_P(
    Names, WideNameConversion,
    ::testing::Values(NameCase{"/home/user/video/clip.mp4", false}, NameCase{"clip.mp4", false},
                      NameCase{"/home/user/été 日本.mp4", false}, NameCase{"a:b clip été 日本.mp4", true},
                      NameCase{"/abs/dir/x:y.mp4", false}, NameCase{"./a:b.mp4", false},
                      NameCase{"http://example.com/vidéo 日本.mp4", false},
                      NameCase{"udp://239.0.0.1:1234", false}, NameCase{"HTTP://example.com/x.mp4", true},
                      NameCase{"https://example.com/x.mp4", false},
                      NameCase{"rtmp://example.com/live/x", false}, NameCase{"srt://example.com:9000", false},
                      NameCase{"file:/tmp/x.mp4", false}, NameCase{"C:clip.avi", true},
                      NameCase{"/tmp/bad\xff\xfe.mp4", true}, NameCase{"/tmp/overlong\xc0\xaf.mp4", true},
                      NameCase{"/tmp/cut\xe6\x97.mp4", true}));

TEST(WideNameConversion, FromLibraryNameStripsOnlyACompletePrefix) {
    EXPECT_EQ(FromLibraryName("unicode:utf8:x"), "x");
    EXPECT_EQ(FromLibraryName("unicode:utf8:"), "unicode:utf8:");
    EXPECT_EQ(FromLibraryName("unicode:utf16:x"), "unicode:utf16:x");
    EXPECT_EQ(FromLibraryName("/tmp/unicode:utf8:x"), "/tmp/unicode:utf8:x");
}

TEST(WideNameConversion, PseudoUrlsPassThrough) {
    const std::string libraryName = ToLibraryName("a:b.mp4");
    EXPECT_FALSE(NeedsWideName(libraryName));
    EXPECT_EQ(ToLibraryName(libraryName), libraryName);
}

void WriteFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The pseudo-URL of an absolute path (which itself would pass unchanged: its "/" comes first).
std::string PseudoUrl(const fs::path& path) {
    return kPrefix + path.string();
}

TEST(WideNameIO, SizeQueryDoesNotMoveThePosition) {
    test::TempDir dir;
    const fs::path file = dir / "a:five.bin";
    WriteFile(file, "12345");
    AVIOContext* pb = nullptr;
    ASSERT_EQ(OpenLibraryIO(&pb, PseudoUrl(file), AVIO_FLAG_READ), 0);
    ASSERT_NE(pb, nullptr);

    EXPECT_EQ(pb->seek(pb->opaque, -1, AVSEEK_SIZE), 5);
    EXPECT_EQ(pb->seek(pb->opaque, 0, SEEK_CUR), 0);
    EXPECT_EQ(avio_size(pb), 5);
    unsigned char bytes[8] = {};
    ASSERT_EQ(avio_read(pb, bytes, sizeof bytes), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 5), "12345");
    EXPECT_EQ(avio_read(pb, bytes, sizeof bytes), AVERROR_EOF);
    EXPECT_EQ(avio_seek(pb, 1, SEEK_SET), 1);
    EXPECT_EQ(avio_r8(pb), '2');
    EXPECT_EQ(CloseLibraryIO(&pb), 0);
    EXPECT_EQ(pb, nullptr);
}

TEST(WideNameIO, MissingFileForReadingGivesNoSuchFile) {
    test::TempDir dir;
    AVIOContext* pb = nullptr;
    EXPECT_EQ(OpenLibraryIO(&pb, PseudoUrl(dir / "a:missing.mp4"), AVIO_FLAG_READ), AVERROR(ENOENT));
    EXPECT_EQ(pb, nullptr);
    AVFormatContext* context = nullptr;
    EXPECT_EQ(OpenInputContext(&context, (dir / "missing\xff.mp4").string(), nullptr, nullptr),
              AVERROR(ENOENT));
    EXPECT_EQ(context, nullptr);
}

TEST(WideNameIO, OpeningForWritingTruncates) {
    test::TempDir dir;
    const fs::path file = dir / "a:old.bin";
    WriteFile(file, "12345");
    AVIOContext* pb = nullptr;
    ASSERT_EQ(OpenLibraryIO(&pb, PseudoUrl(file), AVIO_FLAG_WRITE), 0);
    avio_write(pb, reinterpret_cast<const unsigned char*>("ab"), 2);
    EXPECT_EQ(CloseLibraryIO(&pb), 0);
    EXPECT_EQ(ReadFile(file), "ab");
}

// Names with bytes that are not UTF-8 take the pseudo-URL even as absolute paths. A failed open
// frees the byte stream inside avformat_open_input, which must not crash or leak.
TEST(WideNameIO, InputThatIsNoMediaFailsCleanly) {
    test::TempDir dir;
    const fs::path file = dir / "text\xe9.mp4";
    WriteFile(file, "this is not a media file at all");
    ASSERT_TRUE(NeedsWideName(file.string()));
    AVFormatContext* context = nullptr;
    EXPECT_EQ(OpenInputContext(&context, file.string(), nullptr, nullptr), AVERROR_INVALIDDATA);
    EXPECT_EQ(context, nullptr);
}

TEST(WideNameIO, ProtocolWhitelistWithoutFileRefusesPseudoUrls) {
    test::TempDir dir;
    const fs::path file = dir / "clip\xe9.mp4";
    std::filesystem::copy_file(test::Fixtures().h264AacMp4, file);
    const struct {
        const char* whitelist;
        int expected;
    } cases[] = {{"http,tcp", AVERROR(EINVAL)}, {"tcp,file", 0}};
    for (const auto& c : cases) {
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", c.whitelist, 0);
        AVFormatContext* context = nullptr;
        EXPECT_EQ(OpenInputContext(&context, file.string(), nullptr, &options), c.expected) << c.whitelist;
        InputContextPtr input(context);
        av_dict_free(&options);
    }
}

struct OutputContextFree {
    void operator()(AVFormatContext* p) const {
        if (p && p->pb)
            CloseLibraryIO(&p->pb);
        avformat_free_context(p);
    }
};
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextFree>;

// Stream copy of `input` into `output`, both plain file names, through the wide-name layer.
void Remux(const std::string& input, const std::string& output, const char* muxerOptions) {
    AVFormatContext* rawInput = nullptr;
    ASSERT_EQ(OpenInputContext(&rawInput, input, nullptr, nullptr), 0);
    InputContextPtr in(rawInput);
    ASSERT_GE(avformat_find_stream_info(in.get(), nullptr), 0);

    const std::string libraryName = ToLibraryName(output);
    AVFormatContext* rawOutput = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&rawOutput, nullptr, nullptr, libraryName.c_str()), 0);
    OutputContextPtr out(rawOutput);
    UseWideNameIO(out.get());
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(out.get(), nullptr);
        ASSERT_NE(stream, nullptr);
        ASSERT_GE(avcodec_parameters_copy(stream->codecpar, in->streams[i]->codecpar), 0);
        stream->codecpar->codec_tag = 0;
        stream->time_base = in->streams[i]->time_base;
    }
    ASSERT_EQ(OpenLibraryIO(&out->pb, libraryName, AVIO_FLAG_WRITE, &out->interrupt_callback), 0);
    AVDictionary* options = nullptr;
    av_dict_parse_string(&options, muxerOptions, "=", ":", 0);
    const int header = avformat_write_header(out.get(), &options);
    av_dict_free(&options);
    ASSERT_GE(header, 0);

    PacketPtr owner = MakePacket();
    AVPacket* packet = owner.get();
    while (av_read_frame(in.get(), packet) >= 0) {
        av_packet_rescale_ts(packet, in->streams[packet->stream_index]->time_base,
                             out->streams[packet->stream_index]->time_base);
        packet->pos = -1;
        ASSERT_GE(av_interleaved_write_frame(out.get(), packet), 0);
    }
    ASSERT_GE(av_write_trailer(out.get()), 0);
    EXPECT_EQ(CloseLibraryIO(&out->pb), 0);
}

// Makes a folder the current one for the lifetime of the guard, so that relative names are used.
class CurrentDirGuard {
public:
    explicit CurrentDirGuard(const fs::path& dir)
        : previous_(fs::current_path()) {
        fs::current_path(dir);
    }
    ~CurrentDirGuard() {
        std::error_code ignored;
        fs::current_path(previous_, ignored);
    }
    CurrentDirGuard(const CurrentDirGuard&) = delete;
    CurrentDirGuard& operator=(const CurrentDirGuard&) = delete;

private:
    fs::path previous_;
};

struct RemuxCase {
    const char* fileName;
    const char* muxerOptions;
};

class WideNameRemux : public ::testing::TestWithParam<RemuxCase> {};

// The output's relative name has a ":" before any "/", so the libraries alone would take "a" for
// a protocol; the file must still be written where the name says and read back whole.
TEST_P(WideNameRemux, WritesAndReadsBackAFileWhoseNameLooksLikeAUrl) {
    const std::string input = fs::absolute(test::Fixtures().h264AacMp4).string();
    test::TempDir dir;
    CurrentDirGuard inDir(dir.Path());
    const std::string output = GetParam().fileName;
    ASSERT_TRUE(NeedsWideName(output));
    ASSERT_NO_FATAL_FAILURE(Remux(input, output, GetParam().muxerOptions));
    ASSERT_TRUE(fs::is_regular_file(dir / output));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);

    AVFormatContext* rawSource = nullptr;
    ASSERT_EQ(OpenInputContext(&rawSource, input, nullptr, nullptr), 0);
    InputContextPtr source(rawSource);
    ASSERT_GE(avformat_find_stream_info(source.get(), nullptr), 0);
    AVFormatContext* rawCopy = nullptr;
    ASSERT_EQ(OpenInputContext(&rawCopy, output, nullptr, nullptr), 0);
    InputContextPtr copy(rawCopy);
    ASSERT_GE(avformat_find_stream_info(copy.get(), nullptr), 0);

    EXPECT_EQ(copy->nb_streams, source->nb_streams);
    ASSERT_GT(source->duration, 0);
    EXPECT_NEAR(double(copy->duration) / AV_TIME_BASE, double(source->duration) / AV_TIME_BASE, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Containers, WideNameRemux,
                         ::testing::Values(RemuxCase{"a:b clip été 日本.mp4", ""},
                                           RemuxCase{"a:b clip été 日本.mkv", ""}));

// With faststart the mp4 muxer reopens its own output by the context's url to move the index to
// the front, which only works when the context's callbacks understand the pseudo-URL.
TEST(WideNameRemux, Mp4FaststartMovesTheIndexToTheFront) {
    const std::string input = fs::absolute(test::Fixtures().h264AacMp4).string();
    test::TempDir dir;
    CurrentDirGuard inDir(dir.Path());
    const std::string output = "a:b faststart.mp4";
    ASSERT_NO_FATAL_FAILURE(Remux(input, output, "movflags=faststart"));
    const std::string bytes = ReadFile(dir / output);
    const size_t index = bytes.find("moov");
    ASSERT_NE(index, std::string::npos);
    EXPECT_LT(index, bytes.find("mdat"));
}

} // namespace
} // namespace tarnel

#include "base/FFUtils.h"
#include "base/LibHandles.h"
#include "base/MyUtils.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <string>

extern "C" {
#include <libavutil/error.h>
}

namespace tarnel {
namespace {

TEST(FormatText, FormatsLikePrintfAndHasNoLengthLimit) {
    EXPECT_EQ(Format("%s-%05.1f-%d", "x", 3.14159, -7), "x-003.1--7");
    EXPECT_EQ(Format("%s", std::string(5000, 'a').c_str()), std::string(5000, 'a'));
    EXPECT_EQ(Format("%s", ""), "");
}

struct TimestampCase {
    int64_t us;
    const char* text;
};
std::ostream& operator<<(std::ostream& os, const TimestampCase& c) {
    return os << c.us;
}

class TimestampTextTable : public ::testing::TestWithParam<TimestampCase> {};

TEST_P(TimestampTextTable, Formats) {
    EXPECT_EQ(TimestampText(GetParam().us), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimestampTextTable,
    ::testing::Values(TimestampCase{3723004000LL, "01:02:03.004"},
                      TimestampCase{90000000000LL, "25:00:00.000"}, TimestampCase{0, "00:00:00.000"},
                      TimestampCase{999, "00:00:00.000"}, TimestampCase{59999999, "00:00:59.999"},
                      TimestampCase{-1500000, "-00:00:01.500"}, TimestampCase{AV_NOPTS_VALUE, "N/A"}));

struct FileSizeCase {
    int64_t bytes;
    const char* text;
};
std::ostream& operator<<(std::ostream& os, const FileSizeCase& c) {
    return os << c.bytes;
}

class FileSizeTextTable : public ::testing::TestWithParam<FileSizeCase> {};

TEST_P(FileSizeTextTable, Formats) {
    EXPECT_EQ(FileSizeText(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, FileSizeTextTable,
                         ::testing::Values(FileSizeCase{0, "0 Byte"}, FileSizeCase{1024, "1024 Byte"},
                                           FileSizeCase{1025, "1.00 KB"}, FileSizeCase{1048576, "1024.00 KB"},
                                           FileSizeCase{1048577, "1.00 MB"},
                                           FileSizeCase{1073741824, "1024.00 MB"},
                                           FileSizeCase{1073741825, "1.00 GB"},
                                           FileSizeCase{5LL * 1073741824 + 536870912, "5.50 GB"}));

struct ErrorCase {
    int code;
    const char* text;
};
std::ostream& operator<<(std::ostream& os, const ErrorCase& c) {
    return os << c.code;
}

class ErrorTextTable : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorTextTable, PrefixesTheFileName) {
    EXPECT_EQ(ErrorText("a.avi", GetParam().code), std::string("a.avi: ") + GetParam().text);
    EXPECT_EQ(LibraryErrorText(GetParam().code), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ErrorTextTable,
    ::testing::Values(ErrorCase{AVERROR(ENOENT), "No such file or directory"},
                      ErrorCase{AVERROR_EOF, "End of file"},
                      ErrorCase{AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg"},
                      ErrorCase{AVERROR_PROTOCOL_NOT_FOUND, "Unsupported network protocol"},
                      ErrorCase{AVERROR(EILSEQ), "Unknown format"},
                      ErrorCase{AVERROR_DEMUXER_NOT_FOUND, "Unknown format"},
                      ErrorCase{AVERROR(EDOM), "Number syntax expected in filename"},
                      ErrorCase{AVERROR_INVALIDDATA, "Invalid data found when processing input"},
                      ErrorCase{AVERROR(ENOMEM), "Not enough memory"}, ErrorCase{AVERROR(EIO), "I/O error"},
                      ErrorCase{-123456, "Error number -123456 occurred"}));

TEST(ErrorText, OtherCodesUseTheLibraryText) {
    char expected[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(AVERROR_EXIT, expected, sizeof(expected));
    EXPECT_EQ(ErrorText("b.mp4", AVERROR_EXIT), std::string("b.mp4: ") + expected);
}

TEST(MediaTypeText, NamesEachType) {
    const char* names[] = {"Video", "Audio", "Data", "Subtitle", "Attachment"};
    for (int type = 0; type < 5; ++type)
        EXPECT_EQ(MediaTypeText(type), names[type]);
    EXPECT_EQ(MediaTypeText(-1), "Unknown");
    EXPECT_EQ(MediaTypeText(5), "Unknown");
}

TEST(MetadataText, MatchesTheExactKeyOnly) {
    AVDictionary* raw = nullptr;
    av_dict_set(&raw, "Title", "Holiday", 0);
    DictionaryPtr dict(raw);
    EXPECT_EQ(MetadataText(dict.get(), "Title", "none"), "Holiday");
    EXPECT_EQ(MetadataText(dict.get(), "title", "none"), "none");
    EXPECT_EQ(MetadataText(dict.get(), "Tit", "none"), "none");
    EXPECT_EQ(MetadataText(nullptr, "Title", "none"), "none");
}

struct CodecCase {
    AVCodecID id;
    uint32_t tag;
    bool encoder;
    const char* text;
};
std::ostream& operator<<(std::ostream& os, const CodecCase& c) {
    return os << c.id << " tag " << c.tag << (c.encoder ? " encoder" : " decoder");
}

class CodecTextUnknown : public ::testing::TestWithParam<CodecCase> {};

TEST_P(CodecTextUnknown, FallsBackToTheTag) {
    AVCodecParameters par{};
    par.codec_id = GetParam().id;
    par.codec_tag = GetParam().tag;
    EXPECT_EQ(CodecText(&par, GetParam().encoder), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CodecTextUnknown,
    ::testing::Values(CodecCase{AV_CODEC_ID_NONE, MKTAG('a', 'b', 'c', 'd'), false, "abcd / 0x64636261"},
                      CodecCase{AV_CODEC_ID_NONE, 0x1, false, "0x0001"},
                      CodecCase{AV_CODEC_ID_NONE, MKTAG('a', 'b', 'c', 0x7F), false, "0x7f636261"},
                      CodecCase{AV_CODEC_ID_MPEG2TS, 0, false, "mpeg2ts"},
                      // VP6 has a decoder but no encoder: the encoder flag must look among encoders.
                      CodecCase{AV_CODEC_ID_VP6, MKTAG('V', 'P', '6', '2'), true, "VP62 / 0x32365056"}));

TEST(CodecText, NamesTheH264DecoderWithItsLongName) {
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_H264);
    ASSERT_NE(decoder, nullptr);
    AVCodecParameters par{};
    par.codec_id = AV_CODEC_ID_H264;
    const std::string text = CodecText(&par, false);
    EXPECT_EQ(text, std::string(decoder->name) + "(" + decoder->long_name + ")");
    EXPECT_EQ(text.rfind("h264(", 0), 0u);

    CodecContextPtr ctx(avcodec_alloc_context3(nullptr));
    ctx->codec_id = AV_CODEC_ID_H264;
    EXPECT_EQ(CodecText(ctx.get(), false), text);
}

struct SplitCase {
    const char* text;
    const char* delimiter;
    bool remove;
    const char* head;
    const char* rest;
};
std::ostream& operator<<(std::ostream& os, const SplitCase& c) {
    return os << '"' << c.text << "\" by \"" << c.delimiter << '"' << (c.remove ? " remove" : "");
}

class SplitFirstTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitFirstTable, SplitsAtTheFirstDelimiter) {
    std::string text = GetParam().text;
    EXPECT_EQ(SplitFirst(text, GetParam().delimiter, GetParam().remove), GetParam().head);
    EXPECT_EQ(text, GetParam().rest);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitFirstTable,
    ::testing::Values(SplitCase{"a,b,c", ",", true, "a", "b,c"}, SplitCase{"a,b,c", ",", false, "a", "a,b,c"},
                      SplitCase{"abc", ",", true, "abc", ""}, SplitCase{"abc", ",", false, "abc", "abc"},
                      SplitCase{"key::value::x", "::", true, "key", "value::x"},
                      SplitCase{",x", ",", true, "", "x"}, SplitCase{"x,", ",", true, "x", ""},
                      SplitCase{"abc", "", true, "abc", ""}));

struct RationalCase {
    double x;
    int bound;
    int num;
    int den;
};
std::ostream& operator<<(std::ostream& os, const RationalCase& c) {
    return os << c.x << " bound " << c.bound;
}

class DoubleToRationalTable : public ::testing::TestWithParam<RationalCase> {};

TEST_P(DoubleToRationalTable, FindsTheFraction) {
    const AVRational r = DoubleToRational(GetParam().x, GetParam().bound);
    EXPECT_EQ(r.num, GetParam().num);
    EXPECT_EQ(r.den, GetParam().den);
}

INSTANTIATE_TEST_SUITE_P(Cases, DoubleToRationalTable,
                         ::testing::Values(RationalCase{4.0 / 3.0, 255, 4, 3},
                                           RationalCase{16.0 / 9.0, 255, 16, 9}, RationalCase{1.0, 255, 1, 1},
                                           RationalCase{1.0, INT_MAX, 1, 1}, RationalCase{0.0, 255, 0, 1},
                                           RationalCase{2.35, 255, 47, 20}, RationalCase{0.5, 255, 1, 2},
                                           RationalCase{-4.0 / 3.0, 255, -4, 3},
                                           RationalCase{720.0, 255, 255, 1},
                                           RationalCase{1e30, 255, 255, 1}));

// Sets TZ for one test and restores the previous zone afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (old_)
            setenv("TZ", old_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> old_;
};

struct ZoneCase {
    const char* zone;
    int64_t unixSeconds;
    double offsetHours; // local time minus UTC at that moment
};
std::ostream& operator<<(std::ostream& os, const ZoneCase& c) {
    return os << c.zone << " at " << c.unixSeconds;
}

class LocalDateTimeTable : public ::testing::TestWithParam<ZoneCase> {};

TEST_P(LocalDateTimeTable, AddsTheZoneOffsetAndConvertsBack) {
    ScopedTimeZone zone(GetParam().zone);
    const int64_t t = GetParam().unixSeconds;
    const double expected = static_cast<double>(t) / 86400.0 + 25569.0 + GetParam().offsetHours / 24.0;
    EXPECT_NEAR(LocalDateTimeFromUnix(t), expected, 1e-9);
    EXPECT_EQ(UnixFromLocalDateTime(LocalDateTimeFromUnix(t)), t);
}

INSTANTIATE_TEST_SUITE_P(Cases, LocalDateTimeTable,
                         ::testing::Values(ZoneCase{"UTC0", 0, 0.0}, ZoneCase{"EST5", 0, -5.0},
                                           ZoneCase{"XYZ-3", 0, 3.0},
                                           // 1 July 2021 12:00 UTC, summer time in central Europe.
                                           ZoneCase{"CET-1CEST,M3.5.0,M10.5.0/3", 1625140800, 2.0},
                                           // 1 January 2021 12:00:07 UTC, winter time.
                                           ZoneCase{"CET-1CEST,M3.5.0,M10.5.0/3", 1609502407, 1.0}));

TEST(LocalDateTime, EpochIsDay25569InUtcAndCalendarDatesMatch) {
    ScopedTimeZone zone("UTC0");
    EXPECT_DOUBLE_EQ(LocalDateTimeFromUnix(0), 25569.0);
    // 1 July 2021 is day 44378 counted from 30 December 1899.
    EXPECT_DOUBLE_EQ(LocalDateTimeFromUnix(1625140800), 44378.5);
    EXPECT_EQ(UnixFromLocalDateTime(44378.5), 1625140800);
}

} // namespace
} // namespace tarnel

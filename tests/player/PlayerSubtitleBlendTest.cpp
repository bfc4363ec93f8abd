#include "player/PlayerSubtitleBlend.h"

#include "base/FFmpegLoader.h"
#include "base/LibHandles.h"
#include "player/FFPlayer.h"
#include "player/PlaybackSession.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace tarnel {
namespace {

// ---- Palette conversion -------------------------------------------------------------------------

uint32_t Argb(int a, int r, int g, int b) {
    return static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 |
           static_cast<uint32_t>(b);
}

// The BT.601 studio-range row (coefficients × 1024 rounded, half added before the shift).
int FixedPointRow(double cr, double cg, double cb, int offset, int r, int g, int b) {
    const auto fixed = [](double c) {
        return static_cast<int>(std::lround(c * 1024));
    };
    return ((fixed(cr) * r + fixed(cg) * g + fixed(cb) * b + 512) >> 10) + offset;
}

TEST(SubtitlePalette, FollowsTheStudioRangeMatrixAndKeepsAlpha) {
    for (int r = 0; r < 256; r += 15) {
        for (int g = 0; g < 256; g += 15) {
            for (int b = 0; b < 256; b += 15) {
                const int alpha = (r + 3 * g + 7 * b) & 0xFF;
                const YuvaColor c = UnpackYuva(RgbaToYuva(Argb(alpha, r, g, b)));
                const std::string where =
                    std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b);
                ASSERT_EQ(c.Y, FixedPointRow(0.25678822, 0.5041294, 0.09790588, 16, r, g, b)) << where;
                ASSERT_EQ(c.U, FixedPointRow(-0.14822651, -0.2909892, 0.4392157, 128, r, g, b)) << where;
                ASSERT_EQ(c.V, FixedPointRow(0.4392157, -0.36779043, -0.07142525, 128, r, g, b)) << where;
                ASSERT_EQ(c.A, alpha) << where;
            }
        }
    }
}

TEST(SubtitlePalette, MapsBlackAndWhiteToTheEndsOfTheStudioRange) {
    const YuvaColor black = UnpackYuva(RgbaToYuva(Argb(255, 0, 0, 0)));
    const YuvaColor white = UnpackYuva(RgbaToYuva(Argb(0, 255, 255, 255)));
    EXPECT_EQ(std::make_tuple(black.Y, black.U, black.V, black.A), std::make_tuple(16, 128, 128, 255));
    EXPECT_EQ(std::make_tuple(white.Y, white.U, white.V, white.A), std::make_tuple(235, 128, 128, 0));
}

TEST(SubtitlePalette, ConvertsOnlyTheRectanglesColoursInPlace) {
    std::array<uint32_t, 3> palette{Argb(255, 200, 10, 30), Argb(40, 5, 250, 90), Argb(1, 2, 3, 4)};
    const std::array<uint32_t, 3> original = palette;
    AVSubtitleRect rect{};
    rect.type = SUBTITLE_BITMAP;
    rect.data[1] = reinterpret_cast<uint8_t*>(palette.data());
    rect.nb_colors = 2;
    ConvertPaletteToYuva(rect);
    EXPECT_EQ(palette[0], RgbaToYuva(original[0]));
    EXPECT_EQ(palette[1], RgbaToYuva(original[1]));
    EXPECT_EQ(palette[2], original[2]);
}

// ---- Blending one rectangle ---------------------------------------------------------------------

const YuvaColor kBackground{100, 60, 200, 0};

FramePtr MakePicture(int width, int height) {
    FramePtr picture = MakeFrame();
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = width;
    picture->height = height;
    if (av_frame_get_buffer(picture.get(), 0) < 0)
        return nullptr;
    const int values[3] = {kBackground.Y, kBackground.U, kBackground.V};
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? height : (height + 1) / 2;
        for (int row = 0; row < rows; ++row)
            std::fill_n(picture->data[plane] + row * picture->linesize[plane], picture->linesize[plane],
                        static_cast<uint8_t>(values[plane]));
    }
    return picture;
}

// A rectangle whose indices and palette live in the test.
struct TestRect {
    AVSubtitleRect rect{};
    std::vector<uint8_t> indices;
    std::array<uint32_t, AVPALETTE_COUNT> palette{};

    TestRect(int x, int y, int w, int h, const std::vector<YuvaColor>& colors, int (*indexAt)(int, int))
        : indices(static_cast<size_t>(w * h)) {
        for (size_t i = 0; i < colors.size(); ++i)
            palette[i] = PackYuva(colors[i]);
        for (int row = 0; row < h; ++row) {
            for (int col = 0; col < w; ++col)
                indices[static_cast<size_t>(row * w + col)] = static_cast<uint8_t>(indexAt(col, row));
        }
        rect.type = SUBTITLE_BITMAP;
        rect.x = x;
        rect.y = y;
        rect.w = w;
        rect.h = h;
        rect.data[0] = indices.data();
        rect.linesize[0] = w;
        rect.data[1] = reinterpret_cast<uint8_t*>(palette.data());
        rect.nb_colors = static_cast<int>(colors.size());
    }
};

using Plane = std::vector<int>;

// The picture's three planes as plain rows of width × height and their chroma halves.
std::array<Plane, 3> ReadPlanes(const AVFrame& picture) {
    std::array<Plane, 3> planes;
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane == 0 ? picture.width : (picture.width + 1) / 2;
        const int h = plane == 0 ? picture.height : (picture.height + 1) / 2;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                planes[plane].push_back(picture.data[plane][y * picture.linesize[plane] + x]);
        }
    }
    return planes;
}

// The expected picture after blending, worked out from a map of which colour covers each pixel.
std::array<Plane, 3> ReferenceBlend(const AVFrame& picture, const TestRect& test) {
    const int width = picture.width, height = picture.height;
    std::vector<std::optional<YuvaColor>> cover(static_cast<size_t>(width * height));
    const AVSubtitleRect& rect = test.rect;
    for (int row = 0; row < rect.h; ++row) {
        for (int col = 0; col < rect.w; ++col) {
            const int x = rect.x + col, y = rect.y + row;
            if (x < 0 || y < 0 || x >= width || y >= height)
                continue;
            const int index = test.indices[static_cast<size_t>(row * rect.w + col)];
            cover[static_cast<size_t>(y * width + x)] =
                index < rect.nb_colors ? UnpackYuva(test.palette[index]) : YuvaColor{16, 128, 128, 0};
        }
    }
    std::array<Plane, 3> expected = ReadPlanes(picture);
    for (int i = 0; i < width * height; ++i) {
        if (const auto& c = cover[static_cast<size_t>(i)])
            expected[0][i] = ((255 - c->A) * expected[0][i] + c->A * c->Y) / 255;
    }
    const int chromaWidth = (width + 1) / 2;
    for (int by = 0; by < (height + 1) / 2; ++by) {
        for (int bx = 0; bx < chromaWidth; ++bx) {
            std::vector<YuvaColor> covered;
            constexpr std::array<std::pair<int, int>, 4> kBlock{{{0, 0}, {1, 0}, {0, 1}, {1, 1}}};
            for (const auto& [dx, dy] : kBlock) {
                const int x = 2 * bx + dx, y = 2 * by + dy;
                if (x < width && y < height && cover[static_cast<size_t>(y * width + x)])
                    covered.push_back(*cover[static_cast<size_t>(y * width + x)]);
            }
            if (covered.empty())
                continue;
            const int n = static_cast<int>(covered.size());
            const int s = n == 4 ? 2 : n == 2 ? 1 : 0;
            int a = 0, u = 0, v = 0;
            for (const YuvaColor& c : covered) {
                a += c.A;
                u += c.U;
                v += c.V;
            }
            a /= n;
            int& oldU = expected[1][by * chromaWidth + bx];
            int& oldV = expected[2][by * chromaWidth + bx];
            oldU = ((oldU << s) * (255 - a) + u * a) / (255 << s);
            oldV = ((oldV << s) * (255 - a) + v * a) / (255 << s);
        }
    }
    return expected;
}

const std::vector<YuvaColor> kMixedPalette{
    {16, 128, 128, 0}, {180, 90, 170, 128}, {235, 30, 220, 255}, {50, 240, 16, 200}};
// Cycles through the palette and, every fifth pixel, an index beyond it.
int MixedIndex(int col, int row) {
    return (col + 2 * row) % 5;
}

struct BlendCase {
    const char* name;
    int pictureWidth, pictureHeight;
    int x, y, w, h;
    bool drawn;
};
std::ostream& operator<<(std::ostream& os, const BlendCase& c) {
    return os << c.name;
}

class SubtitleRectBlend : public ::testing::TestWithParam<BlendCase> {};

TEST_P(SubtitleRectBlend, MatchesPerPixelLumaAndPerBlockChroma) {
    const BlendCase& c = GetParam();
    FramePtr picture = MakePicture(c.pictureWidth, c.pictureHeight);
    ASSERT_TRUE(picture);
    const TestRect rect(c.x, c.y, c.w, c.h, kMixedPalette, MixedIndex);
    const std::array<Plane, 3> expected = ReferenceBlend(*picture, rect);
    const std::array<Plane, 3> before = ReadPlanes(*picture);
    EXPECT_EQ(BlendSubtitleRect(*picture, rect.rect), c.drawn);
    const std::array<Plane, 3> after = ReadPlanes(*picture);
    for (int plane = 0; plane < 3; ++plane)
        EXPECT_EQ(after[plane], expected[plane]) << "plane " << plane;
    EXPECT_EQ(after != before, c.drawn);
}

INSTANTIATE_TEST_SUITE_P(Geometry, SubtitleRectBlend,
                         ::testing::Values(BlendCase{"EvenInside", 10, 8, 2, 2, 4, 4, true},
                                           BlendCase{"OddPositionAndSize", 10, 8, 1, 3, 5, 3, true},
                                           BlendCase{"ClippedLeftTop", 10, 8, -3, -1, 6, 4, true},
                                           BlendCase{"ClippedRightBottom", 10, 8, 7, 5, 6, 6, true},
                                           BlendCase{"LargerThanPicture", 10, 8, -2, -2, 14, 12, true},
                                           BlendCase{"OddSizedPictureEdge", 9, 7, 6, 4, 5, 5, true},
                                           BlendCase{"RightOfPicture", 10, 8, 10, 0, 3, 3, false},
                                           BlendCase{"AboveLeftOfPicture", 10, 8, -5, -5, 3, 5, false}),
                         [](const auto& param) { return std::string(param.param.name); });

int AlwaysOne(int, int) {
    return 1;
}

TEST(SubtitleRectBlend, OpaqueColourReplacesCoveredPixelsAndHalfAlphaMixes) {
    const YuvaColor ink{200, 40, 220, 255};
    FramePtr picture = MakePicture(10, 8);
    ASSERT_TRUE(picture);
    // Columns 3..6, rows 1..4: chroma blocks 2 (columns 4, 5) are fully covered, blocks 1 and 3
    // only in one column.
    const TestRect opaque(3, 1, 4, 4, {{16, 128, 128, 0}, ink}, AlwaysOne);
    ASSERT_TRUE(BlendSubtitleRect(*picture, opaque.rect));
    EXPECT_EQ(picture->data[0][1 * picture->linesize[0] + 3], ink.Y);
    EXPECT_EQ(picture->data[0][4 * picture->linesize[0] + 6], ink.Y);
    EXPECT_EQ(picture->data[0][0 * picture->linesize[0] + 3], kBackground.Y);
    EXPECT_EQ(picture->data[0][1 * picture->linesize[0] + 7], kBackground.Y);
    EXPECT_EQ(picture->data[1][1 * picture->linesize[1] + 2], ink.U);
    EXPECT_EQ(picture->data[2][1 * picture->linesize[2] + 2], ink.V);
    // A block half covered by opaque ink: ((old << 1) × 0 + 2 × ink × 255) / (255 << 1) = ink.
    EXPECT_EQ(picture->data[1][1 * picture->linesize[1] + 1], ink.U);
    EXPECT_EQ(picture->data[1][0 * picture->linesize[1] + 2], ink.U);
    EXPECT_EQ(picture->data[1][1 * picture->linesize[1] + 4], kBackground.U);

    FramePtr second = MakePicture(10, 8);
    ASSERT_TRUE(second);
    const YuvaColor halfInk{ink.Y, ink.U, ink.V, 128};
    const TestRect half(4, 2, 2, 2, {{16, 128, 128, 0}, halfInk}, AlwaysOne);
    ASSERT_TRUE(BlendSubtitleRect(*second, half.rect));
    EXPECT_EQ(second->data[0][2 * second->linesize[0] + 4], (127 * kBackground.Y + 128 * ink.Y) / 255);
    EXPECT_EQ(second->data[1][1 * second->linesize[1] + 2], (127 * kBackground.U + 128 * ink.U) / 255);
}

// ---- The session's subtitle queue ---------------------------------------------------------------

// A subtitle allocated the way the decoder allocates one, so that avsubtitle_free releases it:
// one w × h rectangle of palette index 1 with `color`.
AVSubtitle MakeLibrarySubtitle(uint32_t startMs, uint32_t endMs, int x, int y, int w, int h,
                               const YuvaColor& color) {
    AVSubtitle subtitle{};
    subtitle.format = 0;
    subtitle.start_display_time = startMs;
    subtitle.end_display_time = endMs;
    subtitle.num_rects = 1;
    subtitle.rects = static_cast<AVSubtitleRect**>(av_mallocz(sizeof(AVSubtitleRect*)));
    AVSubtitleRect* rect = static_cast<AVSubtitleRect*>(av_mallocz(sizeof(AVSubtitleRect)));
    subtitle.rects[0] = rect;
    rect->type = SUBTITLE_BITMAP;
    rect->x = x;
    rect->y = y;
    rect->w = w;
    rect->h = h;
    rect->linesize[0] = w;
    rect->data[0] = static_cast<uint8_t*>(av_malloc(static_cast<size_t>(w * h)));
    std::fill_n(rect->data[0], w * h, uint8_t{1});
    rect->data[1] = static_cast<uint8_t*>(av_mallocz(AVPALETTE_SIZE));
    reinterpret_cast<uint32_t*>(rect->data[1])[1] = PackYuva(color);
    rect->nb_colors = 2;
    return subtitle;
}

class SubtitleQueueTest : public ::testing::Test {
protected:
    void Enqueue(double pts, uint32_t startMs, uint32_t endMs, int x = 0, int y = 0, int w = 2, int h = 2) {
        std::lock_guard lock(session.SubtitleMutex);
        SubtitleSlot& slot = session.Subtitles[session.SubtitleWrite];
        slot.Pts = pts;
        slot.Subtitle = MakeLibrarySubtitle(startMs, endMs, x, y, w, h, {235, 128, 128, 255});
        slot.Valid = true;
        session.SubtitleWrite = (session.SubtitleWrite + 1) % kSubtitleSlots;
        ++session.SubtitleCount;
    }
    int Count() {
        std::lock_guard lock(session.SubtitleMutex);
        return session.SubtitleCount;
    }
    double FirstPts() {
        std::lock_guard lock(session.SubtitleMutex);
        return session.Subtitles[session.SubtitleRead].Pts;
    }

    void SetUp() override { ASSERT_TRUE(librariesLoaded) << Loader().LastLoadError(); }

    // A player (which needs the libraries) only to own the session.
    bool librariesLoaded = Loader().LoadSet(kConverterLibraries);
    TFFPlayer player;
    PlaybackSession session{player, "subtitles"};
};

struct ExpiryCase {
    const char* name;
    double videoTime;
    bool withSecond;
    bool firstDropped;
};
std::ostream& operator<<(std::ostream& os, const ExpiryCase& c) {
    return os << c.name;
}

class SubtitleExpiry : public SubtitleQueueTest, public ::testing::WithParamInterface<ExpiryCase> {};

// First: pts 1.0, shown 1.2 .. 3.0. Second (when queued): pts 2.0, starts at 2.5.
TEST_P(SubtitleExpiry, DropsTheFirstWhenItEndedOrTheNextStarted) {
    const ExpiryCase& c = GetParam();
    Enqueue(1.0, 200, 2000);
    if (c.withSecond)
        Enqueue(2.0, 500, 4000);
    const int queued = Count();
    ExpireSubtitles(session, c.videoTime);
    EXPECT_EQ(Count(), c.firstDropped ? queued - 1 : queued);
    std::lock_guard lock(session.SubtitleMutex);
    EXPECT_EQ(session.Subtitles[0].Valid, !c.firstDropped);
    EXPECT_EQ(session.SubtitleRead, c.firstDropped ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Rules, SubtitleExpiry,
                         ::testing::Values(ExpiryCase{"BeforeItsEnd", 2.9, false, false},
                                           ExpiryCase{"AtItsEnd", 3.0, false, false},
                                           ExpiryCase{"AfterItsEnd", 3.01, false, true},
                                           ExpiryCase{"BeforeItStarts", 0.5, false, false},
                                           ExpiryCase{"AtTheNextsStart", 2.5, true, false},
                                           ExpiryCase{"AfterTheNextsStart", 2.51, true, true},
                                           ExpiryCase{"AfterItsEndWithANext", 3.01, true, true}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(SubtitleQueueTest, StreamChangeDropsEverySubtitleAndClearsTheFlag) {
    Enqueue(1.0, 0, 1000);
    Enqueue(2.0, 0, 1000);
    Enqueue(3.0, 0, 1000);
    {
        std::lock_guard lock(session.SubtitleMutex);
        session.SubtitleStreamChanged = true;
    }
    ExpireSubtitles(session, 0);
    EXPECT_EQ(Count(), 0);
    std::lock_guard lock(session.SubtitleMutex);
    EXPECT_FALSE(session.SubtitleStreamChanged);
    EXPECT_EQ(session.SubtitleRead, session.SubtitleWrite);
    for (const SubtitleSlot& slot : session.Subtitles)
        EXPECT_FALSE(slot.Valid);
}

TEST_F(SubtitleQueueTest, BlendsTheFirstSubtitleOnlyFromItsStart) {
    FramePtr picture = MakePicture(8, 8);
    ASSERT_TRUE(picture);
    EXPECT_FALSE(BlendSubtitles(session, picture.get(), 10.0));
    Enqueue(1.0, 500, 2000, 2, 2, 2, 2);
    EXPECT_FALSE(BlendSubtitles(session, picture.get(), 1.49));
    EXPECT_EQ(picture->data[0][2 * picture->linesize[0] + 2], kBackground.Y);
    EXPECT_TRUE(BlendSubtitles(session, picture.get(), 1.5));
    EXPECT_EQ(picture->data[0][2 * picture->linesize[0] + 2], 235);
}

TEST_F(SubtitleQueueTest, NothingIsDrawnForARectangleOutsideThePicture) {
    FramePtr picture = MakePicture(8, 8);
    ASSERT_TRUE(picture);
    Enqueue(0.0, 0, 1000, 8, 0, 4, 4);
    EXPECT_FALSE(BlendSubtitles(session, picture.get(), 0.5));
}

// ---- The decoding thread ------------------------------------------------------------------------

template <typename Condition>
bool Eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// One DVD subtitle (bitmap format) encoded by the libraries.
std::vector<uint8_t> EncodeDvdSubtitle() {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_DVD_SUBTITLE);
    if (!codec)
        return {};
    CodecContextPtr encoder(avcodec_alloc_context3(codec));
    encoder->width = 64;
    encoder->height = 32;
    encoder->time_base = {1, 1000};
    if (avcodec_open2(encoder.get(), codec, nullptr) < 0)
        return {};
    std::array<uint32_t, AVPALETTE_COUNT> palette{};
    palette[1] = Argb(255, 250, 250, 250);
    palette[2] = Argb(255, 10, 10, 10);
    std::vector<uint8_t> indices(16 * 8);
    for (size_t i = 0; i < indices.size(); ++i)
        indices[i] = static_cast<uint8_t>(1 + i % 2);
    AVSubtitleRect rect{};
    rect.type = SUBTITLE_BITMAP;
    rect.x = 8;
    rect.y = 4;
    rect.w = 16;
    rect.h = 8;
    rect.data[0] = indices.data();
    rect.linesize[0] = 16;
    rect.data[1] = reinterpret_cast<uint8_t*>(palette.data());
    rect.nb_colors = 3;
    AVSubtitleRect* rects[] = {&rect};
    AVSubtitle subtitle{};
    subtitle.end_display_time = 1000;
    subtitle.num_rects = 1;
    subtitle.rects = rects;
    std::vector<uint8_t> data(65536);
    const int size =
        avcodec_encode_subtitle(encoder.get(), data.data(), static_cast<int>(data.size()), &subtitle);
    data.resize(static_cast<size_t>(std::max(size, 0)));
    return data;
}

CodecContextPtr OpenDvdDecoder() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVD_SUBTITLE);
    CodecContextPtr decoder(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (decoder && avcodec_open2(decoder.get(), codec, nullptr) < 0)
        decoder.reset();
    return decoder;
}

class SubtitleThreadTest : public SubtitleQueueTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SubtitleQueueTest::SetUp());
        encoded = EncodeDvdSubtitle();
        ASSERT_FALSE(encoded.empty());
        session.SubtitleCodec = OpenDvdDecoder();
        ASSERT_TRUE(session.SubtitleCodec);
        ASSERT_TRUE(container);
        session.SubtitleStream = avformat_new_stream(container.get(), nullptr);
        ASSERT_TRUE(session.SubtitleStream);
        session.SubtitleStream->time_base = {1, 1000};
        thread = std::thread([this] { RunSubtitleThread(session); });
    }
    void TearDown() override {
        if (thread.joinable())
            CloseLikeTheReader();
    }
    void PutSubtitlePacket(int64_t ptsMs) {
        PacketPtr packet = MakePacket();
        ASSERT_EQ(av_new_packet(packet.get(), static_cast<int>(encoded.size())), 0);
        std::copy(encoded.begin(), encoded.end(), packet->data);
        packet->pts = ptsMs;
        ASSERT_EQ(session.SubtitleQueue.Put(packet.get()), 0);
    }
    void CloseLikeTheReader() {
        session.SubtitleQueue.Abort();
        {
            std::lock_guard lock(session.SubtitleMutex);
            session.SubtitleStreamChanged = true;
            session.SubtitleCond.notify_all();
        }
        thread.join();
    }

    FormatContextPtr container{avformat_alloc_context()};
    std::vector<uint8_t> encoded;
    std::thread thread;
};

TEST_F(SubtitleThreadTest, QueuesFourConvertedSubtitlesAndEndsWhenAbortedWhileFull) {
    for (int i = 0; i < 6; ++i)
        PutSubtitlePacket(2000 + 500 * i);
    ASSERT_TRUE(Eventually([&] { return Count() == kSubtitleSlots; }));
    EXPECT_DOUBLE_EQ(FirstPts(), 2.0);

    // The palette reaches the queue converted once, entry by entry.
    CodecContextPtr reference = OpenDvdDecoder();
    ASSERT_TRUE(reference);
    PacketPtr packet = MakePacket();
    ASSERT_EQ(av_new_packet(packet.get(), static_cast<int>(encoded.size())), 0);
    std::copy(encoded.begin(), encoded.end(), packet->data);
    AVSubtitle raw{};
    int got = 0;
    ASSERT_GE(avcodec_decode_subtitle2(reference.get(), &raw, &got, packet.get()), 0);
    ASSERT_TRUE(got);
    {
        std::lock_guard lock(session.SubtitleMutex);
        const AVSubtitle& queued = session.Subtitles[session.SubtitleRead].Subtitle;
        ASSERT_EQ(queued.num_rects, raw.num_rects);
        ASSERT_GE(raw.num_rects, 1u);
        const AVSubtitleRect& rawRect = *raw.rects[0];
        ASSERT_EQ(queued.rects[0]->nb_colors, rawRect.nb_colors);
        const auto* rawPalette = reinterpret_cast<const uint32_t*>(rawRect.data[1]);
        const auto* queuedPalette = reinterpret_cast<const uint32_t*>(queued.rects[0]->data[1]);
        for (int i = 0; i < rawRect.nb_colors; ++i)
            EXPECT_EQ(queuedPalette[i], RgbaToYuva(rawPalette[i])) << "entry " << i;
    }
    avsubtitle_free(&raw);

    // Freeing one slot lets the fifth in; the sixth waits for a slot until the stream closes.
    ExpireSubtitles(session, 100.0);
    ASSERT_TRUE(
        Eventually([&] { return Count() == kSubtitleSlots && session.SubtitleQueue.PacketCount() == 0; }));
    EXPECT_DOUBLE_EQ(FirstPts(), 2.5);
    CloseLikeTheReader();
    EXPECT_EQ(Count(), kSubtitleSlots);
}

TEST_F(SubtitleThreadTest, FlushMarkerDropsTheSubtitlesQueuedBeforeIt) {
    PutSubtitlePacket(1000);
    PutSubtitlePacket(3000);
    ASSERT_TRUE(Eventually([&] { return Count() == 2; }));
    session.SubtitleQueue.PutFlushMarker();
    ASSERT_TRUE(Eventually([&] { return Count() == 0; }));
    PutSubtitlePacket(500);
    ASSERT_TRUE(Eventually([&] { return Count() == 1; }));
    EXPECT_DOUBLE_EQ(FirstPts(), 0.5);
}

} // namespace
} // namespace tarnel

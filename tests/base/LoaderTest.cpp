#include "base/FFmpegLoader.h"

#include <SDL_version.h>
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/version.h>
#include <libavfilter/version.h>
#include <libavformat/version.h>
#include <libavutil/version.h>
#include <libswresample/version.h>
#include <libswscale/version.h>
}

#include <string>

namespace tarnel {
namespace {

constexpr TLibraryNo kAllLibraries[] = {lnAVCodec, lnAVDevice, lnAVFilter,   lnAVFormat,
                                        lnAVUtil,  lnSwScale,  lnSwResample, lnSDL};

class LoaderTest : public ::testing::Test {
protected:
    void TearDown() override {
        Loader().SetLibraryPath("");
        // Leave the libraries ready for the suites that follow.
        Loader().LoadSet(kPlayerLibraries);
    }
};

TEST_F(LoaderTest, ConverterSetLoadsAndStaysLoadedOnRepeat) {
    ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError();
    EXPECT_TRUE(Loader().AllLoaded(kConverterLibraries));
    for (TLibraryNo n : kAllLibraries) {
        if (kConverterLibraries & LibrarySet({n})) {
            EXPECT_TRUE(Loader().IsLoaded(n)) << Loader().LibraryFileName(n);
        }
    }
    EXPECT_FALSE(Loader().IsLoaded(lnAVDevice));

    EXPECT_TRUE(Loader().LoadSet(kConverterLibraries));
    EXPECT_TRUE(Loader().AllLoaded(kConverterLibraries));
}

TEST_F(LoaderTest, PlayerSetLoadsSDL) {
    ASSERT_TRUE(Loader().LoadSet(kPlayerLibraries)) << Loader().LastLoadError();
    EXPECT_TRUE(Loader().AllLoaded(kPlayerLibraries));
}

TEST_F(LoaderTest, EmptySetIsRefused) {
    EXPECT_FALSE(Loader().LoadSet(0));
}

TEST_F(LoaderTest, MissingLibraryUnloadsWholeSetOnly) {
    struct Case {
        std::string libraryPath;
        std::string errorDirectory;
    };
    const Case cases[] = {
        {"", ""}, {"/opt/tarnel/LibAV", "/opt/tarnel/LibAV/"}, {"/opt/LibAV/", "/opt/LibAV/"}};
    const TLibrarySet withDevice = kConverterLibraries | LibrarySet({lnAVDevice});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.libraryPath);
        ASSERT_TRUE(Loader().LoadSet(kPlayerLibraries)) << Loader().LastLoadError();
        Loader().SetLibraryPath(c.libraryPath);

        EXPECT_FALSE(Loader().LoadSet(withDevice));

        const std::string prefix =
            "Load library " + c.errorDirectory + TFFmpegLoader::LibraryFileName(lnAVDevice) + " error: ";
        const std::string error = Loader().LastLoadError();
        EXPECT_EQ(error.substr(0, prefix.size()), prefix);
        EXPECT_GT(error.size(), prefix.size()) << "the reason is missing";
        for (TLibraryNo n : kAllLibraries) {
            if (withDevice & LibrarySet({n})) {
                EXPECT_FALSE(Loader().IsLoaded(n)) << TFFmpegLoader::LibraryFileName(n);
            }
        }
        EXPECT_TRUE(Loader().IsLoaded(lnSDL)) << "a library outside the set was unloaded";
        EXPECT_EQ(Loader().LibraryPath(), c.libraryPath);
    }
}

TEST_F(LoaderTest, UnloadOneLeavesTheOthers) {
    ASSERT_TRUE(Loader().LoadSet(kPlayerLibraries)) << Loader().LastLoadError();
    Loader().UnloadOne(lnSDL);
    EXPECT_FALSE(Loader().IsLoaded(lnSDL));
    EXPECT_FALSE(Loader().AllLoaded(kPlayerLibraries));
    EXPECT_TRUE(Loader().AllLoaded(kConverterLibraries));

    Loader().UnloadSet(LibrarySet({lnAVCodec, lnSwScale}));
    EXPECT_FALSE(Loader().IsLoaded(lnAVCodec));
    EXPECT_FALSE(Loader().IsLoaded(lnSwScale));
    EXPECT_TRUE(Loader().IsLoaded(lnAVFormat));

    EXPECT_TRUE(Loader().LoadSet(kPlayerLibraries)) << Loader().LastLoadError();
    EXPECT_TRUE(Loader().AllLoaded(kPlayerLibraries));
}

TEST(LoaderFileNameTest, SonamesOfTheBuildTimeLibraries) {
    auto soname = [](const std::string& base, int major) {
        return "lib" + base + ".so." + std::to_string(major);
    };
    const std::pair<TLibraryNo, std::string> cases[] = {
        {lnAVCodec, soname("avcodec", LIBAVCODEC_VERSION_MAJOR)},
        {lnAVDevice, soname("avdevice", LIBAVFORMAT_VERSION_MAJOR)},
        {lnAVFilter, soname("avfilter", LIBAVFILTER_VERSION_MAJOR)},
        {lnAVFormat, soname("avformat", LIBAVFORMAT_VERSION_MAJOR)},
        {lnAVUtil, soname("avutil", LIBAVUTIL_VERSION_MAJOR)},
        {lnSwScale, soname("swscale", LIBSWSCALE_VERSION_MAJOR)},
        {lnSwResample, soname("swresample", LIBSWRESAMPLE_VERSION_MAJOR)},
        {lnSDL, "libSDL2-" + std::to_string(SDL_MAJOR_VERSION) + ".0.so.0"},
    };
    for (const auto& [library, expected] : cases)
        EXPECT_EQ(TFFmpegLoader::LibraryFileName(library), expected);
}

} // namespace
} // namespace tarnel

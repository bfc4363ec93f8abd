#include "EngineArguments.h"

#include <gtest/gtest.h>

using namespace tarnel::cli;
using A = EngineArgument;

TEST(EngineArguments, TakesOptionsInputsAndOutputsInOrder) {
    const auto parsed = ParseEngineArguments({"-ss", "2", "-i", "a:b clip.mp4", "-vn", "-acodec", "aac",
                                              "-copyts", "out.m4a", "-newaudio", "x.mp3"});
    const std::vector<EngineArgument> expected = {
        {A::Option, "ss", "2"},       {A::Input, "", "a:b clip.mp4"}, {A::Option, "vn", ""},
        {A::Option, "acodec", "aac"}, {A::Option, "copyts", ""},      {A::Output, "", "out.m4a"},
        {A::Option, "newaudio", ""},  {A::Output, "", "x.mp3"},
    };
    EXPECT_EQ(parsed, expected);
}

TEST(EngineArguments, OptionWithoutItsValueIsRefused) {
    EXPECT_THROW(ParseEngineArguments({"-i", "in.mp4", "-vcodec"}), std::invalid_argument);
    EXPECT_THROW(ParseEngineArguments({"-i"}), std::invalid_argument);
    // A lone "-" is a file name (standard input/output for the libraries), not an option.
    EXPECT_EQ(ParseEngineArguments({"-"}), (std::vector<EngineArgument>{{A::Output, "", "-"}}));
}

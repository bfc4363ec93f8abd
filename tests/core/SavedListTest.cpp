// The file list saved between runs: everything a row holds comes back, and a list that cannot be
// read gives its reason, an empty list, and is kept beside.
#include "core/SavedList.h"

#include "TestSupport.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tarnel {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<TlvFilesRecord> EditedRow() {
    auto r = std::make_unique<TlvFilesRecord>();
    r->SourceFile = "/videos/été 日本 = a;b.mp4";
    r->LengthSeconds = 3725;
    r->TrimStart = 12'500'000'000;
    r->TrimLength = 61'000'000;
    r->Zoom = "pan";
    r->CropTop = 1, r->CropLeft = 2, r->CropBottom = 3, r->CropRight = 4;
    r->CropEditTop = 5, r->CropEditLeft = 6, r->CropEditBottom = 7, r->CropEditRight = 8;
    r->Brightness = 200, r->Contrast = -20, r->Saturation = 100, r->Exposure = 7;
    r->ProcessImage = true;
    auto text = std::make_unique<TWmRec>();
    text->Text = "two\nlines \\ and a back\\nslash";
    text->Font = {"DejaVu Serif", 26, true, false, true, false, RGBColor(1, 2, 3)};
    text->TextLeft = 10, text->TextTop = 20, text->TextWidth = 300, text->TextHeight = 40;
    text->TextAlpha = 128, text->BackColor = RGBColor(9, 8, 7), text->BackOpaque = true;
    text->StartSecond = 2, text->EndSecond = 9;
    auto picture = std::make_unique<TWmRec>();
    picture->Kind = 1;
    picture->ImageFile = "/pictures/logo.png";
    picture->ImageLeft = -5, picture->ImageTop = 6, picture->ImageWidth = 64, picture->ImageHeight = 48;
    picture->ImageAlpha = 200;
    r->WaterMarks.push_back(std::move(text));
    r->WaterMarks.push_back(std::move(picture));
    return r;
}

void ExpectSameLayer(const TWmRec& a, const TWmRec& b) {
    EXPECT_EQ(a.Kind, b.Kind);
    EXPECT_EQ(a.Text, b.Text);
    EXPECT_EQ(a.Font.Name, b.Font.Name);
    EXPECT_EQ(a.Font.Size, b.Font.Size);
    EXPECT_EQ(a.Font.Bold, b.Font.Bold);
    EXPECT_EQ(a.Font.Underline, b.Font.Underline);
    EXPECT_EQ(a.Font.Color, b.Font.Color);
    EXPECT_EQ(std::tie(a.TextLeft, a.TextTop, a.TextWidth, a.TextHeight, a.TextAlpha),
              std::tie(b.TextLeft, b.TextTop, b.TextWidth, b.TextHeight, b.TextAlpha));
    EXPECT_EQ(std::tie(a.BackColor, a.BackOpaque, a.ImageFile),
              std::tie(b.BackColor, b.BackOpaque, b.ImageFile));
    EXPECT_EQ(std::tie(a.ImageLeft, a.ImageTop, a.ImageWidth, a.ImageHeight, a.ImageAlpha),
              std::tie(b.ImageLeft, b.ImageTop, b.ImageWidth, b.ImageHeight, b.ImageAlpha));
    EXPECT_EQ(std::tie(a.StartSecond, a.EndSecond), std::tie(b.StartSecond, b.EndSecond));
}

TEST(SavedListTest, EveryRowComesBackAsItWasSaved) {
    test::TempDir dir;
    const std::string path = (dir / kSavedListName).string();
    const std::unique_ptr<TlvFilesRecord> edited = EditedRow();
    TlvFilesRecord plain;
    plain.SourceFile = "/videos/plain.avi";
    std::string error;
    ASSERT_TRUE(SaveList(path, {{edited.get(), false}, {&plain, true}}, error)) << error;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1)
        << "only the list is left";

    const TLoadedList loaded = LoadList(path);
    ASSERT_EQ(loaded.Problem, "");
    ASSERT_EQ(loaded.Rows.size(), 2u);
    EXPECT_FALSE(loaded.Rows[0].Checked);
    EXPECT_TRUE(loaded.Rows[1].Checked);
    const TlvFilesRecord& r = *loaded.Rows[0].Record;
    EXPECT_EQ(r.SourceFile, edited->SourceFile);
    EXPECT_EQ(std::tie(r.LengthSeconds, r.TrimStart, r.TrimLength, r.Zoom),
              std::tie(edited->LengthSeconds, edited->TrimStart, edited->TrimLength, edited->Zoom));
    EXPECT_EQ(std::tie(r.CropTop, r.CropLeft, r.CropBottom, r.CropRight, r.CropEditTop, r.CropEditRight),
              std::tie(edited->CropTop, edited->CropLeft, edited->CropBottom, edited->CropRight,
                       edited->CropEditTop, edited->CropEditRight));
    EXPECT_EQ(std::tie(r.Brightness, r.Contrast, r.Saturation, r.Exposure, r.ProcessText, r.ProcessImage),
              std::tie(edited->Brightness, edited->Contrast, edited->Saturation, edited->Exposure,
                       edited->ProcessText, edited->ProcessImage));
    ASSERT_EQ(r.WaterMarks.size(), 2u);
    for (size_t i = 0; i < 2; ++i)
        ExpectSameLayer(*r.WaterMarks[i], *edited->WaterMarks[i]);
    EXPECT_EQ(loaded.Rows[1].Record->SourceFile, "/videos/plain.avi");

    ASSERT_TRUE(SaveList(path, {}, error));
    EXPECT_TRUE(LoadList(path).Rows.empty()) << "an emptied list is saved empty";
    EXPECT_TRUE(LoadList((dir / "none.ini").string()).Problem.empty()) << "no list yet is no problem";
}

// What a crash, a newer Tarnel or a stray file may leave: one reason, no rows, the file kept.
TEST(SavedListTest, AListThatCannotBeReadIsKeptBesideWithItsReason) {
    test::TempDir dir;
    const std::string path = (dir / kSavedListName).string();
    const std::unique_ptr<TlvFilesRecord> edited = EditedRow();
    std::string error;
    ASSERT_TRUE(SaveList(path, {{edited.get(), true}, {edited.get(), true}}, error));
    std::stringstream whole;
    whole << std::ifstream(path).rdbuf();
    const std::string saved = whole.str();

    const struct {
        const char* name;
        std::string text;
        const char* reason;
    } cases[] = {
        {"cut short", saved.substr(0, saved.size() / 2), "it is incomplete"},
        {"newer", "[list]\nVersion=9\nRows=0\n[end]\nRows=0\n", "it was saved by a newer version of Tarnel"},
        {"garbage", std::string("\x01\x02 binary \xff junk\n", 17), "it is not a saved file list"},
        {"bad number", "[list]\nVersion=1\nRows=x\n[end]\nRows=x\n", "[list] Rows is not a number: x"},
        {"row missing", "[list]\nVersion=1\nRows=1\n[end]\nRows=1\n", "[row 0] has no Source"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        const TLoadedList loaded = LoadList(path);
        EXPECT_TRUE(loaded.Rows.empty());
        EXPECT_EQ(loaded.Problem, c.reason);
        EXPECT_EQ(loaded.KeptAs, path + ".bad");
        std::stringstream kept;
        kept << std::ifstream(path + ".bad", std::ios::binary).rdbuf();
        EXPECT_EQ(kept.str(), c.text);
        EXPECT_FALSE(fs::exists(path)) << "the next save starts a new list";
    }
}

// Saves handed to the saver's thread in quick succession: the newest list is the one on disk.
TEST(SavedListTest, TheSaverWritesTheNewestList) {
    test::TempDir dir;
    const std::string path = (dir / kSavedListName).string();
    std::vector<std::unique_ptr<TlvFilesRecord>> records;
    {
        TListSaver saver(path, {});
        for (int i = 0; i < 50; ++i) {
            records.push_back(std::make_unique<TlvFilesRecord>());
            records.back()->SourceFile = "/videos/" + std::to_string(i) + ".mp4";
            TListRows rows;
            for (const auto& record : records)
                rows.emplace_back(record.get(), true);
            saver.Save(rows);
        }
        saver.Flush();
        EXPECT_EQ(LoadList(path).Rows.size(), 50u);
        records.push_back(std::make_unique<TlvFilesRecord>());
        saver.Save({{records.back().get(), false}});
    } // destruction writes what waits
    const TLoadedList loaded = LoadList(path);
    ASSERT_EQ(loaded.Rows.size(), 1u);
    EXPECT_FALSE(loaded.Rows[0].Checked);
}

} // namespace
} // namespace tarnel

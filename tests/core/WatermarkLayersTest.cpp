// The watermark layers being edited: their order after moves at either end, what deleting the
// selected one selects, the seconds a layer shows in, and what a row stores of each kind.
#include "core/WatermarkLayers.h"

#include <gtest/gtest.h>
#include <string>

namespace tarnel {
namespace {

TWmRec Text(const std::string& text) {
    TWmRec layer;
    layer.Text = text;
    return layer;
}

// Layers named "a", "b", "c" … in order, with the one at `selected` selected.
TWatermarkLayers Named(const std::string& names, int selected) {
    TWatermarkLayers layers;
    for (const char name : names)
        layers.Add(Text(std::string(1, name)));
    layers.Select(selected);
    return layers;
}

std::string Order(const TWatermarkLayers& layers) {
    std::string order;
    for (int i = 0; i < layers.Count(); ++i)
        order += layers.At(i).Text;
    return order;
}

TEST(WatermarkLayersTest, UpAndDownMoveTheSelectedLayerAndStopAtTheEnds) {
    enum class TMove { Up, Down };
    const struct {
        int selected;
        TMove move;
        std::string order;
        int selectedAfter;
        int returned;
    } cases[] = {
        {0, TMove::Up, "abc", 0, TWatermarkLayers::kNone},   // already first
        {2, TMove::Down, "abc", 2, TWatermarkLayers::kNone}, // already last
        {2, TMove::Up, "acb", 1, 1},
        {0, TMove::Down, "bac", 1, 1},
        {1, TMove::Up, "bac", 0, 0},
        {1, TMove::Down, "acb", 2, 2},
        {TWatermarkLayers::kNone, TMove::Up, "abc", TWatermarkLayers::kNone, TWatermarkLayers::kNone},
        {TWatermarkLayers::kNone, TMove::Down, "abc", TWatermarkLayers::kNone, TWatermarkLayers::kNone},
    };
    for (const auto& c : cases) {
        TWatermarkLayers layers = Named("abc", c.selected);
        const int returned = c.move == TMove::Up ? layers.MoveSelectedUp() : layers.MoveSelectedDown();
        const std::string label = std::to_string(c.selected) + (c.move == TMove::Up ? " up" : " down");
        EXPECT_EQ(Order(layers), c.order) << label;
        EXPECT_EQ(layers.Selected(), c.selectedAfter) << label;
        EXPECT_EQ(returned, c.returned) << label;
    }
}

TEST(WatermarkLayersTest, DeletingTheSelectedLayerSelectsTheOneBeforeIt) {
    const struct {
        std::string names;
        int selected;
        std::string order;
        int selectedAfter;
    } cases[] = {
        {"abc", 2, "ab", 1},
        {"abc", 1, "ac", 0},
        {"abc", 0, "bc", 0}, // the first goes: the new first is selected
        {"a", 0, "", TWatermarkLayers::kNone},
        {"abc", TWatermarkLayers::kNone, "abc", TWatermarkLayers::kNone}, // nothing selected, nothing goes
    };
    for (const auto& c : cases) {
        TWatermarkLayers layers = Named(c.names, c.selected);
        const int removed = layers.DeleteSelected();
        EXPECT_EQ(removed, c.selected) << c.names << " without " << c.selected;
        EXPECT_EQ(Order(layers), c.order) << c.names << " without " << c.selected;
        EXPECT_EQ(layers.Selected(), c.selectedAfter) << c.names << " without " << c.selected;
        EXPECT_EQ(layers.SelectedLayer() == nullptr, c.selectedAfter == TWatermarkLayers::kNone);
    }
}

TEST(WatermarkLayersTest, SelectingOutsideTheListSelectsNone) {
    TWatermarkLayers layers = Named("ab", 1);
    EXPECT_EQ(layers.SelectedLayer()->Text, "b");
    for (const int outside : {2, -1, -7}) {
        layers.Select(1);
        layers.Select(outside);
        EXPECT_EQ(layers.Selected(), TWatermarkLayers::kNone) << outside;
    }
}

// Seconds 5 through 10: from the first picture of second 5 to the last picture of second 10.
TEST(WatermarkLayersTest, ALayerShowsInTheWholeSecondsOfItsRange) {
    TWatermarkLayers layers;
    TWmRec ranged = Text("ranged");
    ranged.StartSecond = 5;
    ranged.EndSecond = 10;
    layers.Add(ranged);
    TWmRec single = Text("one second");
    single.StartSecond = 10;
    single.EndSecond = 10;
    layers.Add(single);
    const struct {
        int64_t pts; // µs
        bool ranged;
        bool single;
    } cases[] = {{0, false, false},      {4999999, false, false},  {5000000, true, false},
                 {7500000, true, false}, {9999999, true, false},   {10000000, true, true},
                 {10999999, true, true}, {11000000, false, false}, {-1, false, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(LayerShowsAt(ranged, c.pts), c.ranged) << c.pts << " µs";
        EXPECT_EQ(layers.ShownAt(c.pts), (std::vector<bool>{c.ranged, c.single})) << c.pts << " µs";
    }
}

// Each kind keeps its place, its time and the fields of its kind; the other kind's are left out.
TEST(WatermarkLayersTest, ARowStoresEachLayerWithTheFieldsOfItsKind) {
    TWatermarkLayers layers;
    TWmRec text = Text("Hello");
    text.Font.Bold = true;
    text.BackOpaque = true;
    text.BackColor = RGBColor(1, 2, 3);
    text.ImageFile = "left over.png";
    text.StartSecond = 1;
    text.EndSecond = 2;
    SetPlace(text, {30, 40, 90, 20, 200});
    layers.Add(text);
    TWmRec picture;
    picture.Kind = 1;
    picture.ImageFile = "logo.png";
    picture.Text = "left over";
    picture.EndSecond = 3;
    SetPlace(picture, {200, 150, 40, 30, 120});
    layers.Add(picture);

    const auto stored = layers.ToRecords();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(KindOf(*stored[0]), TLayerKind::Text);
    EXPECT_EQ(stored[0]->Text, "Hello");
    EXPECT_TRUE(stored[0]->Font.Bold);
    EXPECT_TRUE(stored[0]->BackOpaque);
    EXPECT_EQ(stored[0]->BackColor, RGBColor(1, 2, 3));
    EXPECT_EQ(stored[0]->ImageFile, "");
    EXPECT_EQ(PlaceOf(*stored[0]), (TLayerPlace{30, 40, 90, 20, 200}));
    EXPECT_EQ(stored[0]->ImageWidth, 0);
    EXPECT_EQ(stored[0]->StartSecond, 1);
    EXPECT_EQ(stored[0]->EndSecond, 2);

    EXPECT_EQ(KindOf(*stored[1]), TLayerKind::Picture);
    EXPECT_EQ(stored[1]->ImageFile, "logo.png");
    EXPECT_EQ(stored[1]->Text, "");
    EXPECT_EQ(PlaceOf(*stored[1]), (TLayerPlace{200, 150, 40, 30, 120}));
    EXPECT_EQ(stored[1]->TextWidth, 0);
    EXPECT_EQ(stored[1]->EndSecond, 3);
}

} // namespace
} // namespace tarnel

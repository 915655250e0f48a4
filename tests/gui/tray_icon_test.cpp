#include "gui/tray_icon.hpp"

#include <gtest/gtest.h>

namespace sejfko::test {
namespace {

TEST(CutToCharactersTest, CountsCharactersNotBytesOrUnits) {
    EXPECT_EQ(CutToCharacters("žluťoučký", 4), "žluť");
    EXPECT_EQ(CutToCharacters("abc", 10), "abc");
    EXPECT_EQ(CutToCharacters("", 3), "");
    // A character outside the basic plane counts once and is never split.
    const QString clef = QString::fromUtf8(
        "a\xF0\x9D\x84\x9E"
        "b");
    EXPECT_EQ(CutToCharacters(clef, 2), QString::fromUtf8("a\xF0\x9D\x84\x9E"));
    EXPECT_EQ(CutToCharacters(clef, 1), "a");
}

TEST(TrayIconTest, HintAndBalloonAreCut) {
    TTrayIcon tray;
    const QString long300 = QString(300, QChar(u'š'));
    tray.SetHint(long300);
    EXPECT_EQ(tray.ToolTip().size(), 127);
    tray.ShowBalloon(long300, long300, TBalloonKind::Error, 10);
    EXPECT_EQ(tray.LastBalloon().Title.size(), 63);
    EXPECT_EQ(tray.LastBalloon().Text.size(), 255);
    EXPECT_EQ(tray.LastBalloon().Kind, TBalloonKind::Error);
    EXPECT_EQ(tray.BalloonCount(), 1);
}

TEST(TrayIconTest, IndexBeyondTheListShowsTheLastImageAndCyclingWraps) {
    TTrayIcon tray;
    tray.SetIconList({"L", {QIcon(), QIcon(), QIcon()}});
    EXPECT_EQ(tray.PictureIndex(), 0);
    tray.SetIconIndex(7);
    EXPECT_EQ(tray.PictureIndex(), 2);
    tray.SetCycleInterval(500);
    tray.SetCycleIcons(true);
    EXPECT_TRUE(tray.CycleIcons());
    EXPECT_EQ(tray.IconIndex(), 0);
    std::vector<int> shown;
    for (int tick = 0; tick < 5; ++tick) {
        tray.Cycle();
        shown.push_back(tray.PictureIndex());
    }
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 0, 1}));
    tray.SetCycleIcons(false);
    EXPECT_FALSE(tray.CycleIcons());
    EXPECT_EQ(tray.PictureIndex(), 1);  // the picture stays
    tray.SetIconList({"M", {QIcon(), QIcon()}});
    EXPECT_EQ(tray.IconIndex(), 0);
    EXPECT_EQ(tray.PictureIndex(), 0);
}

}  // namespace
}  // namespace sejfko::test

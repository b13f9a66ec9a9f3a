#include "GuiFixture.h"

#include <QLocale>

namespace cardmill {
namespace {

using DocumentState = test::Gui;

TEST_F(DocumentState, APathsOwnMarkIsShownAsItIsInTheTitle)
{
    Add({ Wav("kick.wav") });
    ASSERT_TRUE(Wait([&] { return Project().CountItems(0) == 1; }));
    SaveAs(dir.File("gig[*].cmr"));
    EXPECT_FALSE(app->Frame().isWindowModified());
    // A "[*]" of the path's own is not taken for the mark of unsaved changes.
    EXPECT_EQ(app->Frame().windowTitle(),
        QString::fromStdString("Cardmill - " + dir.File("gig[*][*].cmr") + "[*]"));
}

TEST_F(DocumentState,
    OverTheCardTheStatusBarSaysByHowMuchInTheWarningColourAndACardItFitsReadsAsBefore)
{
    AStatusBar& status = app->Frame().Status();
    Add({ Wav("pad.wav", 70000) });
    ASSERT_TRUE(Wait([&] { return Project().CountItems(0) == 1; }));
    Project().SetCardSizeToken(0); // 128 K
    status.Restart();
    ASSERT_TRUE(Wait([&] { return status.PaneText(3) == "Over the card by"; }));
    Project().ComputeTotalBytes();
    const std::int64_t free = Project().FreeBytes();
    ASSERT_LT(free, -1000);
    EXPECT_EQ(status.PaneText(4), QLocale(QLocale::English).toString(-free) + " bytes");
    const QColor normal = status.PaneColour(1);
    const QColor warning = status.PaneColour(4);
    EXPECT_NE(warning, normal);
    EXPECT_GT(warning.red(), 2 * warning.green());
    EXPECT_EQ(status.PaneColour(3), warning);

    Project().SetCardSizeToken(3); // 1 Meg: it fits again, and reads as it always did
    status.Restart();
    ASSERT_TRUE(Wait([&] { return status.PaneText(3) == "Free bytes remaining:"; }));
    Project().ComputeTotalBytes();
    EXPECT_EQ(status.PaneText(4), QString::number(Project().FreeBytes()));
    EXPECT_EQ(status.PaneColour(4), normal);
}

} // namespace
} // namespace cardmill

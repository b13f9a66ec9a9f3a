#include "GuiFixture.h"
#include "model/sound/MSoundFile.h"
#include "ui/AFitDialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

namespace cardmill {
namespace {

using test::Gui;

class FitDialog : public Gui { };

TEST_F(FitDialog, ShowsThePlanAppliesTheCheckedSoundsAndUndoGivesBackTheProjectByteForByte)
{
    // Two seconds of 44.1 kHz sound on a 128 K card.
    Add({ Wav("a.wav", 44100), Wav("b.wav", 44100) });
    ASSERT_EQ(Project().CountItems(0), 2);
    Project().SetCardSizeToken(0);
    const std::string path = SaveAs(dir.File("p.cmr"));
    const auto before = test::ReadFile(path);

    QString planned, withOneUnchecked;
    OnNextDialog<AFitDialog>([&](AFitDialog& dialog) {
        QTableWidget& table = *dialog.Table();
        EXPECT_EQ(table.rowCount(), 2);
        EXPECT_EQ(table.item(0, 2)->text(), QStringLiteral("44100 -> 32000"));
        planned = dialog.Totals()->text();
        table.item(1, 0)->setCheckState(Qt::Unchecked);
        withOneUnchecked = dialog.Totals()->text();
        table.item(0, 0)->setCheckState(Qt::Unchecked);
        EXPECT_FALSE(dialog.ApplyButton()->isEnabled());
        table.item(0, 0)->setCheckState(Qt::Checked);
        table.item(1, 0)->setCheckState(Qt::Checked);
        dialog.accept();
    });
    Trigger(AMainWindow::FitToCard);
    EXPECT_TRUE(planned.contains(QStringLiteral("the card holds 131072.")));
    EXPECT_FALSE(planned.contains(QStringLiteral("over the card")));
    EXPECT_TRUE(withOneUnchecked.contains(QStringLiteral("It is over the card by")));
    // Sample Info's rate is the new sound's.
    const auto* fitted = dynamic_cast<const MSoundFile*>(Project().GetItem(0, 0));
    ASSERT_TRUE(fitted);
    EXPECT_EQ(fitted->SampleRateText(), "32000 Hz");
    EXPECT_EQ(fitted->GetPath(), dir.File("p.fit/a.wav"));
    EXPECT_EQ(Window().Action(AMainWindow::Undo)->text(), QStringLiteral("&Undo Fit to Card"));

    Trigger(AMainWindow::Save);
    const auto after = test::ReadFile(path);
    EXPECT_NE(after, before);
    Trigger(AMainWindow::Undo);
    Trigger(AMainWindow::Save);
    EXPECT_EQ(test::ReadFile(path), before);
    EXPECT_EQ(Window().Action(AMainWindow::Undo)->text(), QStringLiteral("&Redo Fit to Card"));
    Trigger(AMainWindow::Undo);
    Trigger(AMainWindow::Save);
    EXPECT_EQ(test::ReadFile(path), after);
}

} // namespace
} // namespace cardmill

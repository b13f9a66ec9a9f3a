#include "GuiFixture.h"

#include <QMouseEvent>
#include <QTest>
#include <tuple>

namespace cardmill {
namespace {

using MainWindow = test::Gui;

QString Cell(AMainWindow& window, int row, int column)
{
    QTreeWidgetItem* item = window.Files()->topLevelItem(row);
    return item ? item->text(column) : QString();
}

TEST_F(MainWindow, SequencesAreNumberedInTheirTipAndCommandsFollowTheGroup)
{
    Add({ Song("a.mid"), Song("b.mid") });
    Window().Groups()->setCurrentRow(11);
    ASSERT_EQ(Window().Files()->topLevelItemCount(), 2);
    EXPECT_EQ(Window().Files()->topLevelItem(1)->toolTip(1), "Sequence 01");

    using C = AMainWindow::Command;
    // Which of Voice Info, Rename Group, Create Instrument, Cut, Save, Send, Revert and Paste
    // can be chosen, and what Voice Info is called, with `group` shown (and the first file of
    // Sequences selected).
    const auto commands = [&](int group) {
        Window().Groups()->setCurrentRow(group);
        if (group == 11)
            Window().SelectFile(0);
        Window().UpdateCommands();
        std::vector<bool> enabled;
        for (const C command : { C::VoiceInfo, C::RenameGroup, C::CreateInstrument, C::Cut, C::Save,
                 C::SendToSynth, C::Revert, C::Paste })
            enabled.push_back(Window().Action(command)->isEnabled());
        return std::pair(Window().Action(C::VoiceInfo)->text(), enabled);
    };
    using Shown = std::pair<QString, std::vector<bool>>;
    EXPECT_EQ(commands(11),
        Shown("Se&quence Info...", { true, false, false, true, true, true, false, false }));
    EXPECT_EQ(commands(12),
        Shown("&Voice Info...", { false, false, false, false, true, true, false, false }));
    // No drum instruments; no Revert before the project is on disk; nothing to paste.
    EXPECT_EQ(commands(8),
        Shown("&Voice Info...", { false, true, false, false, true, true, false, false }));
    EXPECT_EQ(commands(3),
        Shown("&Voice Info...", { false, true, true, false, true, true, false, false }));
}

/// Sends a mouse event to the file list as the pointer would, at a point of `target`.
void Mouse(QWidget* list, QEvent::Type type, QWidget* target, QPoint at,
    Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QPoint global = target->mapToGlobal(at);
    const QPoint local = list->mapFromGlobal(global);
    QMouseEvent event(type, local, global, Qt::LeftButton,
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, modifiers);
    QCoreApplication::sendEvent(list, &event);
}

TEST_F(MainWindow, DraggingMovesWithinTheListAndControlCopiesOntoAnotherGroup)
{
    Add({ Wav("one.wav"), Wav("two.wav"), Wav("three.wav") });
    ASSERT_EQ(Window().Files()->topLevelItemCount(), 3);
    QWidget* viewport = Window().Files()->viewport();
    const auto rowCentre = [&](int row) {
        return Window().Files()->visualItemRect(Window().Files()->topLevelItem(row)).center();
    };
    // Row 0 dragged below row 2: it lands last.
    Mouse(viewport, QEvent::MouseButtonPress, viewport, rowCentre(0));
    Mouse(viewport, QEvent::MouseMove, viewport, rowCentre(1));
    Mouse(viewport, QEvent::MouseMove, viewport, rowCentre(2) + QPoint(0, 4));
    Mouse(viewport, QEvent::MouseButtonRelease, viewport, rowCentre(2) + QPoint(0, 4));
    EXPECT_EQ((QStringList { Cell(Window(), 0, 0), Cell(Window(), 2, 0),
                  Window().Action(AMainWindow::Undo)->text() }),
        (QStringList { "two.wav", "one.wav", "&Undo Drag Move" }));

    // Onto itself, or onto the marker just below itself: nothing, and no new undo action.
    Trigger(AMainWindow::Undo);
    EXPECT_EQ(Cell(Window(), 0, 0), QStringLiteral("one.wav"));
    Mouse(viewport, QEvent::MouseButtonPress, viewport, rowCentre(1));
    Mouse(viewport, QEvent::MouseMove, viewport, rowCentre(1) + QPoint(0, 5));
    Mouse(viewport, QEvent::MouseButtonRelease, viewport, rowCentre(1) + QPoint(0, 5));
    EXPECT_EQ((QStringList { Cell(Window(), 1, 0), Window().Action(AMainWindow::Undo)->text() }),
        (QStringList { "two.wav", "&Redo Drag Move" }));

    // Control held over keyboard group 4: a copy at its end; the group becomes current.
    QWidget* groups = Window().Groups()->viewport();
    const QPoint group4 = Window().Groups()->visualItemRect(Window().Groups()->item(4)).center();
    Mouse(viewport, QEvent::MouseButtonPress, viewport, rowCentre(1));
    Mouse(viewport, QEvent::MouseMove, viewport, rowCentre(0));
    Mouse(viewport, QEvent::MouseMove, groups, group4, Qt::ControlModifier);
    Mouse(viewport, QEvent::MouseButtonRelease, groups, group4, Qt::ControlModifier);
    EXPECT_EQ(std::tuple(Project().CountItems(0), Project().CountItems(4), Window().CurrentGroup(),
                  Window().CurrentRow(), Cell(Window(), 0, 0),
                  Window().Action(AMainWindow::Undo)->text()),
        std::tuple(3, 1, 4, -1, QStringLiteral("two.wav"), QStringLiteral("&Undo Drag Copy")));
    Trigger(AMainWindow::Undo);
    EXPECT_EQ(Project().CountItems(4), 0);

    // Without Control the file moves; onto Sequences nothing happens.
    Window().SelectGroup(0);
    const QPoint sequences
        = Window().Groups()->visualItemRect(Window().Groups()->item(11)).center();
    Mouse(viewport, QEvent::MouseButtonPress, viewport, rowCentre(0));
    Mouse(viewport, QEvent::MouseMove, groups, sequences);
    Mouse(viewport, QEvent::MouseButtonRelease, groups, sequences);
    EXPECT_EQ(Project().CountItems(0), 3);
    Mouse(viewport, QEvent::MouseButtonPress, viewport, rowCentre(0));
    Mouse(viewport, QEvent::MouseMove, groups, group4);
    Mouse(viewport, QEvent::MouseButtonRelease, groups, group4);
    EXPECT_EQ(std::tuple(Project().CountItems(0), Project().CountItems(4)), std::tuple(2, 1));
}

} // namespace
} // namespace cardmill

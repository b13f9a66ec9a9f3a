#include "GuiFixture.h"
#include "platform/AudioOutput.h"
#include "support/Builders.h"
#include "model/sound/ASoundSystem.h"
#include "ui/AAddFilesDialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>

namespace cardmill {
namespace {

class Preview : public test::Gui {
protected:
    // Room for three chunks of a mono sound at once.
    void Configure(AppOptions& options) override { options.audio = &output; }

    NullAudioOutput output { 3 * ASoundSystem::kChunkFrames };
};

TEST_F(Preview, PlaysEveryFrameInChunksAndStopsWithinOnePollOfTheEnd)
{
    constexpr std::uint32_t kFrames = 50000;
    const std::string path = dir.Write("tone.wav", test::WavBuilder().Frames(kFrames).Build());
    Add({ QString::fromStdString(path) });
    Window().SelectFile(0);
    Trigger(AMainWindow::PlayStop);
    EXPECT_EQ(output.starts, 1);
    EXPECT_EQ(output.channels, 1);
    EXPECT_TRUE(Window().ShowingPlaying());
    // The output takes three chunks at a time: playback goes on as it drains.
    int polls = 0;
    while (output.written < kFrames && polls++ < 100) {
        output.Drain();
        Window().PollPreview();
    }
    EXPECT_EQ(output.written, kFrames);
    EXPECT_GT(output.writes, 10);
    EXPECT_TRUE(Window().ShowingPlaying()); // the last samples are still to be heard
    output.Drain();
    Window().PollPreview();
    EXPECT_FALSE(Window().ShowingPlaying());
    EXPECT_EQ(output.stops, 1);
}

TEST_F(Preview, StopSelectingAnotherFileAndADeletedFile)
{
    const auto wav = test::WavBuilder().Frames(40000).Build();
    Add({ QString::fromStdString(dir.Write("a.wav", wav)),
        QString::fromStdString(dir.Write("b.wav", wav)) });
    Window().SelectFile(0);
    Trigger(AMainWindow::PlayStop);
    EXPECT_TRUE(Window().ShowingPlaying());
    Trigger(AMainWindow::PlayStop); // pressed again: stops
    EXPECT_FALSE(Window().ShowingPlaying());

    Trigger(AMainWindow::PlayStop);
    Window().SelectFile(1);
    Window().PollPreview();
    EXPECT_FALSE(Window().ShowingPlaying());
    EXPECT_EQ(output.stops, 2);

    std::filesystem::remove(dir.File("b.wav"));
    Window().UpdateCommands();
    EXPECT_FALSE(Window().Action(AMainWindow::PlayStop)->isEnabled());
}

TEST_F(Preview, WithoutAnOutputDevicePlaySaysSoOnce)
{
    output.available = false;
    Add({ QString::fromStdString(dir.Write("c.wav", test::WavBuilder().Frames(1000).Build())) });
    Window().SelectFile(0);
    Trigger(AMainWindow::PlayStop);
    Trigger(AMainWindow::PlayStop);
    int told = 0;
    for (const auto& box : prompter.shown)
        told += box.text.find("can't be played") != std::string::npos ? 1 : 0;
    EXPECT_EQ(told, 1);
    EXPECT_FALSE(Window().ShowingPlaying());
    // Everything else goes on: the file is still there to work with.
    EXPECT_EQ(Project().CountItems(0), 1);
}

TEST_F(Preview, TheAddFilesDialogsPlayButtonFollowsPlayback)
{
    const QString path
        = QString::fromStdString(dir.Write("look.wav", test::WavBuilder().Frames(20000).Build()));
    QString during;
    QString after;
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
        auto* dialog = dynamic_cast<AAddFilesDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        poll->stop();
        poll->deleteLater();
        emit dialog->Chooser()->currentChanged(path);
        dialog->PlayButton()->click();
        during = dialog->PlayButton()->text();
        // The output hears everything; within a tick of its timer the button is back.
        for (int tick = 0; tick < 200 && output.written < 20000; ++tick) {
            output.Drain();
            QTest::qWait(20);
        }
        output.Drain();
        QTest::qWait(250);
        after = dialog->PlayButton()->text();
        dialog->reject();
    });
    poll->start(10);
    Trigger(AMainWindow::AddFiles);
    EXPECT_EQ(during, QStringLiteral("Sto&p"));
    EXPECT_EQ(after, QStringLiteral("&Play"));
}

} // namespace
} // namespace cardmill

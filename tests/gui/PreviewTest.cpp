#include "GuiFixture.h"
#include "model/sound/ASoundSystem.h"
#include "platform/AudioOutput.h"
#include "support/Instruments.h"
#include "support/SoundFontBuilder.h"
#include "ui/AAddFilesDialog.h"

#include <QFileDialog>
#include <QPushButton>

namespace cardmill {
namespace {

class Preview : public test::Gui {
protected:
    void Configure(AppOptions& options) override { options.audio = &output; }

    /// What Add Files' Play does for a file chosen in its list: whether it could be pressed,
    /// the button's text while it plays, and whether it came back to Play once all was heard.
    struct Played {
        bool enabled = false;
        QString during;
        bool backToPlay = false;
    };
    Played PlayInAddFiles(const std::string& path)
    {
        Played played;
        OnNextDialog<AAddFilesDialog>([&](AAddFilesDialog& dialog) {
            emit dialog.Chooser()->currentChanged(QString::fromStdString(path));
            played.enabled = dialog.PlayButton()->isEnabled();
            dialog.PlayButton()->click();
            played.during = dialog.PlayButton()->text();
            // Once the output has heard everything, the button is back within a tick of its
            // timer.
            played.backToPlay = Wait([&] {
                output.Drain();
                return dialog.PlayButton()->text() == QStringLiteral("&Play");
            });
            dialog.reject();
        });
        Trigger(AMainWindow::AddFiles);
        return played;
    }

    // Less room than a chunk, as a sound server's buffer often has: the sound must still be
    // given to it whole, a little at a time.
    NullAudioOutput output { ASoundSystem::kChunkFrames / 3 };
};

TEST_F(Preview, PlaysEveryFrameAsTheOutputTakesThemAndStopsWithinOnePollOfTheEnd)
{
    constexpr std::uint32_t kFrames = 50000;
    Add({ Wav("tone.wav", kFrames) });
    Window().SelectFile(0);
    Trigger(AMainWindow::PlayStop);
    EXPECT_EQ(output.starts, 1);
    EXPECT_EQ(output.channels, 1);
    EXPECT_TRUE(Window().ShowingPlaying());
    // Playback goes on as the output drains.
    for (int polls = 0; output.written < kFrames && polls < 1000; ++polls) {
        output.Drain();
        Window().PollPreview();
    }
    EXPECT_EQ(output.written, kFrames);
    EXPECT_TRUE(Window().ShowingPlaying()); // the last samples are still to be heard
    output.Drain();
    Window().PollPreview();
    EXPECT_FALSE(Window().ShowingPlaying());
    EXPECT_EQ(output.stops, 1);
}

TEST_F(Preview, StopSelectingAnotherFileAndADeletedFile)
{
    Add({ Wav("a.wav", 40000), Wav("b.wav", 40000) });
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
    Add({ Wav("c.wav", 1000) });
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
    const Played played = PlayInAddFiles(Wav("look.wav", 20000));
    EXPECT_EQ(played.during, QStringLiteral("Sto&p"));
    EXPECT_TRUE(played.backToPlay);
    EXPECT_EQ(output.written, 20000u);
}

TEST_F(Preview, PlayOnAnInstrumentPlaysAPhraseAcrossItsKeyGroupsAsTheCardWill)
{
    const std::string low = Wav("low.wav", 30000), high = Wav("high.wav", 30000);
    const std::string cmt = dir.Write(
        "two.cmt", test::CmtBuilder().Groups(2, 1, { 59, 127 }).Add({ low }).Add({ high }).Build());
    Add({ cmt });
    Window().SelectFile(0);
    EXPECT_TRUE(Window().Action(AMainWindow::PlayStop)->isEnabled());
    Trigger(AMainWindow::PlayStop);
    EXPECT_TRUE(Window().ShowingPlaying());
    EXPECT_EQ(output.rate, 48000);
    // The phrase plays for its two seconds and the button comes back by itself.
    EXPECT_TRUE(Wait([&] {
        output.Drain();
        Window().PollPreview();
        return !Window().ShowingPlaying();
    }));
    EXPECT_GT(output.written, 48000u);
    // Pressed again while it plays: it stops.
    Trigger(AMainWindow::PlayStop);
    EXPECT_TRUE(Window().ShowingPlaying());
    Trigger(AMainWindow::PlayStop);
    EXPECT_FALSE(Window().ShowingPlaying());
}

TEST_F(Preview, TheAddFilesDialogsPlayButtonPlaysAnInstrumentAndAPreset)
{
    const std::string a = Wav("a.wav", 30000), b = Wav("b.wav", 30000);
    test::SoundFontBuilder font;
    std::vector<std::int16_t> tone(30000);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<std::int16_t>((i * 97) % 20000 - 10000);
    font.samples = { { "Tone", tone } };
    font.instruments = { { "Tone", 0, 0, { { { { 53, 0 } } } } } };
    font.presets = { { "Organ", 0, 0, { { { { 41, 0 } } } } } };
    for (const std::string& path :
        { dir.Write("pair.cmt",
              test::CmtBuilder().Groups(2, 1, { 59, 127 }).Add({ a }).Add({ b }).Build()),
            dir.Write("organ.sf2", font.Build()) }) {
        const std::size_t before = output.written;
        const Played played = PlayInAddFiles(path);
        EXPECT_TRUE(played.enabled) << path;
        EXPECT_EQ(played.during, QStringLiteral("Sto&p")) << path;
        EXPECT_TRUE(played.backToPlay) << path;
        EXPECT_GT(output.written - before, 48000u) << path;
    }
    EXPECT_EQ(Project().CountItems(0), 0); // heard, not added
}

} // namespace
} // namespace cardmill

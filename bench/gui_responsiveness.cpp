// The desktop application's responsiveness, measured in the real application on Qt's offscreen
// platform and printed against its targets: how soon the status bar shows the free bytes after
// a change (100 ms for any project, a full card of 1,400 files included), and the longest the
// window's event loop waits while 16 MB are written to an image file and sent to the virtual
// instrument (50 ms).

#include "app/AApplication.h"
#include "app/AMainFrame.h"
#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/MReadableFile.h"
#include "platform/AudioOutput.h"
#include "platform/ScriptedPrompter.h"
#include "ui/AMainWindow.h"
#include "ui/FileChooser.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace {

using namespace cardmill;
using Clock = std::chrono::steady_clock;

constexpr double kFreeBytesTargetMs = 100;
constexpr double kLoopGapTargetMs = 50;

/// Save dialogs answer with the next path given.
class PathChooser final : public FileChooser {
public:
    QString OpenFile(QWidget*, const QString&, const QString&) override { return next; }
    QString SaveFile(QWidget*, const QString&, const QString&, const QString&) override
    {
        return next;
    }
    QString ChooseFolder(QWidget*, const QString&, const QString&) override { return next; }
    Found FindFile(QWidget*, const QString&, const QString&, bool) override { return {}; }
    QString next;
};

/// A mono 16-bit WAV of `frames` frames of a tone of its own, so that no two files share data.
void WriteWav(const std::filesystem::path& path, std::uint32_t frames, double hz)
{
    std::ofstream out(path, std::ios::binary);
    const auto put = [&](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.put(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    out.write("RIFF", 4);
    put(36 + frames * 2, 4);
    out.write("WAVEfmt ", 8);
    put(16, 4);
    put(1, 2);
    put(1, 2);
    put(44100, 4);
    put(88200, 4);
    put(2, 2);
    put(16, 2);
    out.write("data", 4);
    put(frames * 2, 4);
    for (std::uint32_t i = 0; i < frames; ++i)
        put(static_cast<std::uint16_t>(
                static_cast<std::int16_t>(8000 * std::sin(i * hz * 6.2831853 / 44100))),
            2);
}

bool WaitFor(const std::function<bool()>& done, int ms = 600000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

/// The longest time the event loop went without running.
class LoopWatch {
public:
    LoopWatch()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            if (last)
                longest = std::max(longest, now - *last);
            last = now;
        });
        timer.start(2);
    }
    double LongestMs() const { return std::chrono::duration<double, std::milli>(longest).count(); }

private:
    QTimer timer;
    std::optional<Clock::time_point> last;
    Clock::duration longest {};
};

struct Bench {
    explicit Bench(const std::filesystem::path& folder)
    {
        std::filesystem::create_directories(folder / "config");
        std::ofstream(folder / "config/Cardmill.conf")
            << "[Hardware]\nMidiInputPort=sim\nMidiOutputPort=sim\n";
        AppOptions options;
        options.configDir = (folder / "config").string();
        options.prompter = &prompter;
        options.chooser = &chooser;
        options.splash = false;
        options.audio = &audio;
        options.sim.instrument.cardBytes = 16 * 1024 * 1024;
        app = std::make_unique<AApplication>(options);
    }
    ~Bench() { app->Controller().Project().ClearDirty(); }
    MProject& Project() { return app->Controller().Project(); }
    AMainWindow& Window() { return app->MainWindow(); }
    void Trigger(AMainWindow::Command command)
    {
        Window().UpdateCommands();
        Window().Action(command)->trigger();
    }
    bool Loaded(int files)
    {
        int count = 0;
        for (int group = 0; group < MProject::kSoundGroups; ++group)
            count += Project().CountItems(group);
        return count == files && !app->Pending().HasPending();
    }

    ScriptedPrompter prompter;
    PathChooser chooser;
    NullAudioOutput audio;
    std::unique_ptr<AApplication> app;
};

/// Milliseconds from taking a file out of a project of `files` sounds to the status bar showing
/// the new free bytes.
double FreeBytesAfterAChange(const std::filesystem::path& folder, int files)
{
    Bench bench(folder / ("free-" + std::to_string(files)));
    if (!bench.app->Start())
        return -1;
    for (int group = 0, added = 0; added < files; ++group) {
        QStringList batch;
        for (int i = 0; i < 128 && added < files; ++i, ++added) {
            const auto path = folder / ("s" + std::to_string(added) + ".wav");
            if (!std::filesystem::exists(path))
                WriteWav(path, 2000, 100 + added);
            batch.push_back(QString::fromStdString(path.string()));
        }
        bench.Window().SelectGroup(group);
        bench.Window().DropFiles(batch);
    }
    if (!WaitFor([&] { return bench.Loaded(files); }))
        return -1;
    const auto pane = [&] { return bench.app->Frame().Status().PaneText(4); };
    WaitFor([&] { return pane() == QString::number(bench.Project().FreeBytes()); });
    MReadableFile* first = bench.Project().GetItem(0, 0);
    const QString expected
        = QString::number(bench.Project().FreeBytes() + first->GetCompiledSize());
    const auto start = Clock::now();
    bench.Project().RemoveItem(first);
    if (!WaitFor([&] { return pane() == expected; }, 60000))
        return -1;
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Gaps {
    double image = -1;
    double send = -1;
};

/// The longest waits of the event loop while a 16 MB card is written to a file and sent.
Gaps WhileSixteenMegabytesGo(const std::filesystem::path& folder)
{
    Bench bench(folder / "sixteen");
    Gaps gaps;
    if (!bench.app->Start())
        return gaps;
    const auto sound = folder / "sixteen.wav";
    WriteWav(sound, 8 * 1024 * 1024 - 4096, 440);
    bench.Window().DropFiles({ QString::fromStdString(sound.string()) });
    if (!WaitFor([&] { return bench.Loaded(1); }))
        return gaps;
    bench.Project().SetCardSizeToken(7);
    bench.chooser.next = QString::fromStdString((folder / "sixteen.img").string());
    {
        LoopWatch watch;
        bench.Trigger(AMainWindow::CreateImageFile);
        if (bench.prompter.LastText() == "The image file is ready.")
            gaps.image = watch.LongestMs();
    }
    {
        LoopWatch watch;
        bench.Trigger(AMainWindow::SendToSynth);
        if (bench.prompter.LastText() == "The card is ready.")
            gaps.send = watch.LongestMs();
    }
    return gaps;
}

int Report(const char* what, double ms, double target)
{
    if (ms < 0) {
        std::printf("%-58s failed\n", what);
        return 1;
    }
    std::printf("%-58s %8.1f ms  (target %3.0f ms: %.2f of it)\n", what, ms, target, ms / target);
    return ms <= target ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication qt(argc, argv);
    const auto folder = std::filesystem::temp_directory_path()
        / ("cardmill-gui-bench-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::create_directories(folder);
    int failed = 0;
    failed += Report("free bytes after a change, 100 sounds", FreeBytesAfterAChange(folder, 100),
        kFreeBytesTargetMs);
    failed += Report("free bytes after a change, 1,400 sounds (a full card)",
        FreeBytesAfterAChange(folder, 1400), kFreeBytesTargetMs);
    const Gaps gaps = WhileSixteenMegabytesGo(folder);
    failed += Report("longest event-loop wait, 16 MB image file", gaps.image, kLoopGapTargetMs);
    failed += Report("longest event-loop wait, 16 MB sent", gaps.send, kLoopGapTargetMs);
    std::filesystem::remove_all(folder);
    return failed == 0 ? 0 : 1;
}

#include "ui/ProgressDialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <thread>

namespace cardmill {

namespace {

// Often enough to look live, seldom enough that a flood of updates costs the window nothing.
constexpr int kRefreshMs = 40;

QString Text(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Joined(std::string_view a, std::string_view b)
{
    return std::string(a) + std::string(b);
}

} // namespace

ProgressDialog::ProgressDialog(QWidget* parent, bool withBanner)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Progress"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    if (withBanner) {
        banner = new QLabel(this);
        layout->addWidget(banner);
    }
    phase = new QLabel(this);
    sector = new QLabel(this);
    block = new QLabel(this);
    timeLeft = new QLabel(this);
    bar = new QProgressBar(this);
    bar->setRange(0, 100);
    bar->setValue(0);
    note = new QLabel(this);
    note->setWordWrap(true);
    note->hide();
    stopButton = new QPushButton(QStringLiteral("Stop"), this);
    for (QWidget* widget : { static_cast<QWidget*>(phase), static_cast<QWidget*>(sector),
             static_cast<QWidget*>(block), static_cast<QWidget*>(timeLeft),
             static_cast<QWidget*>(bar), static_cast<QWidget*>(note) })
        layout->addWidget(widget);
    layout->addWidget(stopButton, 0, Qt::AlignHCenter);
    setMinimumWidth(380);
    connect(stopButton, &QPushButton::clicked, this, &ProgressDialog::RequestStop);
    connect(&refresh, &QTimer::timeout, this, &ProgressDialog::Refresh);
}

ProgressDialog::~ProgressDialog() = default;

void ProgressDialog::RequestStop()
{
    if (waitingForOk) {
        waitingForOk = false;
        done(QDialog::Accepted);
        return;
    }
    stop = true;
}

void ProgressDialog::Run(const std::function<void()>& job)
{
    stop = false;
    running = true;
    refresh.start(kRefreshMs);
    std::thread worker([this, &job] {
        job();
        running = false;
        QMetaObject::invokeMethod(
            this,
            [this] {
                Refresh();
                done(QDialog::Accepted);
            },
            Qt::QueuedConnection);
    });
    exec();
    worker.join();
    refresh.stop();
    Refresh();
}

void ProgressDialog::WaitForOk()
{
    bar->hide();
    stopButton->setText(QStringLiteral("OK"));
    waitingForOk = true;
    exec();
}

void ProgressDialog::Set(std::string Lines::*line, std::string text)
{
    std::lock_guard lock(mutex);
    if (lines.*line == text)
        return;
    if (line == &Lines::sector || line == &Lines::block)
        seen.push_back(text);
    lines.*line = std::move(text);
    lines.changed = true;
}

void ProgressDialog::SetBanner(std::string_view text)
{
    Set(&Lines::banner, std::string(text));
}

void ProgressDialog::SetPhase(std::string_view lead, std::string_view detail)
{
    Set(&Lines::phase, Joined(lead, detail));
}

void ProgressDialog::SetSector(std::string_view lead, std::string_view detail)
{
    Set(&Lines::sector, Joined(lead, detail));
}

void ProgressDialog::SetBlock(std::string_view lead, std::string_view detail)
{
    Set(&Lines::block, Joined(lead, detail));
}

void ProgressDialog::SetPercent(int percent)
{
    std::lock_guard lock(mutex);
    lines.percent = percent;
    lines.changed = true;
}

void ProgressDialog::Pulse()
{
    std::lock_guard lock(mutex);
    ++lines.pulses;
    lines.changed = true;
}

void ProgressDialog::SetTimeLeft(std::int64_t seconds)
{
    Set(&Lines::timeLeft, seconds > 0 ? "Time left:  " + DurationText(seconds) : "");
}

void ProgressDialog::Note(std::string_view text)
{
    Set(&Lines::note, std::string(text));
}

std::vector<std::string> ProgressDialog::LinesSeen() const
{
    std::lock_guard lock(mutex);
    return seen;
}

QString ProgressDialog::LineText(int which) const
{
    const QLabel* labels[] = { banner, phase, sector, block, note };
    const QLabel* label = which >= 0 && which < 5 ? labels[which] : nullptr;
    return label ? label->text() : QString();
}

void ProgressDialog::Refresh()
{
    Lines now;
    {
        std::lock_guard lock(mutex);
        if (!lines.changed)
            return;
        lines.changed = false;
        now = lines;
    }
    if (banner)
        banner->setText(Text(now.banner));
    phase->setText(Text(now.phase));
    sector->setText(Text(now.sector));
    block->setText(Text(now.block));
    timeLeft->setText(Text(now.timeLeft));
    note->setText(Text(now.note));
    note->setVisible(!now.note.empty());
    if (now.pulses != shownPulses) {
        // An activity indicator: the bar moves on by one each step, then starts again.
        shownPulses = now.pulses;
        bar->setValue(shownPulses % 101);
    } else {
        bar->setValue(now.percent);
    }
}

} // namespace cardmill

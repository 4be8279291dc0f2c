// SPDX-License-Identifier: GPL-3.0-or-later

#include "support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <sndfile.h>

#include <cmath>
#include <csignal>
#include <vector>

namespace tovrel::testing {

std::optional<int> run(const QString& program, const QStringList& arguments, std::chrono::milliseconds timeout) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted() || !process.waitForFinished(static_cast<int>(timeout.count()))) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit) {
        return std::nullopt;
    }
    return process.exitCode();
}

bool haveProgram(const QString& program) { return !QStandardPaths::findExecutable(program).isEmpty(); }

bool makeWav(const QString& path, double seconds, int hz, int rate, int channels) {
    return run("sox", {"-n", "-r", QString::number(rate), "-c", QString::number(channels), "-b", "16", path, "synth",
                       QString::number(seconds), "sine", QString::number(hz), "vol", "0.5"}) == 0;
}

bool makeMp3(const QString& path, double seconds, int hz, bool id3Tag, int kbps) {
    const QString wav = path + ".source.wav";
    if (!makeWav(wav, seconds, hz)) {
        return false;
    }
    QStringList arguments{"--quiet", "-b", QString::number(kbps)};
    if (id3Tag) {
        arguments << "--add-id3v2"
                  << "--tt"
                  << "Alarm";
    }
    arguments << wav << path;
    const bool made = run("lame", arguments) == 0;
    QFile::remove(wav);
    return made;
}

bool soundServerAvailable() {
    return !qEnvironmentVariableIsEmpty("PULSE_SERVER") && run("pactl", {"info"}, std::chrono::seconds(5)) == 0;
}

namespace {

std::optional<SoundStats> soxStat(const QStringList& arguments) {
    QProcess sox;
    sox.start("sox", arguments);
    if (!sox.waitForFinished(20000) || sox.exitStatus() != QProcess::NormalExit || sox.exitCode() != 0) {
        return std::nullopt;
    }
    // sox writes the figures to its error channel, one "Name:  value" a line.
    const QString report = QString::fromLocal8Bit(sox.readAllStandardError());
    const auto figure = [&report](const char* name) -> std::optional<double> {
        QStringList words = QString::fromLatin1(name).split(' ');
        for (auto& word : words) {
            word = QRegularExpression::escape(word);
        }
        const QRegularExpression line("^" + words.join("\\s+") + ":\\s*(\\S+)", QRegularExpression::MultilineOption);
        const auto match = line.match(report);
        bool ok = false;
        const double value = match.hasMatch() ? match.captured(1).toDouble(&ok) : 0.0;
        return ok ? std::optional(value) : std::nullopt;
    };
    const auto seconds = figure("Length (seconds)");
    const auto rms = figure("RMS amplitude");
    const auto max = figure("Maximum amplitude");
    const auto hz = figure("Rough frequency");
    if (!seconds || !rms || !max || !hz) {
        return std::nullopt;
    }
    return SoundStats{*seconds, *rms, *max, *hz};
}

// Cuts the leading quiet; sound is anything above 2 % of full scale.
const QStringList kSkipQuiet{"silence", "1", "0.005", "2%"};

}  // namespace

std::optional<SoundStats> analyse(const QString& wavPath, double start, double length) {
    QStringList arguments{wavPath, "-n", "trim", QString::number(start)};
    if (length >= 0) {
        arguments << QString::number(length);
    }
    return soxStat(arguments << "stat");
}

std::optional<SoundStats> analyseSounding(const QString& wavPath, double length) {
    QStringList arguments{wavPath, "-n"};
    arguments << kSkipQuiet;
    if (length >= 0) {
        arguments << "trim"
                  << "0" << QString::number(length);
    } else {
        arguments << "reverse" << kSkipQuiet << "reverse";
    }
    auto stats = soxStat(arguments << "stat");
    if (!stats || stats->seconds <= 0.0) {
        return std::nullopt;
    }
    return stats;
}

std::optional<double> longestPause(const QString& wavPath) {
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(wavPath).constData(), SFM_READ, &info);
    if (file == nullptr || info.channels != 1 || info.samplerate <= 0) {
        if (file != nullptr) {
            sf_close(file);
        }
        return std::nullopt;
    }
    std::vector<float> samples(static_cast<std::size_t>(info.frames));
    samples.resize(static_cast<std::size_t>(sf_readf_float(file, samples.data(), info.frames)));
    sf_close(file);
    const auto loud = [](float sample) { return std::fabs(sample) > 0.01F; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud).base();
    if (first >= last) {
        return std::nullopt;
    }
    std::ptrdiff_t longest = 0;
    for (auto at = first; at != last;) {
        const auto end = std::find_if(at, last, loud);
        longest = std::max(longest, end - at);
        at = std::find_if_not(end, last, loud);
    }
    return static_cast<double>(longest) / info.samplerate;
}

SinkRecording::SinkRecording(const QString& wavPath, const QString& monitor)
    : path_(wavPath), recorder_(std::make_unique<QProcess>()) {
    QFile::remove(path_);
    recorder_->setProcessChannelMode(QProcess::ForwardedChannels);
    recorder_->start("parecord",
                     {"-d", monitor, "--file-format=wav", "--channels=1", "--rate=44100", "--format=s16le", path_});
    if (recorder_->waitForStarted()) {
        // Give the recorder time to connect before the sound starts.
        QThread::msleep(400);
    }
}

SinkRecording::~SinkRecording() { finish(); }

bool SinkRecording::started() const { return recorder_->state() == QProcess::Running; }

std::optional<SoundStats> SinkRecording::finish() {
    if (recorder_->state() == QProcess::Running) {
        // parecord completes the wave header when interrupted.
        ::kill(static_cast<pid_t>(recorder_->processId()), SIGINT);
        if (!recorder_->waitForFinished(5000)) {
            recorder_->kill();
            recorder_->waitForFinished();
        }
    }
    if (!QFileInfo::exists(path_)) {
        return std::nullopt;
    }
    return analyse(path_);
}

SinkInputsLater::SinkInputsLater(std::chrono::milliseconds delay) : pactl_(std::make_unique<QProcess>()) {
    pactl_->start("sh", {"-c", QString("sleep %1; exec pactl list sink-inputs").arg(delay.count() / 1000.0)});
}

SinkInputsLater::~SinkInputsLater() { text(); }

QString SinkInputsLater::text() {
    pactl_->waitForFinished(10000);
    return QString::fromUtf8(pactl_->readAllStandardOutput());
}

::testing::AssertionResult hasTovrelStream(const QString& sinkInputs, const QString& role, const QString& name) {
    // One block a stream, its properties one "key = "value"" a line.
    for (const QString& stream : sinkInputs.split("Sink Input #")) {
        QStringList missing;
        const std::vector<std::pair<QString, QString>> expected{{"application.name", "MP3 Tovrel"},
                                                                {"application.icon_name", TOVREL_APP_ID},
                                                                {"application.id", TOVREL_APP_ID},
                                                                {"media.role", role},
                                                                {"media.name", name}};
        for (const auto& [key, value] : expected) {
            if (!stream.contains(QString("%1 = \"%2\"").arg(key, value))) missing << key;
        }
        if (missing.isEmpty()) return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "no stream named " << name.toStdString() << " with role "
                                         << role.toStdString() << " in:\n"
                                         << sinkInputs.toStdString();
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return condition();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void pumpEvents(std::chrono::milliseconds time) {
    waitUntil([] { return false; }, time);
}

}  // namespace tovrel::testing

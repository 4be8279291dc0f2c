// SPDX-License-Identifier: GPL-3.0-or-later

#include "support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <vector>

namespace tovrel::testing {

namespace {

// Runs the process to its end; false when it did not start, crashed or ran
// too long (and was killed).
bool ranToItsEnd(QProcess& process, std::chrono::milliseconds timeout) {
    if (process.waitForStarted() && process.waitForFinished(static_cast<int>(timeout.count())) &&
        process.exitStatus() == QProcess::NormalExit) {
        return true;
    }
    process.kill();
    process.waitForFinished();
    return false;
}

// The helpers these tests share with the end-to-end tests, in tests/e2e:
// recording.py (tones, recordings and the sound analysis) and desktop.py
// (the test desktop).
QString helper(const QString& script) { return QStringLiteral(TOVREL_E2E_DIR "/") + script; }

// Runs one to its end; what it printed, or nothing when it failed.
std::optional<QByteArray> runHelper(const QString& script, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(TOVREL_PYTHON, QStringList{helper(script)} + arguments);
    if (!ranToItsEnd(process, std::chrono::seconds(60)) || process.exitCode() != 0) {
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

}  // namespace

std::optional<int> run(const QString& program, const QStringList& arguments, std::chrono::milliseconds timeout) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return ranToItsEnd(process, timeout) ? std::optional(process.exitCode()) : std::nullopt;
}

bool haveProgram(const QString& program) { return !QStandardPaths::findExecutable(program).isEmpty(); }

bool useTestDesktop() {
    QFile file(qEnvironmentVariable("TOVREL_DESKTOP_ENV"));
    if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (const auto equals = line.indexOf('='); equals > 0) {
            qputenv(line.left(equals).constData(), line.mid(equals + 1));
        }
    }
    return true;
}

bool desktop(const QString& command, const QString& service) {
    return runHelper("desktop.py", {command, service}).has_value();
}

namespace {

bool makeTone(const QString& kind, const QString& path, double seconds, int hz, const QStringList& more) {
    const QStringList arguments{kind, path, "--seconds", QString::number(seconds), "--hz", QString::number(hz)};
    return runHelper("recording.py", arguments + more).has_value();
}

}  // namespace

bool makeWav(const QString& path, double seconds, int hz, int rate, int channels) {
    return makeTone("wav", path, seconds, hz,
                    {"--rate", QString::number(rate), "--channels", QString::number(channels)});
}

bool makeMp3(const QString& path, double seconds, int hz, bool id3Tag, int kbps) {
    QStringList more{"--kbps", QString::number(kbps)};
    if (id3Tag) more << "--id3";
    return makeTone("mp3", path, seconds, hz, more);
}

bool soundServerAvailable() {
    return !qEnvironmentVariableIsEmpty("PULSE_SERVER") && run("pactl", {"info"}, std::chrono::seconds(5)) == 0;
}

namespace {

std::optional<SoundStats> stats(const QString& wavPath, QStringList arguments, double length) {
    if (length >= 0) {
        arguments << "--length" << QString::number(length);
    }
    const auto output = runHelper("recording.py", QStringList{"stats", wavPath} + arguments);
    const QJsonObject figures = QJsonDocument::fromJson(output.value_or(QByteArray())).object();
    if (figures.isEmpty()) {
        return std::nullopt;
    }
    SoundStats stats{figures["seconds"].toDouble(), figures["rms"].toDouble(), figures["max"].toDouble(),
                     figures["hz"].toDouble(), std::nullopt};
    if (figures["pause"].isDouble()) {
        stats.longestPause = figures["pause"].toDouble();
    }
    return stats;
}

}  // namespace

std::optional<SoundStats> analyse(const QString& wavPath, double start, double length) {
    return stats(wavPath, {"--start", QString::number(start)}, length);
}

std::optional<SoundStats> analyseSounding(const QString& wavPath, double length) {
    return stats(wavPath, {"--sounding"}, length);
}

std::optional<double> longestPause(const QString& wavPath) {
    const auto whole = analyse(wavPath);
    return whole ? whole->longestPause : std::nullopt;
}

SinkRecording::SinkRecording(const QString& wavPath, const QString& monitor)
    : path_(wavPath), recorder_(std::make_unique<QProcess>()) {
    QFile::remove(path_);
    recorder_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    recorder_->start(TOVREL_PYTHON, {helper("recording.py"), "record", path_, "--device", monitor});
    // It says READY once sound comes from the sink.
    const QDeadlineTimer deadline(std::chrono::seconds(10));
    while (!recorder_->canReadLine() && recorder_->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
    }
    flowing_ = recorder_->canReadLine() && recorder_->readLine().startsWith("READY");
}

SinkRecording::~SinkRecording() { finish(); }

bool SinkRecording::started() const { return flowing_ && recorder_->state() == QProcess::Running; }

std::optional<SoundStats> SinkRecording::finish() {
    if (recorder_->state() == QProcess::Running) {
        // It writes the wave file when interrupted.
        ::kill(static_cast<pid_t>(recorder_->processId()), SIGINT);
        if (!recorder_->waitForFinished(10000)) {
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

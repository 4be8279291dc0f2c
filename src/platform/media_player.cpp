#include "platform/media_player.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QTimer>
#include <QUrl>

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <numbers>
#include <optional>

namespace tovrel::platform {

namespace {

// The tone: four short beeps, then quiet until the cycle ends.
constexpr double kBeepHz = 880.0;
constexpr double kBeepSeconds = 0.1;
constexpr double kBeepPeriodSeconds = 0.2;
constexpr int kBeepsPerCycle = 4;
constexpr double kRampSeconds = 0.005;  // fade in and out, against clicks
constexpr double kToneLevel = 0.5;

// The tone's value in [-1, 1] at the given frame.
double toneAt(std::int64_t frame, int sampleRate)
{
    const double t = static_cast<double>(frame) / sampleRate;
    const double inCycle = std::fmod(t, QtMediaPlayer::kToneCycleSeconds);
    if (inCycle >= kBeepsPerCycle * kBeepPeriodSeconds) {
        return 0.0;
    }
    const double inBeep = std::fmod(inCycle, kBeepPeriodSeconds);
    if (inBeep >= kBeepSeconds) {
        return 0.0;
    }
    const double ramp = std::min({1.0, inBeep / kRampSeconds, (kBeepSeconds - inBeep) / kRampSeconds});
    // The phase from the frame within its second keeps the sine exact
    // however long the alarm rings (the beep frequency is whole).
    const double phase = 2.0 * std::numbers::pi * kBeepHz * static_cast<double>(frame % sampleRate) / sampleRate;
    return kToneLevel * ramp * std::sin(phase);
}

template <typename T>
void put(char* where, T value)
{
    std::memcpy(where, &value, sizeof value);
}

void writeSample(char* where, QAudioFormat::SampleFormat format, double value)
{
    switch (format) {
    case QAudioFormat::UInt8:
        put(where, static_cast<std::uint8_t>(std::lround(128.0 + value * 127.0)));
        break;
    case QAudioFormat::Int16:
        put(where, static_cast<std::int16_t>(std::lround(value * 32767.0)));
        break;
    case QAudioFormat::Int32:
        put(where, static_cast<std::int32_t>(std::llround(value * 2147483647.0)));
        break;
    case QAudioFormat::Float:
        put(where, static_cast<float>(value));
        break;
    default:
        break;
    }
}

// The size of an ID3v2 tag from its header, or nothing if it is none:
// "ID3", version, revision, flags, then four 7-bit size bytes.
std::optional<qint64> id3v2TagSize(const QByteArray& head)
{
    if (head.size() < 10 || !head.startsWith("ID3")) {
        return std::nullopt;
    }
    const auto byte = [&head](int i) { return static_cast<unsigned char>(head[i]); };
    if (byte(3) == 0xFF || byte(4) == 0xFF) {
        return std::nullopt;
    }
    qint64 size = 0;
    for (int i = 6; i < 10; ++i) {
        if (byte(i) >= 0x80) {
            return std::nullopt;
        }
        size = (size << 7) | byte(i);
    }
    const bool footer = (byte(5) & 0x10) != 0;
    return 10 + size + (footer ? 10 : 0);
}

struct MpegFrame {
    unsigned version = 0;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    unsigned layer = 0;    // 3 layer I, 2 layer II, 1 layer III
    unsigned rateIndex = 0;
    qint64 length = 0;     // bytes, 0 for free format
};

// Reads an MPEG audio frame header at `at`.
std::optional<MpegFrame> mpegFrameAt(const QByteArray& data, qint64 at)
{
    if (at < 0 || at + 4 > data.size()) {
        return std::nullopt;
    }
    const auto byte = [&data, at](int i) { return static_cast<unsigned char>(data[at + i]); };
    if (byte(0) != 0xFF || (byte(1) & 0xE0) != 0xE0) {
        return std::nullopt;
    }
    MpegFrame frame;
    frame.version = (byte(1) >> 3) & 0x3;
    frame.layer = (byte(1) >> 1) & 0x3;
    const unsigned bitrateIndex = byte(2) >> 4;
    frame.rateIndex = (byte(2) >> 2) & 0x3;
    const unsigned padding = (byte(2) >> 1) & 0x1;
    if (frame.version == 1 || frame.layer == 0 || bitrateIndex == 15 || frame.rateIndex == 3) {
        return std::nullopt;
    }
    if (bitrateIndex == 0) {
        return frame;  // free format: the length is not in the header
    }
    // kbit/s by [table][index]: MPEG-1 layers I, II, III; MPEG-2 layer I;
    // MPEG-2 layers II and III.
    static constexpr int kBitrates[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    };
    static constexpr int kRates[3] = {44100, 48000, 32000};
    const bool mpeg1 = frame.version == 3;
    const int table = mpeg1 ? static_cast<int>(3 - frame.layer) : (frame.layer == 3 ? 3 : 4);
    const qint64 bitrate = kBitrates[table][bitrateIndex] * 1000LL;
    const qint64 rate = kRates[frame.rateIndex] >> (mpeg1 ? 0 : (frame.version == 2 ? 1 : 2));
    if (frame.layer == 3) {
        frame.length = (12 * bitrate / rate + padding) * 4;
    } else {
        const qint64 factor = (frame.layer == 1 && !mpeg1) ? 72 : 144;
        frame.length = factor * bitrate / rate + padding;
    }
    return frame;
}

// Whether MPEG audio starts near the beginning of `data`: a frame header
// followed by a second of the same kind where the first one ends (or the
// data ending there). Leading padding is skipped.
bool startsWithMpegFrames(const QByteArray& data, bool endsThere)
{
    constexpr qint64 kSearch = 4096;
    for (qint64 at = 0; at < std::min<qint64>(kSearch, data.size()); ++at) {
        const auto first = mpegFrameAt(data, at);
        if (!first) {
            continue;
        }
        if (first->length == 0) {
            return true;
        }
        const qint64 next = at + first->length;
        if (next == data.size() && endsThere) {
            return true;
        }
        const auto second = mpegFrameAt(data, next);
        if (second && second->version == first->version && second->layer == first->layer &&
            second->rateIndex == first->rateIndex) {
            return true;
        }
    }
    return false;
}

}  // namespace

// Endless source of the tone for a pulling sink, in whatever sample format
// the device asked for.
class AlarmToneSource : public QIODevice {
public:
    AlarmToneSource(const QAudioFormat& format, double startSeconds)
        : format_(format),
          frame_(static_cast<std::int64_t>(startSeconds * format.sampleRate()))
    {
    }

    [[nodiscard]] bool isSequential() const override { return true; }

    [[nodiscard]] qint64 bytesAvailable() const override
    {
        return std::numeric_limits<int>::max() + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const int frameBytes = format_.bytesPerFrame();
        const int sampleBytes = format_.bytesPerSample();
        if (frameBytes <= 0 || format_.sampleRate() <= 0) {
            return -1;
        }
        const qint64 frames = maxSize / frameBytes;
        for (qint64 i = 0; i < frames; ++i, ++frame_) {
            const double value = toneAt(frame_, format_.sampleRate());
            char* out = data + i * frameBytes;
            for (int c = 0; c < format_.channelCount(); ++c) {
                writeSample(out + c * sampleBytes, format_.sampleFormat(), value);
            }
        }
        return frames * frameBytes;
    }

    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QAudioFormat format_;
    std::int64_t frame_;
};

// Follows the sound server's default output. Qt 6.4 keeps the default it
// saw at start-up, so the player asks the server itself: a connection of
// its own, on libpulse's thread, that reports the default sink's name on
// the GUI thread whenever it changes. Nothing here waits for the server,
// so a missing or stuck server costs nothing.
class DefaultSinkWatcher : public QObject {
public:
    explicit DefaultSinkWatcher(std::function<void(const QString&)> changed)
        : changed_(std::move(changed)), loop_(pa_threaded_mainloop_new())
    {
        if (loop_ == nullptr || pa_threaded_mainloop_start(loop_) != 0) {
            return;
        }
        connectToServer();
    }

    ~DefaultSinkWatcher() override
    {
        if (loop_ == nullptr) {
            return;
        }
        pa_threaded_mainloop_stop(loop_);
        dropContext();
        pa_threaded_mainloop_free(loop_);
    }

    DefaultSinkWatcher(const DefaultSinkWatcher&) = delete;
    DefaultSinkWatcher& operator=(const DefaultSinkWatcher&) = delete;

private:
    static constexpr int kRetryMs = 3000;

    void connectToServer()
    {
        pa_threaded_mainloop_lock(loop_);
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "MP3 Tovrel");
        if (context_ != nullptr) {
            pa_context_set_state_callback(context_, &DefaultSinkWatcher::onState, this);
            pa_context_set_subscribe_callback(context_, &DefaultSinkWatcher::onEvent, this);
            if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
                retryLater();
            }
        }
        pa_threaded_mainloop_unlock(loop_);
    }

    // With the loop stopped or its lock held.
    void dropContext()
    {
        if (context_ != nullptr) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_set_subscribe_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
    }

    // On libpulse's thread: try again from the GUI thread in a while.
    void retryLater()
    {
        QMetaObject::invokeMethod(
            this,
            [this] {
                QTimer::singleShot(kRetryMs, this, [this] {
                    pa_threaded_mainloop_lock(loop_);
                    dropContext();
                    pa_threaded_mainloop_unlock(loop_);
                    connectToServer();
                });
            },
            Qt::QueuedConnection);
    }

    void askDefault(pa_context* context)
    {
        if (pa_operation* op = pa_context_get_server_info(context, &DefaultSinkWatcher::onServerInfo, this)) {
            pa_operation_unref(op);
        }
    }

    static void onState(pa_context* context, void* self)
    {
        auto* watcher = static_cast<DefaultSinkWatcher*>(self);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            if (pa_operation* op = pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr)) {
                pa_operation_unref(op);
            }
            watcher->askDefault(context);
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            watcher->retryLater();
            break;
        default:
            break;
        }
    }

    static void onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t, void* self)
    {
        if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER) {
            static_cast<DefaultSinkWatcher*>(self)->askDefault(context);
        }
    }

    static void onServerInfo(pa_context*, const pa_server_info* info, void* self)
    {
        if (info == nullptr || info->default_sink_name == nullptr) {
            return;
        }
        auto* watcher = static_cast<DefaultSinkWatcher*>(self);
        const QString name = QString::fromUtf8(info->default_sink_name);
        QMetaObject::invokeMethod(
            watcher,
            [watcher, name] {
                if (name != watcher->last_) {
                    watcher->last_ = name;
                    watcher->changed_(name);
                }
            },
            Qt::QueuedConnection);
    }

    std::function<void(const QString&)> changed_;
    pa_threaded_mainloop* loop_;
    pa_context* context_ = nullptr;
    QString last_;  // GUI thread only
};

QtMediaPlayer::QtMediaPlayer(QObject* parent)
    : QObject(parent), device_(QMediaDevices::defaultAudioOutput())
{
    output_.setDevice(device_);
    player_.setAudioOutput(&output_);
    // Repeating is done here, not by the player's own looping: with
    // GStreamer, a file that starts over by seeking back (which that looping
    // and a setPosition(0) both do) is now and then silent from the second
    // round on while its position runs on. Loading it afresh always sounds.
    player_.setLoops(QMediaPlayer::Once);

    connect(&devices_, &QMediaDevices::audioOutputsChanged, this, &QtMediaPlayer::followDefaultOutput);
    sinkWatcher_ = std::make_unique<DefaultSinkWatcher>([this](const QString& name) {
        defaultSinkName_ = name;
        followDefaultOutput();
    });
    connect(&player_, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error, const QString&) {
        if (error != QMediaPlayer::NoError) {
            fallBackToTone();
        }
    });
    connect(&player_, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::InvalidMedia) {
            fallBackToTone();
        } else if (status == QMediaPlayer::EndOfMedia && playing_ && fileLoaded_) {
            const QUrl source = player_.source();
            player_.setSource(QUrl());
            player_.setSource(source);
            player_.play();
        }
    });
}

QtMediaPlayer::~QtMediaPlayer()
{
    sinkWatcher_.reset();
    stopTone();
}

void QtMediaPlayer::setMediaFile(const std::string& path)
{
    path_ = QString::fromStdString(path);
}

void QtMediaPlayer::play()
{
    if (playing_) {
        if (path_ == playingPath_) {
            return;
        }
        stop();
    }
    playing_ = true;
    playingPath_ = path_;
    // Checked now, not when chosen: the file may have gone since.
    if (!looksPlayable(playingPath_)) {
        startTone();
        return;
    }
    fileLoaded_ = true;
    player_.setSource(QUrl::fromLocalFile(playingPath_));
    player_.play();
}

void QtMediaPlayer::stop()
{
    playing_ = false;
    stopTone();
    if (fileLoaded_) {
        fileLoaded_ = false;
        player_.stop();
        player_.setSource(QUrl());
    }
}

double QtMediaPlayer::length()
{
    if (toneSink_) {
        return kToneCycleSeconds;
    }
    return fileLoaded_ ? static_cast<double>(player_.duration()) / 1000.0 : 0.0;
}

double QtMediaPlayer::position()
{
    if (toneSink_) {
        const double played = toneSecondsBefore_ + static_cast<double>(toneSink_->processedUSecs()) / 1e6;
        return std::fmod(played, kToneCycleSeconds);
    }
    return fileLoaded_ ? static_cast<double>(player_.position()) / 1000.0 : 0.0;
}

bool QtMediaPlayer::playingFallbackTone() const
{
    return toneSink_ != nullptr;
}

void QtMediaPlayer::fallBackToTone()
{
    if (!playing_ || toneSink_) {
        return;
    }
    // Any call into a pipeline that failed waits a second for it; pay that
    // now, before the tone starts, rather than when the user stops the
    // alarm or at the next alarm.
    fileLoaded_ = false;
    player_.setSource(QUrl());
    startTone();
}

void QtMediaPlayer::startTone()
{
    toneSecondsBefore_ = 0.0;
    openToneSink();
}

void QtMediaPlayer::openToneSink()
{
    QAudioFormat format;
    format.setSampleRate(44100);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device_.isNull() && !device_.isFormatSupported(format)) {
        format = device_.preferredFormat();
    }
    toneSink_.reset();
    toneSource_ = std::make_unique<AlarmToneSource>(format, toneSecondsBefore_);
    toneSource_->open(QIODevice::ReadOnly);
    toneSink_ = std::make_unique<QAudioSink>(device_, format);
    toneSink_->start(toneSource_.get());
}

void QtMediaPlayer::stopTone()
{
    if (toneSink_) {
        toneSink_->stop();
    }
    toneSink_.reset();
    toneSource_.reset();
    toneSecondsBefore_ = 0.0;
}

void QtMediaPlayer::followDefaultOutput()
{
    // The server's word on the default wins over Qt's; Qt's device list
    // still provides the device to play on once it knows the sink.
    QAudioDevice current = QMediaDevices::defaultAudioOutput();
    if (!defaultSinkName_.isEmpty()) {
        const QByteArray wanted = defaultSinkName_.toUtf8();
        for (const QAudioDevice& device : QMediaDevices::audioOutputs()) {
            if (device.id() == wanted) {
                current = device;
                break;
            }
        }
    }
    if (current == device_) {
        return;
    }
    device_ = current;
    output_.setDevice(device_);
    if (toneSink_) {
        toneSecondsBefore_ += static_cast<double>(toneSink_->processedUSecs()) / 1e6;
        openToneSink();
    }
}

bool QtMediaPlayer::looksPlayable(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || !info.isFile() || !info.isReadable() || info.size() == 0) {
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray head = file.read(12);
    if (head.startsWith("OggS") || head.startsWith("fLaC")) {
        return true;
    }
    if (head.size() == 12 && head.startsWith("RIFF") && head.mid(8, 4) == "WAVE") {
        return true;
    }
    // MP3, behind an ID3v2 tag or not. A lone frame sync is too easily
    // found in other data, so two frames in a row are asked for.
    const qint64 audioStart = id3v2TagSize(head).value_or(0);
    constexpr qint64 kLook = 16384;
    if (!file.seek(audioStart)) {
        return false;
    }
    const QByteArray audio = file.read(kLook);
    return startsWithMpegFrames(audio, audioStart + audio.size() == info.size());
}

}  // namespace tovrel::platform

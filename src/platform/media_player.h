#pragma once

// The alarm player: plays the chosen file over and over through Qt
// Multimedia, and a built-in alarm tone whenever the file cannot be played,
// so that an armed alarm always makes a sound.

#include <QAudioDevice>
#include <QAudioOutput>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QObject>
#include <QString>

#include <memory>
#include <string>

#include "components/components.h"

class QAudioSink;

namespace tovrel::platform {

class AlarmToneSource;
class DefaultSinkWatcher;

class QtMediaPlayer : public QObject, public components::MediaPlayer {
    Q_OBJECT

public:
    // One cycle of the built-in tone. While the tone plays, length() reports
    // this and position() runs from 0 up to it, then starts again.
    static constexpr double kToneCycleSeconds = 2.0;

    explicit QtMediaPlayer(QObject* parent = nullptr);
    ~QtMediaPlayer() override;

    QtMediaPlayer(const QtMediaPlayer&) = delete;
    QtMediaPlayer& operator=(const QtMediaPlayer&) = delete;

    // Takes effect at the next play().
    void setMediaFile(const std::string& path) override;
    // The file is loaded here rather than when it is set: a file that
    // waited loaded for its alarm starts with seconds of silence. Each
    // round is loaded afresh too (see the constructor), which leaves a
    // pause of about 0.2 s between rounds.
    void play() override;
    // Seconds, while playing; see kToneCycleSeconds for the tone.
    double length() override;
    double position() override;
    void stop() override;

    // True from play() until stop().
    [[nodiscard]] bool isPlaying() const { return playing_; }
    // True while the built-in tone plays in place of the file.
    [[nodiscard]] bool playingFallbackTone() const;
    // The device the sound goes to: the desktop's default output, followed
    // whenever it changes, during playback too.
    [[nodiscard]] QAudioDevice outputDevice() const { return device_; }

    // Whether the file is worth handing to the media framework: it exists,
    // is a readable, non-empty regular file and starts like an audio file
    // the framework decodes here: MP3 (two MPEG audio frames in a row, with
    // or without an ID3v2 tag before them), WAVE, Ogg or FLAC. After a
    // failed load the framework blocks the GUI thread for a second on the
    // next call, so anything else goes straight to the tone.
    [[nodiscard]] static bool looksPlayable(const QString& path);

private:
    void startTone();
    void stopTone();
    void openToneSink();
    void fallBackToTone();
    void followDefaultOutput();

    QMediaDevices devices_;
    std::unique_ptr<DefaultSinkWatcher> sinkWatcher_;
    QString defaultSinkName_;  // as the sound server last reported it
    QAudioDevice device_;
    QAudioOutput output_;
    QMediaPlayer player_;

    // The tone: a sink pulling from an endless generator. The sink is
    // declared after the generator so that it goes first.
    std::unique_ptr<AlarmToneSource> toneSource_;
    std::unique_ptr<QAudioSink> toneSink_;
    // Tone time played by sinks replaced after a device change.
    double toneSecondsBefore_ = 0.0;

    QString path_;         // to play next
    QString playingPath_;  // playing now
    bool fileLoaded_ = false;
    bool playing_ = false;
};

}  // namespace tovrel::platform

// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/click_sound.h"
#include "platform/sound_names.h"

#include <pulse/pulseaudio.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <numbers>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>

namespace tovrel::platform {

namespace {

// A click is short; a huge file is played only this far.
constexpr std::int64_t kMaxSeconds = 600;
constexpr sf_count_t kChunkFrames = 4096;

// One playback handed to a worker thread. The worker and the caller share
// it, so a caller that gave up waiting leaves nothing dangling behind.
struct PlaybackJob {
    explicit PlaybackJob(PcmSound s) : sound(std::move(s)) {}

    const PcmSound sound;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool reachedServer = false;
};

// The connection to the sound server for one click, on a main loop thread
// of libpulse's own; each wait below gives up when the server fails or goes.
class ServerStream {
public:
    ServerStream() : loop_(pa_threaded_mainloop_new()) {}
    ~ServerStream() {
        if (loop_ == nullptr) {
            return;
        }
        pa_threaded_mainloop_stop(loop_);
        if (stream_ != nullptr) {
            pa_stream_unref(stream_);
        }
        if (context_ != nullptr) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        pa_threaded_mainloop_free(loop_);
    }
    ServerStream(const ServerStream&) = delete;
    ServerStream& operator=(const ServerStream&) = delete;

    // Connects and opens the playback stream; true when the server took it.
    bool open(const pa_sample_spec& format) {
        if (loop_ == nullptr || pa_threaded_mainloop_start(loop_) < 0) {
            return false;
        }
        const Locked lock(loop_);
        pa_proplist* properties = pa_proplist_new();
        for (const auto& [key, value] : kApplicationSoundProperties) {
            pa_proplist_sets(properties, key, value);
        }
        context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), nullptr, properties);
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "event");
        if (context_ != nullptr) {
            pa_context_set_state_callback(
                context_, [](pa_context*, void* loop) { wake(loop); }, loop_);
        }
        if (context_ == nullptr || pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0 ||
            !waitFor([this] { return contextState(); })) {
            pa_proplist_free(properties);
            return false;
        }
        stream_ = pa_stream_new_with_proplist(context_, "Click", &format, nullptr, properties);
        pa_proplist_free(properties);
        if (stream_ == nullptr) {
            return false;
        }
        pa_stream_set_state_callback(
            stream_, [](pa_stream*, void* loop) { wake(loop); }, loop_);
        pa_stream_set_write_callback(
            stream_, [](pa_stream*, std::size_t, void* loop) { wake(loop); }, loop_);
        return pa_stream_connect_playback(stream_, nullptr, nullptr, PA_STREAM_NOFLAGS, nullptr, nullptr) == 0 &&
               waitFor([this] { return streamState(); });
    }

    // Writes the samples as the server asks for them, then waits until it
    // has played them; false when the server failed on the way.
    bool playAll(const std::vector<std::int16_t>& samples) {
        const Locked lock(loop_);
        const auto* next = reinterpret_cast<const std::uint8_t*>(samples.data());
        std::size_t left = samples.size() * sizeof samples.front();
        while (left > 0) {
            if (!good()) {
                return false;
            }
            const std::size_t room = pa_stream_writable_size(stream_);
            if (room == 0 || room == static_cast<std::size_t>(-1)) {
                pa_threaded_mainloop_wait(loop_);
                continue;
            }
            const std::size_t size = std::min(room, left);
            if (pa_stream_write(stream_, next, size, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
                return false;
            }
            next += size;
            left -= size;
        }
        pa_operation* drained = pa_stream_drain(
            stream_, [](pa_stream*, int, void* loop) { wake(loop); }, loop_);
        if (drained == nullptr) {
            return false;
        }
        while (pa_operation_get_state(drained) == PA_OPERATION_RUNNING && good()) {
            pa_threaded_mainloop_wait(loop_);
        }
        const bool done = pa_operation_get_state(drained) == PA_OPERATION_DONE;
        pa_operation_unref(drained);
        return done;
    }

private:
    struct Locked {
        explicit Locked(pa_threaded_mainloop* loop) : loop(loop) { pa_threaded_mainloop_lock(loop); }
        ~Locked() { pa_threaded_mainloop_unlock(loop); }
        Locked(const Locked&) = delete;
        Locked& operator=(const Locked&) = delete;
        pa_threaded_mainloop* loop;
    };

    static void wake(void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); }

    // Ready: true; failed or ended: false; on the way: nothing yet.
    std::optional<bool> contextState() const {
        const pa_context_state_t state = pa_context_get_state(context_);
        return PA_CONTEXT_IS_GOOD(state) ? (state == PA_CONTEXT_READY ? std::optional(true) : std::nullopt)
                                         : std::optional(false);
    }
    std::optional<bool> streamState() const {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        return PA_STREAM_IS_GOOD(state) ? (state == PA_STREAM_READY ? std::optional(true) : std::nullopt)
                                        : std::optional(false);
    }
    bool good() const { return contextState() != false && streamState() != false; }

    template <typename State>
    bool waitFor(State state) {
        for (auto now = state(); true; now = state()) {
            if (now) {
                return *now;
            }
            pa_threaded_mainloop_wait(loop_);
        }
    }

    pa_threaded_mainloop* loop_;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
};

void playOnServer(PlaybackJob& job) {
    pa_sample_spec format{};
    format.format = PA_SAMPLE_S16NE;
    format.rate = static_cast<std::uint32_t>(job.sound.sampleRate);
    format.channels = static_cast<std::uint8_t>(job.sound.channels);

    {
        ServerStream stream;
        if (stream.open(format)) {
            {
                const std::lock_guard lock(job.mutex);
                job.reachedServer = true;
            }
            const auto start = std::chrono::steady_clock::now();
            if (stream.playAll(job.sound.samples)) {
                // A sink that renders ahead reports the stream drained a
                // little before the last of it is heard; the sound cannot be
                // over before its length has passed.
                std::this_thread::sleep_until(start + job.sound.duration());
            }
        }
    }
    {
        const std::lock_guard lock(job.mutex);
        job.done = true;
    }
    job.finished.notify_all();
}

std::vector<std::filesystem::path> xdgDataDirs() {
    std::vector<std::filesystem::path> dirs;
    if (const char* home = std::getenv("XDG_DATA_HOME"); home != nullptr && *home != '\0') {
        dirs.emplace_back(home);
    } else if (const char* user = std::getenv("HOME"); user != nullptr && *user != '\0') {
        dirs.emplace_back(std::filesystem::path(user) / ".local/share");
    }
    const char* system = std::getenv("XDG_DATA_DIRS");
    std::istringstream list((system != nullptr && *system != '\0') ? system : "/usr/local/share:/usr/share");
    for (std::string dir; std::getline(list, dir, ':');) {
        if (!dir.empty()) {
            dirs.emplace_back(dir);
        }
    }
    return dirs;
}

}  // namespace

std::int64_t PcmSound::frames() const {
    return channels > 0 ? static_cast<std::int64_t>(samples.size()) / channels : 0;
}

std::chrono::milliseconds PcmSound::duration() const {
    return sampleRate > 0 ? std::chrono::milliseconds(frames() * 1000 / sampleRate) : std::chrono::milliseconds(0);
}

std::optional<PcmSound> decodeSoundFile(const std::string& path) {
    // Only regular files: opening a pipe or a device could block for ever.
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error)) {
        return std::nullopt;
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return std::nullopt;
    }
    const std::unique_ptr<SNDFILE, decltype(&sf_close)> closer(file, &sf_close);
    if (info.channels <= 0 || info.channels > static_cast<int>(PA_CHANNELS_MAX) || info.samplerate <= 0 ||
        static_cast<std::uint32_t>(info.samplerate) > PA_RATE_MAX) {
        return std::nullopt;
    }

    PcmSound sound;
    sound.channels = info.channels;
    sound.sampleRate = info.samplerate;
    const std::int64_t maxFrames = kMaxSeconds * info.samplerate;
    std::vector<std::int16_t> chunk(static_cast<std::size_t>(kChunkFrames * info.channels));
    while (sound.frames() < maxFrames) {
        const sf_count_t wanted = std::min<sf_count_t>(kChunkFrames, maxFrames - sound.frames());
        const sf_count_t got = sf_readf_short(file, chunk.data(), wanted);
        if (got <= 0) {
            break;
        }
        sound.samples.insert(sound.samples.end(), chunk.begin(), chunk.begin() + got * info.channels);
    }
    if (sound.samples.empty()) {
        return std::nullopt;
    }
    return sound;
}

std::optional<std::string> desktopBellFile() {
    for (const auto& dir : xdgDataDirs()) {
        for (const char* name : {"bell.oga", "bell.ogg", "bell.wav"}) {
            const auto candidate = dir / "sounds/freedesktop/stereo" / name;
            std::error_code error;
            if (std::filesystem::is_regular_file(candidate, error)) {
                return candidate.string();
            }
        }
    }
    return std::nullopt;
}

PcmSound builtInBeep() {
    constexpr int kRate = 44100;
    constexpr double kHz = 1000.0;
    constexpr int kFrames = kRate * 150 / 1000;
    constexpr int kRampFrames = kRate * 5 / 1000;
    PcmSound beep;
    beep.channels = 1;
    beep.sampleRate = kRate;
    beep.samples.reserve(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        const double ramp =
            std::min({1.0, static_cast<double>(i) / kRampFrames, static_cast<double>(kFrames - 1 - i) / kRampFrames});
        const double value = 0.4 * ramp * std::sin(2.0 * std::numbers::pi * kHz * i / kRate);
        beep.samples.push_back(static_cast<std::int16_t>(std::lround(value * 32767.0)));
    }
    return beep;
}

void QtClickSound::play(const std::string& path) {
    last_ = {};
    std::optional<PcmSound> sound = decodeSoundFile(path);
    Source source = Source::File;
    if (!sound) {
        if (const auto bell = desktopBellFile()) {
            sound = decodeSoundFile(*bell);
            source = Source::DesktopBell;
        }
    }
    if (!sound) {
        sound = builtInBeep();
        source = Source::BuiltInBeep;
    }
    last_.source = source;

    auto job = std::make_shared<PlaybackJob>(std::move(*sound));
    const auto limit = job->sound.duration() + grace_;
    try {
        std::thread([job] { playOnServer(*job); }).detach();
    } catch (const std::system_error&) {
        return;  // no thread, no sound; the program goes on
    }

    std::unique_lock lock(job->mutex);
    if (!job->finished.wait_for(lock, limit, [&job] { return job->done; })) {
        // The server is too slow; the worker finishes on its own and frees
        // the job when it is done with it.
        last_.ending = Ending::TimedOut;
        return;
    }
    last_.ending = job->reachedServer ? Ending::Finished : Ending::NoServer;
}

}  // namespace tovrel::platform

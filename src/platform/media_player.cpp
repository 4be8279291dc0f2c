// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/media_player.h"
#include "platform/sound_names.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <numbers>
#include <optional>
#include <thread>
#include <utility>

namespace tovrel::platform {

namespace {

// The tone: four short beeps, then quiet until the cycle ends.
constexpr int kToneRate = 44100;
constexpr double kBeepHz = 880.0;
constexpr double kBeepSeconds = 0.1;
constexpr double kBeepPeriodSeconds = 0.2;
constexpr int kBeepsPerCycle = 4;
constexpr double kRampSeconds = 0.005;  // fade in and out, against clicks
constexpr double kToneLevel = 0.5;
constexpr int kToneFramesPerBuffer = 1024;

// The tone's value in [-1, 1] at the given frame.
double toneAt(std::int64_t frame) {
    const double t = static_cast<double>(frame) / kToneRate;
    const double inCycle = std::fmod(t, GstMediaPlayer::kToneCycleSeconds);
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
    const double phase = 2.0 * std::numbers::pi * kBeepHz * static_cast<double>(frame % kToneRate) / kToneRate;
    return kToneLevel * ramp * std::sin(phase);
}

// Feeds the tone into the pipeline's app source, on its streaming thread.
void pushTone(GstAppSrc* source, guint, gpointer data) {
    auto* frame = static_cast<std::int64_t*>(data);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, kToneFramesPerBuffer * sizeof(gint16), nullptr);
    GstMapInfo map;
    if (buffer == nullptr || !gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        if (buffer != nullptr) {
            gst_buffer_unref(buffer);
        }
        return;
    }
    for (int i = 0; i < kToneFramesPerBuffer; ++i) {
        const auto sample = static_cast<gint16>(std::lround(toneAt(*frame + i) * 32767.0));
        std::memcpy(map.data + i * sizeof sample, &sample, sizeof sample);
    }
    gst_buffer_unmap(buffer, &map);
    GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(static_cast<guint64>(*frame), GST_SECOND, kToneRate);
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(kToneFramesPerBuffer, GST_SECOND, kToneRate);
    *frame += kToneFramesPerBuffer;
    gst_app_src_push_buffer(source, buffer);
}

// Why the path names no file that can be opened for reading at all;
// nothing when it does: what is in it is for GStreamer's type finding to say.
std::optional<std::string> unreadable(const std::string& path) {
    struct stat info {};
    if (path.empty()) {
        return "no file chosen";
    }
    if (::stat(path.c_str(), &info) != 0 || (S_ISREG(info.st_mode) && ::access(path.c_str(), R_OK) != 0)) {
        return std::strerror(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return "not a file";
    }
    if (info.st_size == 0) {
        return "the file is empty";
    }
    return std::nullopt;
}

double seconds(gint64 nanoseconds) { return static_cast<double>(nanoseconds) / static_cast<double>(GST_SECOND); }

}  // namespace

// Owns the pipeline and everything done with it, on a thread of its own
// that runs a GLib main loop: the commands arrive there as idle callbacks,
// the pipeline's bus messages through a bus watch. The pipeline is
//
//     [source] -> audioconvert -> audioresample -> the desktop's audio sink
//
// where the source is the file (filesrc -> decodebin) or the built-in tone
// (an app source). Between alarms the pipeline is kept, without a source and
// without a connection to the sound server: a connection kept open goes
// stale when the server restarts, and the next alarm would wait on it in
// silence. Connecting when the alarm starts costs a few milliseconds. The
// sink plays to the server's default output and is not tied to a device,
// so the server moves it whenever the default changes.
class GstMediaPlayer::Worker {
public:
    Worker() : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {}

    ~Worker() {
        g_main_loop_unref(loop_);
        g_main_context_unref(context_);
    }

    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // ---- called on the UI thread

    // Runs the job on the worker's thread, after the jobs posted before it.
    void post(std::function<void()> job) {
        g_main_context_invoke_full(
            context_, G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                (*static_cast<std::function<void()>*>(data))();
                return G_SOURCE_REMOVE;
            },
            new std::function<void()>(std::move(job)),
            [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    }

    // A new playback (or none): what the worker reports from now on is about it.
    std::uint64_t begin() {
        const std::lock_guard lock(mutex_);
        reported_ = {};
        return ++generation_;
    }

    struct Report {
        double length = 0.0;
        double position = 0.0;
        bool tone = false;
    };

    Report report() const {
        const std::lock_guard lock(mutex_);
        return reported_;
    }

    // Asks the thread to end and waits up to `patience` for it.
    bool end(std::chrono::milliseconds patience) {
        post([this] { g_main_loop_quit(loop_); });
        std::unique_lock lock(mutex_);
        return ended_cv_.wait_for(lock, patience, [this] { return ended_; });
    }

    // ---- the worker's thread

    void run() {
        g_main_context_push_thread_default(context_);
        static std::once_flag initialised;
        static bool ready = false;
        std::call_once(initialised, [] {
            GError* error = nullptr;
            ready = gst_init_check(nullptr, nullptr, &error);
            if (!ready) {
                g_printerr("tovrel: GStreamer did not start (%s); the alarm cannot sound\n",
                           error != nullptr ? error->message : "no reason given");
                g_clear_error(&error);
            }
        });
        if (ready) {
            buildOutput();
        }
        g_main_loop_run(loop_);
        stopPlayback();
        if (pipeline_ != nullptr) {
            GstBus* bus = gst_element_get_bus(pipeline_);
            gst_bus_remove_watch(bus);
            gst_object_unref(bus);
            gst_object_unref(pipeline_);
        }
        g_main_context_pop_thread_default(context_);
        const std::lock_guard lock(mutex_);
        ended_ = true;
        ended_cv_.notify_all();
    }

    void start(std::uint64_t generation, const std::string& path) {
        if (generation != current()) {
            return;  // stopped again before it could start
        }
        stopPlayback();
        active_ = generation;
        path_ = path;
        toldOutputFault_ = false;
        const auto problem = unreadable(path);
        tone_ = problem.has_value();
        if (problem) {
            cannotPlay(*problem);
        }
        startSource();
    }

    void stopPlayback() {
        cancel(retry_);
        cancel(poll_);
        active_ = 0;
        removeSource();
    }

private:
    enum class Phase { Idle, Prerolling, Playing };

    std::uint64_t current() const {
        const std::lock_guard lock(mutex_);
        return generation_;
    }

    void publish(const Report& report) {
        const std::lock_guard lock(mutex_);
        if (active_ == generation_) {
            reported_ = report;
        }
    }

    static void cancel(GSource*& source) {
        if (source != nullptr) {
            g_source_destroy(source);
            g_source_unref(source);
            source = nullptr;
        }
    }

    GSource* every(guint milliseconds, gboolean (*callback)(gpointer)) {
        GSource* timer = g_timeout_source_new(milliseconds);
        g_source_set_callback(timer, callback, this, nullptr);
        g_source_attach(timer, context_);
        return timer;
    }

    bool buildOutput() {
        pipeline_ = gst_pipeline_new("alarm");
        convert_ = gst_element_factory_make("audioconvert", nullptr);
        GstElement* resample = gst_element_factory_make("audioresample", nullptr);
        sink_ = gst_element_factory_make("pulsesink", nullptr);
        if (sink_ != nullptr) {
            g_object_set(sink_, "client-name", "MP3 Tovrel", nullptr);
        } else {
            sink_ = gst_element_factory_make("autoaudiosink", nullptr);
        }
        if (pipeline_ == nullptr || convert_ == nullptr || resample == nullptr || sink_ == nullptr) {
            for (GstElement* element : {pipeline_, convert_, resample, sink_}) {
                if (element != nullptr) {
                    gst_object_unref(element);
                }
            }
            pipeline_ = nullptr;
            g_printerr("tovrel: GStreamer's audio elements are missing; the alarm cannot sound\n");
            return false;
        }
        gst_bin_add_many(GST_BIN(pipeline_), convert_, resample, sink_, nullptr);
        gst_element_link(convert_, resample);
        // The stream's name reaches the sound server as a tag, put in last.
        namer_ = gst_element_factory_make("taginject", nullptr);
        if (namer_ != nullptr) {
            gst_bin_add(GST_BIN(pipeline_), namer_);
            gst_element_link_many(resample, namer_, sink_, nullptr);
        } else {
            gst_element_link(resample, sink_);
        }
        // Counts the sound that goes out, whatever its source, on the
        // streaming thread: a round of the file is judged by it. The file's
        // own tags go no further: its title would rename the alarm's stream.
        GstPad* in = gst_element_get_static_pad(convert_, "sink");
        gst_pad_add_probe(
            in, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            [](GstPad*, GstPadProbeInfo* info, gpointer self) -> GstPadProbeReturn {
                if ((GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) != 0) {
                    return GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_TAG ? GST_PAD_PROBE_DROP
                                                                                           : GST_PAD_PROBE_OK;
                }
                GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
                if (gst_buffer_get_size(buffer) > 0) {
                    static_cast<Worker*>(self)->sounded_ +=
                        GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer) : kShortestRound;
                }
                return GST_PAD_PROBE_OK;
            },
            this, nullptr);
        gst_object_unref(in);
        // The bus is watched from this thread's main context, its default.
        GstBus* bus = gst_element_get_bus(pipeline_);
        gst_bus_add_watch(
            bus,
            [](GstBus*, GstMessage* message, gpointer self) -> gboolean {
                static_cast<Worker*>(self)->onMessage(message);
                return G_SOURCE_CONTINUE;
            },
            this);
        gst_object_unref(bus);
        return true;
    }

    // Drops what the pipeline said about what was there before.
    void flushBus() {
        GstBus* bus = gst_element_get_bus(pipeline_);
        gst_bus_set_flushing(bus, TRUE);
        gst_bus_set_flushing(bus, FALSE);
        gst_object_unref(bus);
    }

    // Back to rest: no source, no connection.
    void removeSource() {
        phase_ = Phase::Idle;
        if (pipeline_ == nullptr) {
            return;
        }
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        if (source_ != nullptr) {
            gst_element_set_state(source_, GST_STATE_NULL);
            gst_bin_remove(GST_BIN(pipeline_), source_);
            source_ = nullptr;
        }
        flushBus();
    }

    void startSource() {
        removeSource();
        if (pipeline_ == nullptr) {
            return;
        }
        nameStream();
        source_ = tone_ ? makeTone() : makeFileSource();
        if (source_ == nullptr) {
            return;
        }
        gst_bin_add(GST_BIN(pipeline_), source_);
        sounded_ = 0;
        // The file's link carries data once its decoder's pad is known.
        gst_element_link(source_, convert_);
        publish({tone_ ? kToneCycleSeconds : 0.0, 0.0, tone_});
        phase_ = Phase::Prerolling;
        if (poll_ == nullptr) {
            poll_ = every(50, [](gpointer self) -> gboolean {
                static_cast<Worker*>(self)->refresh();
                return G_SOURCE_CONTINUE;
            });
        }
        if (gst_element_set_state(pipeline_, tone_ ? GST_STATE_PLAYING : GST_STATE_PAUSED) ==
            GST_STATE_CHANGE_FAILURE) {
            GstBus* bus = gst_element_get_bus(pipeline_);
            GstMessage* error = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
            gst_object_unref(bus);
            failed(error);
            if (error != nullptr) {
                gst_message_unref(error);
            }
        }
    }

    // Tells the sound server (and so the desktop's volume mixers and its
    // policies for roles) that this is Tovrel's alarm and what it plays. The
    // sink opens a new stream with them at each start.
    void nameStream() {
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(sink_), "stream-properties") == nullptr) {
            return;
        }
        gchar* name = g_path_get_basename(path_.c_str());
        const std::string what = std::string("Alarm: ") + (tone_ ? "built-in tone" : name);
        g_free(name);
        if (namer_ != nullptr) {
            GValue title = G_VALUE_INIT;
            g_value_init(&title, G_TYPE_STRING);
            g_value_set_string(&title, what.c_str());
            gchar* quoted = gst_value_serialize(&title);
            g_object_set(namer_, "tags", (std::string("title=") + quoted).c_str(), nullptr);
            g_free(quoted);
            g_value_unset(&title);
        }
        GstStructure* properties = gst_structure_new("props", "media.role", G_TYPE_STRING, "alarm", "media.name",
                                                     G_TYPE_STRING, what.c_str(), nullptr);
        for (const auto& [key, value] : kApplicationSoundProperties) {
            gst_structure_set(properties, key, G_TYPE_STRING, value, nullptr);
        }
        g_object_set(sink_, "stream-properties", properties, nullptr);
        gst_structure_free(properties);
    }

    // The file, decoded by whatever GStreamer finds for it. Only an audio
    // stream is linked on.
    GstElement* makeFileSource() {
        GstElement* bin = gst_bin_new("file");
        GstElement* file = gst_element_factory_make("filesrc", nullptr);
        GstElement* decode = gst_element_factory_make("decodebin", nullptr);
        if (file == nullptr || decode == nullptr) {
            for (GstElement* element : {bin, file, decode}) {
                if (element != nullptr) {
                    gst_object_unref(element);
                }
            }
            return nullptr;
        }
        g_object_set(file, "location", path_.c_str(), nullptr);
        gst_bin_add_many(GST_BIN(bin), file, decode, nullptr);
        gst_element_link(file, decode);
        GstPad* ghost = gst_ghost_pad_new_no_target("src", GST_PAD_SRC);
        gst_element_add_pad(bin, ghost);
        g_signal_connect(decode, "pad-added", G_CALLBACK(+[](GstElement*, GstPad* pad, gpointer target) {
                             GstCaps* caps = gst_pad_get_current_caps(pad);
                             if (caps == nullptr) {
                                 caps = gst_pad_query_caps(pad, nullptr);
                             }
                             const bool audio =
                                 caps != nullptr && gst_caps_get_size(caps) > 0 &&
                                 g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/");
                             if (caps != nullptr) {
                                 gst_caps_unref(caps);
                             }
                             auto* ghostPad = GST_GHOST_PAD(target);
                             GstPad* current = gst_ghost_pad_get_target(ghostPad);
                             if (audio && current == nullptr) {
                                 gst_ghost_pad_set_target(ghostPad, pad);
                             }
                             if (current != nullptr) {
                                 gst_object_unref(current);
                             }
                         }),
                         ghost);
        return bin;
    }

    GstElement* makeTone() {
        GstElement* source = gst_element_factory_make("appsrc", "tone");
        if (source == nullptr) {
            return nullptr;
        }
        GstCaps* caps =
            gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "rate", G_TYPE_INT, kToneRate,
                                "channels", G_TYPE_INT, 1, "layout", G_TYPE_STRING, "interleaved", nullptr);
        g_object_set(source, "caps", caps, "format", GST_FORMAT_TIME, "max-bytes",
                     static_cast<guint64>(4 * kToneFramesPerBuffer * sizeof(gint16)), nullptr);
        gst_caps_unref(caps);
        GstAppSrcCallbacks callbacks{};
        callbacks.need_data = &pushTone;
        gst_app_src_set_callbacks(GST_APP_SRC(source), &callbacks, new std::int64_t(0),
                                  [](gpointer frame) { delete static_cast<std::int64_t*>(frame); });
        return source;
    }

    void onMessage(GstMessage* message) {
        if (phase_ == Phase::Idle) {
            return;
        }
        switch (GST_MESSAGE_TYPE(message)) {
            case GST_MESSAGE_ERROR:
                failed(message);
                break;
            case GST_MESSAGE_ASYNC_DONE:
                if (phase_ == Phase::Prerolling && !tone_) {
                    prerolled();
                }
                break;
            case GST_MESSAGE_SEGMENT_DONE:
            case GST_MESSAGE_EOS:
                endOfRound(message);
                break;
            default:
                break;
        }
    }

    // The end of a round: on from the start again. The seek after the
    // segment's end does not flush, so what is still queued plays on and
    // the next round follows it without a gap; after an end of stream (a
    // round that ended some other way) the pipeline is flushed first. A file
    // with next to no sound in it would only spin here: it counts as one
    // that cannot be played. So does a file that stops giving sound while
    // it rings (emptied, cut short or overwritten in place): its rounds
    // would end as soon as they start, one seek after another.
    void endOfRound(GstMessage* message) {
        if (sounded_.exchange(0) < kShortestRound) {
            cannotPlay("no sound in a whole round: emptied or changed while it rang?");
            fallBackToTone();
            return;
        }
        gint64 end = 0;
        GstSeekFlags flags = GST_SEEK_FLAG_NONE;
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_SEGMENT_DONE) {
            gst_message_parse_segment_done(message, nullptr, &end);
        } else {
            gst_element_query_position(pipeline_, GST_FORMAT_TIME, &end);
            flags = GST_SEEK_FLAG_FLUSH;
        }
        if (!seekToStart(flags, end)) {
            cannotPlay("too short to repeat");
            fallBackToTone();
        }
    }

    // A round runs from 0 to the file's length as GStreamer reports it (or
    // to `end` where it reports none). For an MP3 with gapless information
    // that length leaves out the encoder's padding; a round that ran on to
    // the end of the last frame would put that much silence between two
    // rounds. False when the file is too short to go round with.
    bool seekToStart(GstSeekFlags flags, gint64 end = -1) {
        gint64 length = 0;
        if (!gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &length) || length <= 0) {
            length = end;
        }
        if ((length >= 0 || end >= 0) && length < kShortestRound) {
            return false;
        }
        return gst_element_seek(pipeline_, 1.0, GST_FORMAT_TIME,
                                static_cast<GstSeekFlags>(flags | GST_SEEK_FLAG_SEGMENT | GST_SEEK_FLAG_ACCURATE),
                                GST_SEEK_TYPE_SET, 0, length > 0 ? GST_SEEK_TYPE_SET : GST_SEEK_TYPE_NONE,
                                length > 0 ? length : GST_CLOCK_TIME_NONE);
    }

    // The file's first sound is waiting at the sink. Looping needs a segment
    // seek, which needs the pipeline prerolled; then it plays.
    void prerolled() {
        GstPad* sinkPad = gst_element_get_static_pad(convert_, "sink");
        GstPad* peer = gst_pad_get_peer(sinkPad);
        GstPad* target =
            peer != nullptr && GST_IS_GHOST_PAD(peer) ? gst_ghost_pad_get_target(GST_GHOST_PAD(peer)) : nullptr;
        const bool audio = target != nullptr;
        for (GstPad* pad : {sinkPad, peer, target}) {
            if (pad != nullptr) {
                gst_object_unref(pad);
            }
        }
        if (!audio || !seekToStart(GST_SEEK_FLAG_FLUSH)) {
            cannotPlay(audio ? "too short to repeat" : "no sound in it");
            fallBackToTone();
            return;
        }
        phase_ = Phase::Playing;
        gst_element_set_state(pipeline_, GST_STATE_PLAYING);
        refresh();
    }

    void fallBackToTone() {
        tone_ = true;
        startSource();
    }

    // Says why the file does not ring, on standard error.
    void cannotPlay(const std::string& reason) const {
        g_printerr("tovrel: cannot play %s (%s); ringing the built-in tone\n", path_.c_str(), reason.c_str());
    }

    // Something failed: what the pipeline said, or nothing when it would not
    // start and did not say why. The file's fault (anything about the
    // stream, or a resource that is not the output) sounds the tone at
    // once; the output's (no sound server, or it went away) is tried again
    // in a while, so that the alarm is heard as soon as a server answers.
    void failed(GstMessage* message) {
        GError* error = nullptr;
        gchar* debug = nullptr;
        GstObject* origin = nullptr;
        if (message != nullptr) {
            gst_message_parse_error(message, &error, &debug);
            origin = GST_MESSAGE_SRC(message);
        }
        const bool fromOutput =
            origin != nullptr && (origin == GST_OBJECT(sink_) || gst_object_has_as_ancestor(origin, GST_OBJECT(sink_)));
        const bool output = error == nullptr || (fromOutput && error->domain != GST_STREAM_ERROR);
        std::string reason = error != nullptr ? error->message : "the sound output would not start";
        if (reason.ends_with('.')) {
            reason.pop_back();
        }
        // The debug string's last line is its plain words (before it, where
        // in GStreamer it was raised).
        if (const char* words = debug != nullptr ? std::strrchr(debug, '\n') : nullptr; words != nullptr) {
            reason += std::string(": ") + (words + 1);
        }
        g_clear_error(&error);
        g_free(debug);
        if (!output && !tone_) {
            cannotPlay(reason);
            fallBackToTone();
            return;
        }
        if (!toldOutputFault_) {
            toldOutputFault_ = true;
            g_printerr("tovrel: cannot play %s to the sound server (%s); trying again every %u s\n",
                       tone_ ? "the built-in tone" : path_.c_str(), reason.c_str(), kRetryMs / 1000);
        }
        removeSource();
        publish({tone_ ? kToneCycleSeconds : 0.0, 0.0, tone_});
        if (retry_ == nullptr) {
            retry_ = every(kRetryMs, [](gpointer data) -> gboolean {
                auto* self = static_cast<Worker*>(data);
                cancel(self->retry_);
                if (self->active_ == self->current()) {
                    self->startSource();
                }
                return G_SOURCE_REMOVE;
            });
        }
    }

    // Reads the playing position and length for the UI thread.
    void refresh() {
        if (phase_ == Phase::Idle) {
            return;
        }
        gint64 position = 0;
        gint64 duration = 0;
        const bool havePosition = gst_element_query_position(pipeline_, GST_FORMAT_TIME, &position) && position >= 0;
        if (tone_) {
            publish({kToneCycleSeconds, havePosition ? std::fmod(seconds(position), kToneCycleSeconds) : 0.0, true});
            return;
        }
        const bool haveDuration = gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &duration) && duration > 0;
        const double length = haveDuration ? seconds(duration) : 0.0;
        publish({length, havePosition ? std::clamp(seconds(position), 0.0, length) : 0.0, false});
    }

    static constexpr guint kRetryMs = 3000;
    static constexpr gint64 kShortestRound = 50 * GST_MSECOND;

    GMainContext* context_;
    GMainLoop* loop_;

    mutable std::mutex mutex_;
    std::condition_variable ended_cv_;
    bool ended_ = false;
    std::uint64_t generation_ = 0;  // the UI thread's latest play() or stop()
    Report reported_;

    // The worker's own, below.
    GstElement* pipeline_ = nullptr;
    GstElement* convert_ = nullptr;  // where a source is linked
    GstElement* sink_ = nullptr;
    GstElement* namer_ = nullptr;  // tags the stream with its name, where GStreamer has taginject
    GstElement* source_ = nullptr;
    GSource* poll_ = nullptr;
    GSource* retry_ = nullptr;
    Phase phase_ = Phase::Idle;
    std::atomic<gint64> sounded_ = 0;  // nanoseconds of sound since the round began
    std::uint64_t active_ = 0;         // the playback under way, 0 for none
    std::string path_;
    bool tone_ = false;
    bool toldOutputFault_ = false;  // said once a playback
};

GstMediaPlayer::GstMediaPlayer() : worker_(std::make_shared<Worker>()) {
    // The thread keeps the worker alive; see the destructor.
    std::thread([worker = worker_] { worker->run(); }).detach();
}

GstMediaPlayer::~GstMediaPlayer() {
    // A worker held up by a sound server that never answers is left to the
    // end of the process rather than holding up the program's exit.
    worker_->end(std::chrono::seconds(1));
}

void GstMediaPlayer::setMediaFile(const std::string& path) { path_ = path; }

void GstMediaPlayer::play() {
    if (playing_) {
        if (path_ == playingPath_) {
            return;
        }
        stop();
    }
    playing_ = true;
    playingPath_ = path_;
    const std::uint64_t generation = worker_->begin();
    worker_->post([worker = worker_.get(), generation, path = playingPath_] { worker->start(generation, path); });
}

void GstMediaPlayer::stop() {
    if (!playing_) {
        return;
    }
    playing_ = false;
    worker_->begin();
    worker_->post([worker = worker_.get()] { worker->stopPlayback(); });
}

double GstMediaPlayer::length() { return worker_->report().length; }

double GstMediaPlayer::position() { return worker_->report().position; }

bool GstMediaPlayer::playingFallbackTone() const { return worker_->report().tone; }

}  // namespace tovrel::platform

// `vokid monitor DB SOURCE`: a recording, a pipe, a file still being
// written, a URL or a sound card, monitored as it comes, each segment
// printed (and flushed) as soon as its play has ended. A URL or a sound
// card that drops is opened again after 1, 2, 4 ... up to 30 s, until
// --retry-for runs out.
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <deque>
#include <new>
#include <optional>
#include <thread>

#include "vokid/cli/command_support.h"
#include "vokid/cli/exit_codes.h"
#include "vokid/cli/index_commands.h"
#include "vokid/cli/json_text.h"
#include "vokid/fingerprint/algorithm.h"
#include "vokid/index/index_error.h"
#include "vokid/input/audio_source.h"
#include "vokid/input/input_error.h"
#include "vokid/input/stop_request.h"
#include "vokid/search/monitor.h"

namespace vokid {

namespace {

constexpr double kFirstWait = 1;
constexpr double kLongestWait = 30;
// Wall-clock marks kept: one a second for two hours; a play longer than
// that has its start placed from the oldest.
constexpr size_t kMostMarks = 7200;

// When each second of the recording arrived: recording seconds mapped to
// the wall clock.
class WallClock {
public:
    void mark(double recorded)
    {
        if (!marks.empty() && recorded < marks.back().recorded + 1)
            return;
        marks.push_back(Mark{recorded, now()});
        if (marks.size() > kMostMarks)
            marks.pop_front();
    }
    // The wall-clock time (seconds since 1970) when a recording second
    // arrived: between the marks around it, in proportion; before the
    // first as if the audio came at its own pace; after the last, then.
    double at(double recorded) const
    {
        if (marks.empty())
            return now();
        if (recorded <= marks.front().recorded)
            return marks.front().wall - (marks.front().recorded - recorded);
        for (size_t m = 1; m < marks.size(); ++m) {
            const Mark &before = marks[m - 1], &after = marks[m];
            if (recorded <= after.recorded)
                return before.wall + (after.wall - before.wall) * (recorded - before.recorded) /
                                         (after.recorded - before.recorded);
        }
        return marks.back().wall;
    }

private:
    struct Mark {
        double recorded;
        double wall;
    };
    static double now()
    {
        using namespace std::chrono;
        return duration<double>(system_clock::now().time_since_epoch()).count();
    }
    std::deque<Mark> marks;
};

// ISO 8601 UTC to a tenth of a second: 2026-12-09T01:02:03.4Z.
std::string isoTime(double wall)
{
    auto tenths = static_cast<int64_t>(std::llround(wall * 10));
    const auto whole = static_cast<time_t>(tenths / 10);
    std::tm parts{};
    gmtime_r(&whole, &parts);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(tenths % 10));
    return text;
}

std::string segmentText(const Segment &segment, const TrackInfo &track)
{
    char figures[64];
    std::snprintf(figures, sizeof figures, ", BER %.3f", segment.ber);
    return seconds3(segment.start) + " to " + seconds3(segment.end) + " s: track " +
           std::to_string(segment.track) + " from " + seconds3(segment.trackOffset) + " s" +
           figures + paceText(segment.speed, segment.tempo) + ": " + describeTrack(track) + "\n";
}

std::string segmentJson(const Segment &segment, const TrackInfo &track, const WallClock *clock)
{
    nlohmann::ordered_json object = {{"start", roundedSeconds(segment.start)},
                                     {"end", roundedSeconds(segment.end)}};
    if (clock) {
        object["start_time"] = isoTime(clock->at(segment.start));
        object["end_time"] = isoTime(clock->at(segment.end));
    }
    nlohmann::ordered_json about = trackJson(track);
    for (auto &member : about.items())
        object[member.key()] = member.value();
    object["offset_seconds"] = roundedSeconds(segment.trackOffset);
    object["speed"] = segment.speed;
    object["tempo"] = segment.tempo;
    object["ber"] = rounded4(segment.ber);
    return compactJson(object) + "\n";
}

struct Source {
    AudioInput input;
    bool live = false;    // times of day are given
    bool retried = false; // a URL or a device: opened again when it drops
};

Source sourceOf(const IndexOptions &options)
{
    const MonitorRequest &request = options.monitor;
    Source source;
    source.input = AudioInput::named(options.files.front());
    AudioInput &input = source.input;
    input.follow = request.follow;
    input.format = request.pcm.empty() ? request.inputFormat : request.pcm;
    input.rawRate = request.pcm.empty() ? 0 : request.rate;
    input.rawChannels = request.channels;
    // A name with an input format that is no file is a device's.
    struct stat status;
    const bool device = !request.inputFormat.empty() && request.pcm.empty() &&
                        !(stat(input.path.c_str(), &status) == 0 && S_ISREG(status.st_mode));
    input.url = !input.standardInput && !input.follow &&
                (input.path.find("://") != std::string::npos || device);
    source.retried = input.url;
    source.live = input.url || input.follow || input.standardInput;
    return source;
}

// Runs one connection of the source to its end (or its failure), each
// segment printed as it is found; `recorded` advances by its seconds and
// `delivered` tells whether it gave any audio.
void monitorOnce(const Source &source, IndexStore &store, WorkerPool &pool,
                 const MonitorOptions &options, const SegmentSink &sink, WallClock &clock,
                 double &recorded, bool &delivered)
{
    AudioTarget target{acceptedRates(Algorithm::Stream1), fallbackRate(Algorithm::Stream1), 0};
    target.louderChannel = true;
    AudioSource audio(source.input, target);
    LiveMonitor live(store, pool, audio.rate(), audio.channels(), options, sink, recorded);
    const double before = recorded;
    try {
        for (AudioChunk chunk = audio.read(); chunk.frames > 0 && !stopRequested();
             chunk = audio.read()) {
            delivered = true;
            clock.mark(before + audio.deliveredSeconds());
            live.add(chunk.samples, chunk.frames);
        }
    } catch (const InputError &) {
        // What was heard before the drop is reported first.
        recorded = before + audio.deliveredSeconds();
        live.finish();
        throw;
    }
    recorded = before + audio.deliveredSeconds();
    live.finish();
}

// The tries after a drop: 1, 2, 4 ... up to 30 s apart, the last when
// --retry-for runs out, counted from the last connection that gave audio.
class Retries {
public:
    explicit Retries(double seconds) : limit(seconds) {}

    // Waits before the next try and says so; false (saying so) once the
    // tries have run out.
    bool next(const std::string &name, const std::string &cause, bool delivered,
              Console &console)
    {
        if (delivered) {
            dropped = Clock::now();
            wait = kFirstWait;
        }
        const double gone = std::chrono::duration<double>(Clock::now() - dropped).count();
        if (gone >= limit) {
            console.failure(name, cause + "; no more tries after " +
                                      std::to_string(std::lround(gone)) + " s");
            return false;
        }
        const double pause = std::min(wait, limit - gone);
        char text[48];
        std::snprintf(text, sizeof text, "; trying again in %.1f s", pause);
        console.failure(name, cause + text);
        // In slices, so that a stop asked for meanwhile is seen at once.
        const auto until = Clock::now() + std::chrono::duration<double>(pause);
        while (Clock::now() < until && !stopRequested())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (stopRequested())
            return false;
        wait = std::min(wait * 2, kLongestWait);
        return true;
    }

private:
    using Clock = std::chrono::steady_clock;
    double limit;
    double wait = kFirstWait;
    Clock::time_point dropped = Clock::now();
};

} // namespace

int runMonitor(const IndexOptions &options, Console &console)
{
    const std::unique_ptr<IndexStore> store = openReporting(options.db, StoreAccess::Read, console);
    if (!store)
        return kExitFailure;
    const Source source = sourceOf(options);
    const std::string &name = options.files.front();
    // Ctrl-C or SIGTERM ends the input as its end would: the open play is
    // printed and the exit status is 0.
    StopOnSignals stopOnSignals;
    WorkerPool pool(std::max(1u, options.jobs));
    stopOnSignals.unblock();
    MonitorOptions monitorOptions;
    monitorOptions.speeds = options.speeds;
    monitorOptions.minSeconds = options.monitor.minLength;
    WallClock clock;
    const SegmentSink sink = [&](const Segment &segment) {
        // A track removed while the recording was searched: its segment goes.
        const std::optional<TrackInfo> track = store->view()->track(segment.track);
        if (!track)
            return;
        console.write(options.json ? segmentJson(segment, *track, source.live ? &clock : nullptr)
                                   : segmentText(segment, *track));
        console.flush();
    };
    Retries retries(options.monitor.retryFor);
    double recorded = 0;
    bool opened = false;
    for (;;) {
        std::string cause;
        bool delivered = false;
        try {
            monitorOnce(source, *store, pool, monitorOptions, sink, clock, recorded, delivered);
            if (!source.retried || stopRequested())
                return kExitSuccess;
            cause = "the stream ended";
        } catch (const IndexError &error) {
            console.failure(options.db, error.what());
            return kExitFailure;
        } catch (const std::bad_alloc &) {
            console.failure(name, "out of memory");
            return kExitFailure;
        } catch (const std::exception &error) {
            if (stopRequested())
                return kExitSuccess; // what was heard has been reported
            if (!source.retried || (!opened && !delivered)) {
                console.failure(name, error.what());
                return kExitFailure;
            }
            cause = error.what();
        }
        opened = true;
        if (!retries.next(name, cause, delivered, console))
            return stopRequested() ? kExitSuccess : kExitFailure;
    }
}

} // namespace vokid

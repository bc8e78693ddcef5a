// The words kept for a recording that runs for days: the ring against a
// plain copy of every word, the print taken piece by piece against the
// clip's print made whole, and a monitor's memory over a long recording.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/recording.h"
#include "vokid/index/memory_store.h"
#include "vokid/search/monitor.h"
#include "vokid/search/stream_print.h"
#include "vokid/search/word_ring.h"

namespace {

vokid::SubFingerprints counting(uint32_t from, uint32_t count)
{
    vokid::SubFingerprints words;
    words.frameSeconds = 0.0116;
    words.blockLength = 3;
    for (uint32_t i = from; i < from + count; ++i) {
        words.words.push_back(i);
        words.weak.push_back(~i);
        words.quiet.push_back(i % 5 == 0);
    }
    return words;
}

TEST(VokidWordRing, KeepsWhatIsNotDropped)
{
    vokid::WordRing ring;
    uint32_t appended = 0;
    // Appends, then a drop, then the stretch asked for: [from, to) expected.
    const struct {
        uint32_t append;
        int64_t dropBefore;
        int64_t from, length;
        int64_t first, last; // expected words
    } steps[] = {
        {100, 0, 10, 20, 10, 30},
        {100, 50, 40, 20, 50, 60},     // clipped at the first kept
        {10, 40, 0, 300, 50, 210},     // a drop backwards changes nothing
        {0, 200, 190, 100, 200, 210},  // clipped at both ends
        {1000, 1200, 1195, 10, 1200, 1205},
        {0, 5000, 1000, 10, 0, 0},     // beyond the end: everything goes
        {5, 0, 1210, 3, 1210, 1213},
    };
    for (const auto &step : steps) {
        ring.append(counting(appended, step.append));
        appended += step.append;
        ring.dropBefore(step.dropBefore);
        const vokid::SubFingerprints got = ring.stretch(step.from, step.length);
        ASSERT_EQ(static_cast<size_t>(step.last - step.first), got.size()) << step.from;
        EXPECT_EQ(0.0116, got.frameSeconds);
        for (size_t i = 0; i < got.size(); ++i) {
            const auto word = static_cast<uint32_t>(step.first) + static_cast<uint32_t>(i);
            ASSERT_EQ(word, got.words[i]);
            EXPECT_EQ(~word, got.weak[i]);
            EXPECT_EQ(word % 5 == 0, got.quiet[i] != 0);
        }
        EXPECT_EQ(static_cast<int64_t>(appended), ring.end());
        EXPECT_EQ(static_cast<size_t>(ring.end() - ring.begin()), ring.heldWords());
    }
}

// Taken piece by piece, dropped from the engine as they go, the words are
// those of the whole audio fingerprinted at once.
TEST(VokidWordRing, PrintTakenInPiecesIsTheWholePrint)
{
    const std::vector<int16_t> audio = vok_test::recording(77, 20, 22050, 2);
    const vokid::SubFingerprints whole = vokid::clipPrint(audio.data(), audio.size() / 2, 22050, 2);
    for (size_t piece : {size_t(1000), size_t(22050), size_t(100000)}) {
        vokid::StreamPrint print(22050, 2);
        vokid::WordRing ring;
        for (size_t at = 0; at < audio.size() / 2; at += piece) {
            print.add(audio.data() + at * 2, std::min(piece, audio.size() / 2 - at));
            ring.append(print.take());
            ring.dropBefore(ring.end() - 100);
        }
        ring.append(print.take(true));
        EXPECT_EQ(static_cast<int64_t>(whole.size()), ring.end()) << piece;
        const vokid::SubFingerprints last = ring.stretch(ring.begin(), ring.end() - ring.begin());
        const auto from = static_cast<size_t>(ring.begin());
        for (size_t i = 0; i < last.size(); ++i) {
            ASSERT_EQ(whole.words[from + i], last.words[i]) << piece << " " << i;
            ASSERT_EQ(whole.weak[from + i], last.weak[i]) << piece << " " << i;
        }
    }
}

// The words a monitor holds do not grow with the recording.
TEST(VokidWordRing, MonitorMemoryStaysFlat)
{
    vokid::MemoryStore store;
    vokid::WorkerPool pool(2);
    vokid::MonitorOptions options;
    size_t segments = 0;
    vokid::LiveMonitor monitor(store, pool, 11025, 1, options,
                               [&](const vokid::Segment &) { ++segments; });
    vok_test::Recording music(91, 11025, 1);
    std::vector<int16_t> second(11025);
    std::vector<size_t> held;
    for (int s = 1; s <= 360; ++s) {
        music.render(second.data(), second.size());
        monitor.add(second.data(), second.size());
        if (s % 60 == 0)
            held.push_back(monitor.heldWords());
    }
    monitor.finish();
    EXPECT_EQ(0u, segments);
    // 11 prints (as played and 10 speeds), each some 30 s of words: from
    // the oldest window still searched (less 12 s) on. How many windows
    // are still being searched when a sample is taken depends on the
    // pool's pace: up to 3 (its threads + 1), 3 s apart.
    for (size_t h : held) {
        EXPECT_LT(h, 11u * 40 * 87);
        EXPECT_NEAR(static_cast<double>(held.front()), static_cast<double>(h), 11 * 9 * 87.0);
    }
}

} // namespace

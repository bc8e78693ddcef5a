// A damaged index: seeded damage to the data file (a flipped byte in each
// kind of page, the meta pages included, and in the header file; pages
// zeroed and swapped; the file cut short and extended), each run through
// the commands that read and one that writes, as child processes with a
// timeout. None may end by a signal or hang, and each answers as on the
// undamaged index, or exits 1 with one line naming the folder and "index
// is damaged". The page kinds are read here from the pages' own headers.
// Besides, the bounds of each inline page of duplicates (a key's postings
// within its entry) are set out of place, for writes that change them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>

#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/program/vokid_runs.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kRate = 11025;
constexpr size_t kPage = 4096;
constexpr unsigned kTimeout = 60; // seconds: a run of a few tracks takes well under one

// What each command answers, and how it is run on an index folder.
struct Command {
    const char *name;
    std::function<std::vector<std::string>(const std::string &db)> args;
    // The part of standard output compared with the undamaged answer.
    std::function<std::string(const std::string &out)> answer;
};

std::string whole(const std::string &out)
{
    return out;
}

// The figures of the content, not those of the file (its size, its free
// pages), which damage to unused bytes may change.
std::string contentFigures(const std::string &out)
{
    const nlohmann::json stats = nlohmann::json::parse(out, nullptr, false);
    if (stats.is_discarded() || !stats.is_object())
        return out;
    std::string figures;
    for (const char *key : {"tracks", "hours", "sub_fingerprints", "postings", "step",
                            "posting_bytes", "sequence_bytes"})
        figures += stats.contains(key) ? stats[key].dump() + " " : "- ";
    return figures;
}

// Pages of the data file by kind, as their headers say: the page number
// (8 bytes), 2 unused, the flags (2 bytes).
std::map<std::string, std::vector<size_t>> pageKinds(const std::string &data)
{
    std::map<std::string, std::vector<size_t>> kinds;
    for (size_t page = 0; page < data.size() / kPage; ++page) {
        uint64_t number = 0;
        uint16_t flags = 0;
        std::memcpy(&number, data.data() + page * kPage, sizeof number);
        std::memcpy(&flags, data.data() + page * kPage + 10, sizeof flags);
        const char *kind = number != page ? "inside an overflow run"
                           : flags & 0x08 ? "meta"
                           : flags & 0x01 ? "branch"
                           : flags & 0x04 ? "overflow"
                           : flags & 0x20 ? "fixed-size duplicates"
                           : flags & 0x02 ? "leaf"
                                          : "other";
        kinds[kind].push_back(page);
    }
    return kinds;
}

// Where the inline pages of duplicates lie in the data file: the values
// of leaf entries with the flag of duplicates and not that of a table of
// their own. A leaf's entry offsets follow its 16-byte header, up to its
// lower bound (bytes 12-13); an entry is its value size (4 bytes), flags
// (2), key size (2), the key, the value.
std::vector<size_t> inlinePages(const std::string &data)
{
    const auto word16 = [&](size_t at) {
        uint16_t value = 0;
        std::memcpy(&value, data.data() + at, sizeof value);
        return value;
    };
    std::vector<size_t> found;
    for (size_t page = 2; page < data.size() / kPage; ++page) {
        const size_t start = page * kPage;
        if ((word16(start + 10) & 0x3F) != 0x02) // a leaf of entries
            continue;
        for (size_t slot = start + 16; slot < start + word16(start + 12); slot += 2) {
            const size_t entry = start + word16(slot);
            if ((word16(entry + 4) & 0x06) == 0x04)
                found.push_back(entry + 8 + word16(entry + 6));
        }
    }
    return found;
}

struct Damage {
    std::string name;
    // Changes the data file's bytes, or the header's; picks with `random`.
    std::function<void(std::string &data, std::string &header, std::mt19937 &random)> apply;
};

size_t pick(std::mt19937 &random, size_t count)
{
    return std::uniform_int_distribution<size_t>(0, count - 1)(random);
}

void flipIn(std::string &bytes, size_t from, size_t length, std::mt19937 &random)
{
    bytes[from + pick(random, length)] ^= static_cast<char>(1u << pick(random, 8));
}

std::vector<Damage> damages(const std::map<std::string, std::vector<size_t>> &kinds)
{
    std::vector<Damage> table;
    for (const auto &[kind, pages] : kinds) {
        const std::vector<size_t> list = pages;
        table.push_back({"a byte of a page's header (" + kind + ")",
                         [list](std::string &data, std::string &, std::mt19937 &random) {
                             flipIn(data, list[pick(random, list.size())] * kPage, 64, random);
                         }});
        table.push_back({"a byte of a page (" + kind + ")",
                         [list](std::string &data, std::string &, std::mt19937 &random) {
                             flipIn(data, list[pick(random, list.size())] * kPage, kPage, random);
                         }});
    }
    table.push_back(
        {"a byte of the header file", [](std::string &, std::string &header, std::mt19937 &random) {
             flipIn(header, 8, header.size() - 8, random); // past the magic
         }});
    table.push_back({"a page zeroed", [](std::string &data, std::string &, std::mt19937 &random) {
                         std::fill_n(data.begin() + pick(random, data.size() / kPage) * kPage,
                                     kPage, '\0');
                     }});
    table.push_back(
        {"two pages swapped", [](std::string &data, std::string &, std::mt19937 &random) {
             const size_t a = pick(random, data.size() / kPage) * kPage;
             const size_t b = pick(random, data.size() / kPage) * kPage;
             for (size_t i = 0; i < kPage; ++i)
                 std::swap(data[a + i], data[b + i]);
         }});
    table.push_back({"cut short", [](std::string &data, std::string &, std::mt19937 &random) {
                         data.resize(pick(random, data.size()));
                     }});
    table.push_back({"extended", [](std::string &data, std::string &, std::mt19937 &random) {
                         const size_t more = 1 + pick(random, 3 * kPage);
                         for (size_t i = 0; i < more; ++i)
                             data.push_back(static_cast<char>(pick(random, 4) == 0 ? random() : 0));
                     }});
    return table;
}

class VokidIndexDamage : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new vok_test::TempDir;
        for (uint32_t i = 0; i < 3; ++i) {
            files.push_back(dir->file("track-" + std::to_string(i + 1) + ".wav"));
            vok_test::write_recording(files.back(), 700 + i, 20, kRate, 1);
        }
        const std::vector<int16_t> second = vok_test::recording(701, 20, kRate, 1);
        vok_test::write_wav(
            dir->file("clip.wav"), 1, 1, kRate, 16,
            vok_test::pcm16({second.begin() + 5 * kRate, second.begin() + 15 * kRate}));
        good = dir->file("good");
        ASSERT_EQ(0, vokid_test::vokid({"add", good, files[0], files[1], files[2]}).exit_code);
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
        files.clear();
    }

    static std::vector<Command> commands(bool writer)
    {
        const std::string clip = dir->file("clip.wav");
        const std::string first = files[0];
        std::vector<Command> list = {
            {"list",
             [](const std::string &db) {
                 return std::vector<std::string>{"list", db};
             },
             whole},
            {"stats",
             [](const std::string &db) {
                 return std::vector<std::string>{"stats", "--json", db};
             },
             contentFigures},
            {"identify",
             [clip](const std::string &db) {
                 return std::vector<std::string>{"identify", "--as-played", db, clip};
             },
             whole},
            {"duplicates",
             [](const std::string &db) {
                 return std::vector<std::string>{"duplicates", "-j", "1", db};
             },
             whole},
            {"check",
             [](const std::string &db) {
                 return std::vector<std::string>{"check", db};
             },
             whole},
        };
        if (writer)
            list.push_back({"remove",
                            [](const std::string &db) {
                                return std::vector<std::string>{"remove", db, "3"};
                            },
                            whole});
        else
            list.push_back({"add",
                            [first](const std::string &db) {
                                return std::vector<std::string>{"add", db, first};
                            },
                            whole});
        return list;
    }

    // The trials of seeds [from, to): damage kind seed % kinds.
    static void runTrials(unsigned from, unsigned to);

    static vok_test::TempDir *dir;
    static std::vector<std::string> files;
    static std::string good;
};

vok_test::TempDir *VokidIndexDamage::dir = nullptr;
std::vector<std::string> VokidIndexDamage::files;
std::string VokidIndexDamage::good;

vok_test::RunResult runOn(const Command &command, const std::string &db)
{
    vok_test::RunOptions options;
    options.timeout_seconds = kTimeout;
    return vok_test::run_program(VOKID_PROGRAM, command.args(db), options);
}

// A fresh copy of the undamaged index, with these files' bytes.
void writeCopy(const std::string &from, const std::string &to, const std::string &data,
               const std::string &header)
{
    fs::remove_all(to);
    fs::create_directory(to);
    fs::copy_file(from + "/lock.mdb", to + "/lock.mdb");
    vok_test::write_file(to + "/data.mdb", vok_test::Bytes(data.begin(), data.end()));
    vok_test::write_file(to + "/vokid-index", vok_test::Bytes(header.begin(), header.end()));
}

// A run on a damaged index answers as on the undamaged one (`undamaged`:
// its exit code and answer), or exits 1 with the damage message; it never
// ends by a signal or hangs. Counts the outcome.
void judge(const vok_test::RunResult &run, const Command &command,
           const std::pair<int, std::string> &undamaged, const std::string &db,
           const std::string &trial, std::map<std::string, int> &outcomes)
{
    ASSERT_EQ(0, run.signal) << trial << ": ended by a signal";
    ASSERT_FALSE(run.timed_out) << trial << ": did not end";
    if (run.exit_code == undamaged.first && command.answer(run.out) == undamaged.second) {
        ++outcomes["the undamaged answer"];
        return;
    }
    EXPECT_EQ(1, run.exit_code) << trial << ": a wrong answer: " << run.out << run.err;
    const std::string line = "vokid: " + db + ": the index is damaged: ";
    EXPECT_EQ(line, run.err.substr(0, line.size())) << trial;
    EXPECT_EQ(run.err.size() - 1, run.err.find('\n')) << trial << ": " << run.err;
    ++outcomes["the damage message"];
}

void VokidIndexDamage::runTrials(unsigned from, unsigned to)
{
    const std::string data = vok_test::read_file(good + "/data.mdb");
    const std::string header = vok_test::read_file(good + "/vokid-index");
    const std::vector<Damage> table = damages(pageKinds(data));
    const std::string db = dir->file("trial");
    std::map<std::string, std::pair<int, std::string>> undamaged;
    for (bool writer : {false, true})
        for (const Command &command : commands(writer)) {
            writeCopy(good, db, data, header);
            const vok_test::RunResult run = runOn(command, db);
            ASSERT_EQ(0, run.exit_code) << command.name << ": " << run.err;
            undamaged[command.name] = {run.exit_code, command.answer(run.out)};
        }
    std::map<std::string, int> outcomes;
    for (unsigned seed = from; seed < to; ++seed) {
        const Damage &damage = table[seed % table.size()];
        std::mt19937 random(seed);
        std::string damagedData = data, damagedHeader = header;
        damage.apply(damagedData, damagedHeader, random);
        for (const Command &command : commands(seed % 2 == 1)) {
            writeCopy(good, db, damagedData, damagedHeader);
            const vok_test::RunResult run = runOn(command, db);
            const std::string trial =
                "seed " + std::to_string(seed) + ", " + damage.name + ", " + command.name;
            judge(run, command, undamaged[command.name], db, trial, outcomes);
            if (HasFatalFailure())
                return;
        }
    }
    for (const auto &[outcome, count] : outcomes)
        std::cerr << count << " runs gave " << outcome << "\n";
}

// One trial of each kind of damage: the quick table.
TEST_F(VokidIndexDamage, EachKindOfDamage)
{
    const std::vector<Damage> table = damages(pageKinds(vok_test::read_file(good + "/data.mdb")));
    runTrials(0, static_cast<unsigned>(table.size()));
}

// Each posting belongs to one of the three tracks, so one of the three
// removals changes every inline page of duplicates. Their bounds set out
// of place (the free space's lower or upper bound, past the entry or
// below the page's header) are found before the store moves a byte.
TEST_F(VokidIndexDamage, InlinePagesOfDuplicatesWithBoundsOutOfPlace)
{
    const std::string data = vok_test::read_file(good + "/data.mdb");
    const std::string header = vok_test::read_file(good + "/vokid-index");
    const std::vector<size_t> pages = inlinePages(data);
    ASSERT_GE(pages.size(), 4u);
    std::vector<Command> removals;
    for (const char *id : {"1", "2", "3"})
        removals.push_back({id,
                            [id](const std::string &db) {
                                return std::vector<std::string>{"remove", db, id};
                            },
                            whole});
    const std::string db = dir->file("trial");
    std::map<std::string, std::pair<int, std::string>> undamaged;
    for (const Command &command : removals) {
        writeCopy(good, db, data, header);
        const vok_test::RunResult run = runOn(command, db);
        ASSERT_EQ(0, run.exit_code) << run.err;
        undamaged[command.name] = {0, run.out};
    }
    const struct {
        const char *name;
        size_t at; // of the 16-bit bound within the inline page
        uint16_t value;
    } bounds[] = {
        {"upper bound past the entry", 14, 0x201e},
        {"upper bound at the end of the range", 14, 0xffff},
        {"lower bound within the header", 12, 2},
        {"lower bound above the upper", 12, 0x4000},
    };
    std::map<std::string, int> outcomes;
    for (size_t i = 0; i < 4; ++i) {
        const size_t page = pages[i * (pages.size() - 1) / 3]; // the first, the last, two between
        for (const auto &bound : bounds) {
            std::string damaged = data;
            std::memcpy(damaged.data() + page + bound.at, &bound.value, sizeof bound.value);
            for (const Command &command : removals) {
                writeCopy(good, db, damaged, header);
                const vok_test::RunResult run = runOn(command, db);
                const std::string trial = "inline page at byte " + std::to_string(page) + ", " +
                                          bound.name + ", remove " + command.name;
                judge(run, command, undamaged[command.name], db, trial, outcomes);
                if (HasFatalFailure())
                    return;
            }
        }
    }
    for (const auto &[outcome, count] : outcomes)
        std::cerr << count << " runs gave " << outcome << "\n";
    EXPECT_GE(outcomes["the damage message"], 16); // each page's damage met by its track's removal
}

// 120 seeded trials: the slow table.
TEST_F(VokidIndexDamage, SeededTrials)
{
    runTrials(1000, 1120);
}

} // namespace

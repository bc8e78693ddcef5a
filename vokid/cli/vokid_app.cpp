#include "vokid/cli/vokid_app.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <thread>

#include <CLI/CLI.hpp>
#include <vok/vok_engine.h>

#include "vokid/cli/compare_command.h"
#include "vokid/cli/decode_command.h"
#include "vokid/cli/exit_codes.h"
#include "vokid/cli/index_commands.h"
#include "vokid/cli/init_command.h"
#include "vokid/cli/maintenance_commands.h"
#include "vokid/cli/print_command.h"
#include "vokid/cli/serve_command.h"
#include "vokid/cli/usage_error.h"

namespace vokid {

namespace {

// The longest --length of print, in seconds (about 115 days): enough for
// any recording, and small enough that it counts in samples without
// overflow.
constexpr double kLongestPrint = 1e7;

// Refuses nan and the infinities, which CLI11 reads as numbers and its
// ranges let through (every comparison with nan is false).
CLI::Validator finiteNumber()
{
    return CLI::Validator(
        [](std::string &text) {
            double value = 0;
            if (CLI::detail::lexical_cast(text, value) && !std::isfinite(value))
                return "Value " + text + " is not a finite number";
            return std::string();
        },
        "");
}

// A number above 0 and at most `most`.
CLI::Validator positiveUpTo(double most)
{
    return CLI::Validator(
        [most](std::string &text) {
            double value = 0;
            if (CLI::detail::lexical_cast(text, value) && (value <= 0 || value > most)) {
                std::ostringstream message;
                message << "Value " << text << " is not above 0 and at most " << std::llround(most);
                return message.str();
            }
            return std::string();
        },
        "");
}

// 0 (all of it), or from 3.4 (a block) to 3600 seconds.
CLI::Validator searchedLength()
{
    return CLI::Validator(
        [](std::string &text) {
            double value = 0;
            if (CLI::detail::lexical_cast(text, value) && value != 0 &&
                !(value >= 3.4 && value <= 3600))
                return "Value " + text + " is neither 0 (all) nor from 3.4 to 3600";
            return std::string();
        },
        "");
}

// What the command line asked for, as CLI11 fills it in.
struct Request {
    std::string algorithm = "Stream1";
    std::string format = "xml";
    double length = 0;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    bool raw = false;
    std::vector<std::string> files;
    std::string decodeInput = "-";
    std::string a;
    std::string b;
    double threshold = kAcceptance.maxBer;
    bool json = false;
    IndexOptions index;
    bool asPlayed = false;
    CopyOptions copy; // upgrade, backup, compact
    ServeOptions serve;
    InitOptions init;
};

void addPrint(CLI::App &app, Request &request)
{
    CLI::App *print = app.add_subcommand(
        "print", "Fingerprint audio files of any format FFmpeg decodes ('-' is standard input).");
    print
        ->add_option("-a,--algorithm", request.algorithm,
                     "Stream1, Stream4, FileFixed or FileFloat")
        ->check(CLI::IsMember(algorithmNames()))
        ->capture_default_str();
    print->add_option("--format", request.format, "xml (as vok writes it), json or text")
        ->check(CLI::IsMember({"xml", "json", "text"}))
        ->capture_default_str();
    print->add_option("--length", request.length, "Fingerprint only the first SECONDS")
        ->type_name("SECONDS")
        ->check(finiteNumber())
        ->check(positiveUpTo(kLongestPrint));
    print->add_option("-j,--jobs", request.jobs, "Files fingerprinted at once (default: cores)")
        ->type_name("N")
        ->check(CLI::Range(1u, 1024u));
    print->add_flag("--raw", request.raw,
                    "json: also the sub-fingerprints and kept masks as numbers");
    print->add_option("FILE", request.files, "Audio files")->required();
}

void addDecode(CLI::App &app, Request &request)
{
    CLI::App *decode = app.add_subcommand(
        "decode", "Check and decode fingerprint documents (raw or in server queries) into JSON.");
    decode->add_option("FILE", request.decodeInput,
                       "A file of documents, '-' (default) for standard input");
}

void addCompare(CLI::App &app, Request &request, bool &algorithmGiven)
{
    CLI::App *compare = app.add_subcommand(
        "compare", "Compare two fingerprints, each given as audio or as a fingerprint document.");
    compare->add_option("A", request.a, "Audio file or fingerprint document")->required();
    compare->add_option("B", request.b, "Audio file or fingerprint document")->required();
    compare
        ->add_option("-a,--algorithm", request.algorithm,
                     "Algorithm for audio inputs (Stream1 by default)")
        ->check(CLI::IsMember(algorithmNames()))
        ->each([&algorithmGiven](const std::string &) { algorithmGiven = true; });
    compare
        ->add_option("--threshold", request.threshold,
                     "Bit error rate at or below which recordings are the same")
        ->check(finiteNumber())
        ->check(CLI::Range(0.0, 1.0))
        ->capture_default_str();
    compare->add_flag("--json", request.json, "Print the result as JSON");
}

// The options the index commands share, each added to one command.
struct IndexOptionAdder {
    IndexOptions &index;

    // The index folder, named first.
    void db(CLI::App *command) const
    {
        command->add_option("DB", index.db, "The index folder")->required();
    }
    void jobs(CLI::App *command, const char *what) const
    {
        command->add_option("-j,--jobs", index.jobs, what)
            ->type_name("N")
            ->check(CLI::Range(1u, 1024u));
    }
    void json(CLI::App *command, const char *what) const
    {
        command->add_flag("--json", index.json, what);
    }
};

void addInitCommand(CLI::App &app, InitOptions &init)
{
    CLI::App *command = app.add_subcommand(
        "init", "Create an empty index: an index folder, or the tables in a PostgreSQL database "
                "(sharded over other databases with --shard).");
    command->add_option("DB", init.db, "The index folder, or a postgresql:// URI")->required();
    command
        ->add_option("--step", init.step,
                     "Every N-th sub-fingerprint has a posting: 1 indexes them all (best for short "
                     "or degraded clips), larger makes a smaller index")
        ->type_name("N")
        ->check(CLI::Range(1u, kMaxStep))
        ->capture_default_str();
    command
        ->add_option("--shard", init.shards,
                     "A postgresql:// database that holds a share of the postings and "
                     "sequences (once per shard; DB is then the coordinator)")
        ->type_name("URI");
}

void addAddCommand(CLI::App &app, const IndexOptionAdder &shared)
{
    CLI::App *add = app.add_subcommand(
        "add", "Add audio files (any format) or fingerprint documents to an index, created on "
               "first use.");
    shared.db(add);
    add->add_option("FILE", shared.index.files, "Audio files or fingerprint documents")->required();
    shared.jobs(add, "Files decoded and fingerprinted at once (default: cores)");
    add->add_option("--name", shared.index.name,
                    "The track's path for audio from standard input ('-'); adding the same "
                    "name again replaces the track")
        ->type_name("NAME");
    add->add_option("--batch", shared.index.batch, "Files stored per transaction")
        ->type_name("N")
        ->check(CLI::Range(1u, 100000u))
        ->capture_default_str();
}

void addSearchCommands(CLI::App &app, Request &request, const IndexOptionAdder &shared)
{
    IndexOptions &index = request.index;
    CLI::App *identify = app.add_subcommand(
        "identify", "Identify clips (at least 3.4 s each): the track, where in it, how sure.");
    shared.db(identify);
    identify->add_option("FILE", index.files, "Audio clips ('-' is standard input)")->required();
    shared.json(identify, "One JSON object per clip");
    shared.jobs(identify, "Clips identified at once (default: cores)");
    identify
        ->add_option("--length", index.length,
                     "Seconds of each clip searched, from its start (0: all of it)")
        ->type_name("SECONDS")
        ->check(finiteNumber())
        ->check(searchedLength())
        ->default_str("all");
    identify->add_flag("--as-played", request.asPlayed,
                       "Search the clips as played only, not at other speeds or tempos");
    identify->add_flag("--all", index.all, "Report every indexed track heard in each clip");
    identify->add_flag("--explain", index.explain,
                       "For a clip with no match, say why and what came nearest");

}

void addMonitor(CLI::App &app, const IndexOptionAdder &shared, Request &request)
{
    IndexOptions &index = request.index;
    MonitorRequest &live = index.monitor;
    CLI::App *monitor = app.add_subcommand(
        "monitor", "Find the indexed tracks in a recording as it comes (a radio stream, a DJ "
                   "set, a sound card, a log being written): a line per segment as its play ends.");
    shared.db(monitor);
    monitor
        ->add_option("SOURCE", index.files,
                     "A file, '-' (standard input), a URL FFmpeg opens (http://, udp://, rtp://) "
                     "or a device (with --input-format)")
        ->required()
        ->expected(1);
    shared.json(monitor, "One JSON object per segment");
    shared.jobs(monitor, "Windows searched at once (default: cores)");
    monitor->add_flag("--as-played", request.asPlayed,
                      "Search the recording as played only, not at other speeds or tempos");
    monitor->add_flag("--follow", live.follow,
                      "The file is still being written: read on as it grows, as tail -f does");
    monitor->add_option("--input-format", live.inputFormat,
                        "FFmpeg's input format for SOURCE (alsa, pulse: a sound card)");
    CLI::Option *pcm =
        monitor->add_option("--pcm", live.pcm, "SOURCE is raw PCM of this sample format")
            ->check(CLI::IsMember({"s16le", "s16be", "s24le", "s32le", "f32le", "f64le", "u8"}));
    CLI::Option *rate = monitor->add_option("--rate", live.rate, "Raw PCM's sample rate (Hz)")
                            ->check(CLI::Range(8000u, 384000u));
    CLI::Option *channels =
        monitor->add_option("--channels", live.channels, "Raw PCM's channels")
            ->check(CLI::Range(1u, 8u));
    pcm->needs(rate)->needs(channels);
    rate->needs(pcm);
    channels->needs(pcm);
    monitor
        ->add_option("--retry-for", live.retryFor,
                     "Seconds a dropped URL or device is tried again (1, 2, 4 ... 30 s apart)")
        ->type_name("SECONDS")
        ->check(finiteNumber())
        ->check(CLI::Range(0.0, 1e7))
        ->capture_default_str();
    monitor->add_option("--min-length", live.minLength, "The shortest segment reported")
        ->type_name("SECONDS")
        ->check(finiteNumber())
        ->check(CLI::Range(0.0, 1e7))
        ->capture_default_str();
}

void addCatalogueCommands(CLI::App &app, const IndexOptionAdder &shared)
{
    CLI::App *list = app.add_subcommand("list", "List the tracks of an index.");
    shared.db(list);
    shared.json(list, "One JSON object per track");

    CLI::App *remove = app.add_subcommand("remove", "Remove tracks from an index.");
    shared.db(remove);
    remove->add_option("TRACK", shared.index.files, "Track ids or paths")->required();

    CLI::App *prune = app.add_subcommand(
        "prune", "Remove the tracks whose file is gone (not those from documents or standard "
                 "input).");
    shared.db(prune);
    prune->add_flag("--changed", shared.index.changed,
                    "Also the tracks whose file's size or time changed");
    prune->add_flag("--dry-run", shared.index.dryRun, "Only show what would be removed");

    CLI::App *stats =
        app.add_subcommand("stats", "Tracks, hours, postings and bytes on disk of an index.");
    shared.db(stats);
    shared.json(stats, "Print JSON");

    CLI::App *duplicates = app.add_subcommand(
        "duplicates", "Groups of tracks in an index that are the same recording.");
    shared.db(duplicates);
    shared.json(duplicates, "One JSON object per group");
    shared.jobs(duplicates, "Tracks searched at once (default: cores)");
    duplicates
        ->add_option("--min-coverage", shared.index.minCoverage,
                     "Group only pairs whose matching stretches cover this fraction of the "
                     "shorter track")
        ->type_name("FRACTION")
        ->check(finiteNumber())
        ->check(CLI::Range(0.0, 1.0))
        ->capture_default_str();

    CLI::App *check = app.add_subcommand(
        "check", "Read back a whole index: every track, sequence, posting and path.");
    shared.db(check);
    shared.json(check, "Print JSON: state, damaged tracks, other problems");
}

// The commands on the whole index.
void addMaintenanceCommands(CLI::App &app, CopyOptions &copy)
{
    CLI::App *upgrade = app.add_subcommand(
        "upgrade", "Convert an index of an older format version in place (atomically).");
    upgrade->add_option("DB", copy.db, "The index folder")->required();

    CLI::App *backup = app.add_subcommand(
        "backup", "Write a consistent, compacted copy of an index to a new folder, while "
                  "others read and write it.");
    backup->add_option("DB", copy.db, "The index folder")->required();
    backup->add_option("DEST", copy.destination, "The new folder (must not exist)")->required();

    CLI::App *compact = app.add_subcommand(
        "compact", "Give an index's free pages back: a compacted copy renamed in over its store.");
    compact->add_option("DB", copy.db, "The index folder")->required();
    compact
        ->add_option("--into", copy.destination,
                     "Write the compacted index to this new folder instead (where the index's "
                     "disk has no room for a copy), leaving DB as it is")
        ->type_name("DIR");

    CLI::App *copyCommand = app.add_subcommand(
        "copy", "Copy an index into another store of any kind (an index folder into a "
                "PostgreSQL database, or back), keeping its tracks' ids; run again, it goes "
                "on where a stopped copy ended.");
    copyCommand->add_option("SRC", copy.db, "The index copied: a folder or a postgresql:// URI")
        ->required();
    copyCommand->add_option("DEST", copy.destination,
                     "The index copied into, created when there is none: a folder or a "
                     "postgresql:// URI")
        ->required();
}

void addServeCommand(CLI::App &app, ServeOptions &serve)
{
    CLI::App *command = app.add_subcommand(
        "serve", "Answer lookups over HTTP: vok's server queries (POST /query), a JSON API "
                 "under /v1/, a web page at /, /healthz and /metrics.");
    command->add_option("DB", serve.db, "The index folder")->required();
    command->add_option("--listen", serve.listen, "Address and port; port 0 picks a free one")
        ->type_name("ADDR:PORT")
        ->capture_default_str();
    command->add_option("--threads", serve.threads, "Requests answered at once (default: cores)")
        ->type_name("N")
        ->check(CLI::Range(1u, 1024u));
    command->add_option("--max-body", serve.maxBody, "Largest request body; larger gets 413")
        ->type_name("MB")
        ->check(finiteNumber())
        ->check(positiveUpTo(4096))
        ->capture_default_str();
    command->add_option("--max-connections", serve.maxConnections, "Connections at once")
        ->type_name("N")
        ->check(CLI::Range(1u, 100000u))
        ->capture_default_str();
    command
        ->add_option("--read-timeout", serve.readTimeout,
                     "Seconds a client has to send its request; slower ones are dropped")
        ->type_name("S")
        ->check(finiteNumber())
        ->check(positiveUpTo(3600))
        ->capture_default_str();
    command
        ->add_option("--max-seconds", serve.maxSeconds,
                     "Seconds of audio or sub-fingerprints searched per query; the rest is not "
                     "decoded")
        ->type_name("S")
        ->check(finiteNumber())
        ->check(CLI::Range(3.4, 3600.0))
        ->capture_default_str();
    command
        ->add_option("--token-file", serve.tokenFile,
                     "File whose first line is the bearer token of the write routes (without "
                     "it they answer 403)")
        ->type_name("FILE");
    command->add_flag("--hide-paths", serve.hidePaths, "Leave tracks' paths out of answers");
}

// The index commands, in the order the help lists them: each names the
// index folder DB first.
void addIndexCommands(CLI::App &app, Request &request)
{
    const IndexOptionAdder shared{request.index};
    addInitCommand(app, request.init);
    addAddCommand(app, shared);
    addSearchCommands(app, request, shared);
    addMonitor(app, shared, request);
    addCatalogueCommands(app, shared);
    addMaintenanceCommands(app, request.copy);
    addServeCommand(app, request.serve);
}

PrintFormat formatNamed(const std::string &name)
{
    return name == "json"   ? PrintFormat::Json
           : name == "text" ? PrintFormat::Text
                            : PrintFormat::Xml;
}

int dispatch(const CLI::App &app, const Request &request, bool algorithmGiven, Console &console)
{
    if (app.got_subcommand("print")) {
        PrintOptions options;
        options.request = {*algorithmNamed(request.algorithm), request.length};
        options.style = {formatNamed(request.format), request.raw};
        options.jobs = request.jobs;
        options.files = request.files;
        if (request.raw && options.style.format != PrintFormat::Json)
            throw UsageError("--raw goes with --format json");
        if (std::count(options.files.begin(), options.files.end(), "-") > 1)
            throw UsageError("standard input ('-') can be named once");
        return runPrint(options, console);
    }
    if (app.got_subcommand("decode"))
        return runDecode(request.decodeInput, console);
    if (app.got_subcommand("serve"))
        return runServe(request.serve, console);
    if (app.got_subcommand("init"))
        return runInit(request.init, console);
    const std::pair<const char *, int (*)(const CopyOptions &, Console &)> copies[] = {
        {"upgrade", runUpgrade},
        {"backup", runBackup},
        {"compact", runCompact},
        {"copy", runCopy},
    };
    for (const auto &[name, run] : copies)
        if (app.got_subcommand(name))
            return run(request.copy, console);
    IndexOptions index = request.index;
    index.speeds = !request.asPlayed;
    if (std::count(index.files.begin(), index.files.end(), "-") > 1)
        throw UsageError("standard input ('-') can be named once");
    const bool standardInput =
        std::find(index.files.begin(), index.files.end(), "-") != index.files.end();
    if (app.got_subcommand("add") && standardInput && index.name.empty())
        throw UsageError("add: standard input ('-') needs --name NAME, the track's path");
    if (!index.name.empty() && !standardInput)
        throw UsageError("--name goes with standard input ('-')");
    const std::pair<const char *, int (*)(const IndexOptions &, Console &)> commands[] = {
        {"add", runAdd},
        {"identify", runIdentify},
        {"monitor", runMonitor},
        {"list", runList},
        {"remove", runRemove},
        {"stats", runStats},
        {"duplicates", runDuplicates},
        {"check", runCheck},
        {"prune", runPrune},
    };
    for (const auto &[name, run] : commands)
        if (app.got_subcommand(name))
            return run(index, console);
    CompareOptions options;
    options.a = request.a;
    options.b = request.b;
    if (algorithmGiven)
        options.algorithm = algorithmNamed(request.algorithm);
    options.threshold = request.threshold;
    options.json = request.json;
    return runCompare(options, console);
}

} // namespace

int runVokid(int argc, const char *const *argv, std::FILE *out, std::FILE *err)
{
    Console console(out, err);
    CLI::App app("vokid: fingerprints of any audio, read back, compared, and identified in an "
                 "index of your own.",
                 "vokid");
    app.set_version_flag("--version", std::string("vokid ") + eng_version());
    app.require_subcommand(1, 1);
    app.footer("Exit codes: 0 success, 1 an input failed, 2 usage error.\n"
               "See vokid(1) for the output formats.");
    Request request;
    request.index.jobs = request.jobs;
    request.serve.threads = request.jobs;
    bool algorithmGiven = false;
    addPrint(app, request);
    addDecode(app, request);
    addCompare(app, request, algorithmGiven);
    addIndexCommands(app, request);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        std::ostringstream help;
        std::ostringstream problem;
        const int code = app.exit(error, help, problem);
        if (code == 0) {
            console.write(help.str());
            return console.finish() ? kExitSuccess : kExitFailure;
        }
        console.message(std::string(error.what()) + " (vokid --help shows the usage)");
        return kExitUsage;
    }
    int code = kExitUsage;
    try {
        code = dispatch(app, request, algorithmGiven, console);
    } catch (const UsageError &error) {
        console.message(std::string(error.what()) + " (vokid --help shows the usage)");
        return kExitUsage;
    }
    return console.finish() ? code : kExitFailure;
}

} // namespace vokid

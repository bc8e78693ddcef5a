// Start to fingerprint for the spectral algorithm on a 3-minute 48 kHz
// stereo 16-bit WAVE file: open the file, find its data chunk, create a
// handle, read and add 15-second blocks (as the driver does) until the
// fingerprint is complete, serialise it, release everything. The file is
// generated once into a temporary folder: music-like tones with moving
// amplitudes over a noise floor, after half a second of near silence.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include <vok/vok_engine.h>

namespace {

const uint32_t kRate = 48000;
const uint32_t kChannels = 2;
const uint32_t kSeconds = 180;

void put32(std::vector<uint8_t> &out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put16(std::vector<uint8_t> &out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

class WaveFile {
public:
    WaveFile()
    {
        char folder[] = "/tmp/vok_bench_sfp_XXXXXX";
        if (!mkdtemp(folder))
            std::abort();
        directory = folder;
        path = directory + "/three_minutes.wav";
        const uint32_t frames = kRate * kSeconds;
        std::vector<uint8_t> bytes;
        bytes.reserve(44 + static_cast<size_t>(frames) * 4);
        const uint32_t data_size = frames * kChannels * 2;
        bytes.insert(bytes.end(), {'R', 'I', 'F', 'F'});
        put32(bytes, 36 + data_size);
        bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
        put32(bytes, 16);
        put16(bytes, 1);
        put16(bytes, kChannels);
        put32(bytes, kRate);
        put32(bytes, kRate * kChannels * 2);
        put16(bytes, kChannels * 2);
        put16(bytes, 16);
        bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
        put32(bytes, data_size);
        std::mt19937 random(1);
        std::normal_distribution<double> noise(0.0, 200.0);
        const double f[4] = {110.0, 261.63, 329.63, 392.0};
        for (uint32_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / kRate;
            double left = noise(random) * (t < 0.5 ? 0.01 : 1.0);
            double right = left;
            if (t >= 0.5) {
                for (int k = 0; k < 4; ++k) {
                    const double a =
                        3000.0 * (1.0 + 0.7 * std::sin(6.2831853 * (0.2 + 0.1 * k) * t));
                    left += a * std::sin(6.2831853 * f[k] * t);
                    right += a * std::sin(6.2831853 * f[k] * t + k);
                }
            }
            put16(bytes, static_cast<uint16_t>(static_cast<int16_t>(std::lround(left))));
            put16(bytes, static_cast<uint16_t>(static_cast<int16_t>(std::lround(right))));
        }
        FILE *file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
            std::abort();
        std::fclose(file);
    }
    ~WaveFile()
    {
        std::remove(path.c_str());
        rmdir(directory.c_str());
    }
    std::string directory;
    std::string path;
};

const WaveFile &wave_file()
{
    static const WaveFile file;
    return file;
}

uint32_t read32(const uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// One fingerprint from the file; false when anything fails.
bool fingerprint(uint32_t algorithm, const char *path, std::vector<uint8_t> &block,
                 size_t *text_length)
{
    FILE *file = std::fopen(path, "rb");
    if (!file)
        return false;
    uint8_t header[12];
    bool ok = std::fread(header, 1, 12, file) == 12 && std::memcmp(header, "RIFF", 4) == 0 &&
              std::memcmp(header + 8, "WAVE", 4) == 0;
    uint32_t rate = 0, channels = 0, bits = 0, data_size = 0;
    // Chunks in file order up to the data chunk.
    while (ok) {
        uint8_t chunk[8];
        if (std::fread(chunk, 1, 8, file) != 8) {
            ok = false;
            break;
        }
        const uint32_t size = read32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            uint8_t fmt[16];
            ok = size >= 16 && std::fread(fmt, 1, 16, file) == 16 &&
                 std::fseek(file, static_cast<long>(size - 16 + (size & 1)), SEEK_CUR) == 0;
            channels = fmt[2] | (fmt[3] << 8);
            rate = read32(fmt + 4);
            bits = fmt[14] | (fmt[15] << 8);
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            data_size = size;
            break;
        } else {
            ok = std::fseek(file, static_cast<long>(size + (size & 1)), SEEK_CUR) == 0;
        }
    }
    EngineHandle *handle = nullptr;
    ok = ok && bits == 16 && eng_create(algorithm, SAMPLE_PCM_S16, rate, channels, &handle) == 0;
    uint8_t done = 0;
    const size_t block_bytes = static_cast<size_t>(15) * rate * channels * 2;
    block.resize(block_bytes);
    size_t left = data_size;
    while (ok && !done && left > 0) {
        const size_t want = left < block_bytes ? left : block_bytes;
        const size_t got = std::fread(block.data(), 1, want, file);
        left -= got;
        ok = got > 0 && eng_add_audio(handle, block.data(), static_cast<uint32_t>(got), &done) == 0;
    }
    char *text = nullptr;
    ok = ok && done && eng_serialize_xml(handle, &text) == 0;
    *text_length = text ? std::strlen(text) : 0;
    eng_free_text(&text);
    eng_destroy(&handle);
    std::fclose(file);
    return ok;
}

void start_to_fingerprint(benchmark::State &state, uint32_t algorithm)
{
    const EngineConfig config = {nullptr, 0, 0};
    eng_initialize(&config);
    const std::string path = wave_file().path;
    std::vector<uint8_t> block;
    for (auto _ : state) {
        size_t length = 0;
        if (!fingerprint(algorithm, path.c_str(), block, &length)) {
            state.SkipWithError("the fingerprint failed");
            break;
        }
        benchmark::DoNotOptimize(length);
    }
}

void FileFixed(benchmark::State &state)
{
    start_to_fingerprint(state, 1);
}

void FileFloat(benchmark::State &state)
{
    start_to_fingerprint(state, 2);
}

BENCHMARK(FileFixed)->Unit(benchmark::kMillisecond);
BENCHMARK(FileFloat)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

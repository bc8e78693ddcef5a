#include "tests/support/wav_writer.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace vok_test {

namespace {

void put16(Bytes &out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(Bytes &out, uint32_t value)
{
    put16(out, value & 0xFFFFu);
    put16(out, value >> 16);
}

void put_id(Bytes &out, const std::string &id)
{
    if (id.size() != 4)
        throw std::invalid_argument("chunk ids have four characters");
    out.insert(out.end(), id.begin(), id.end());
}

} // namespace

Bytes fmt_body(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, uint32_t extra_bytes)
{
    Bytes body;
    const uint32_t align = channels * bits / 8u;
    put16(body, tag);
    put16(body, channels);
    put32(body, rate);
    put32(body, rate * align);
    put16(body, align);
    put16(body, bits);
    body.resize(body.size() + extra_bytes, 0);
    return body;
}

Bytes pcm16(const std::vector<int16_t> &samples)
{
    Bytes out;
    out.reserve(samples.size() * 2);
    for (int16_t sample : samples)
        put16(out, static_cast<uint16_t>(sample));
    return out;
}

std::vector<int16_t> music(uint32_t frames, uint32_t channels, uint32_t rate)
{
    const double pi = 3.14159265358979323846;
    std::vector<int16_t> samples;
    samples.reserve(static_cast<size_t>(frames) * channels);
    for (uint32_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        // A chord whose root moves every half second, under a slow swell.
        const double root = 220.0 * std::pow(2.0, static_cast<int>(t * 2) % 5 / 12.0);
        const double swell = 0.6 + 0.4 * std::sin(2 * pi * 0.7 * t);
        for (uint32_t c = 0; c < channels; ++c) {
            const double value = swell * (0.30 * std::sin(2 * pi * root * t) +
                                          0.20 * std::sin(2 * pi * root * 1.25 * t + c) +
                                          0.15 * std::sin(2 * pi * root * 1.5 * t + 2 * c));
            samples.push_back(static_cast<int16_t>(std::lround(value * 30000.0)));
        }
    }
    return samples;
}

WavWriter::WavWriter()
{
    put_id(content, "RIFF");
    put32(content, 0);
    put_id(content, "WAVE");
}

WavWriter &WavWriter::chunk(const std::string &id, const Bytes &body, bool pad)
{
    header(id, static_cast<uint32_t>(body.size()));
    content.insert(content.end(), body.begin(), body.end());
    if (pad && body.size() % 2 == 1)
        content.push_back(0);
    return *this;
}

WavWriter &WavWriter::header(const std::string &id, uint32_t declared_size)
{
    put_id(content, id);
    put32(content, declared_size);
    return *this;
}

WavWriter &WavWriter::raw(const Bytes &bytes)
{
    content.insert(content.end(), bytes.begin(), bytes.end());
    return *this;
}

Bytes WavWriter::bytes() const
{
    Bytes out = content;
    const uint32_t size = static_cast<uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<uint8_t>(size >> (8 * i));
    return out;
}

void WavWriter::write(const std::string &path, size_t keep_bytes) const
{
    Bytes out = bytes();
    if (keep_bytes < out.size())
        out.resize(keep_bytes);
    write_file(path, out);
}

void write_wav(const std::string &path, uint16_t tag, uint16_t channels, uint32_t rate,
               uint16_t bits, const Bytes &data)
{
    WavWriter().fmt(tag, channels, rate, bits).data(data).write(path);
}

void write_file(const std::string &path, const Bytes &bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::set<std::string> folder_entries(const std::string &folder)
{
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

bool set_immutable(const std::string &path, bool immutable)
{
    const int descriptor = open(path.c_str(), O_RDONLY);
    if (descriptor < 0)
        return false;
    int attributes = 0;
    bool done = ioctl(descriptor, FS_IOC_GETFLAGS, &attributes) == 0;
    if (done) {
        attributes = immutable ? (attributes | FS_IMMUTABLE_FL) : (attributes & ~FS_IMMUTABLE_FL);
        done = ioctl(descriptor, FS_IOC_SETFLAGS, &attributes) == 0;
    }
    close(descriptor);
    return done;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vok-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    dir = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

} // namespace vok_test

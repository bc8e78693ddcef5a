// Builds RIFF/WAVE files byte by byte for tests: well-formed ones in any of
// the four encodings, and broken ones (wrong ids, lying sizes, truncation).
#ifndef VOK_TESTS_SUPPORT_WAV_WRITER_H
#define VOK_TESTS_SUPPORT_WAV_WRITER_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace vok_test {

using Bytes = std::vector<uint8_t>;

// A fmt chunk body: tag, channels, rate, byte rate, block align, bits,
// then extra_bytes zero bytes (a cbSize field and beyond).
Bytes fmt_body(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
               uint32_t extra_bytes = 0);

// Little-endian 16-bit samples.
Bytes pcm16(const std::vector<int16_t> &samples);

// A deterministic, non-silent signal: a few sine partials with a slow
// amplitude swing, frames x channels interleaved samples.
std::vector<int16_t> music(uint32_t frames, uint32_t channels, uint32_t rate);

class WavWriter {
public:
    WavWriter(); // "RIFF", size (filled in by bytes()), "WAVE"

    // A chunk with its true size, followed by a pad byte when odd (unless pad is false).
    WavWriter &chunk(const std::string &id, const Bytes &body, bool pad = true);
    // A chunk header that declares any size, with no body.
    WavWriter &header(const std::string &id, uint32_t declared_size);
    WavWriter &raw(const Bytes &bytes);
    WavWriter &fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits)
    {
        return chunk("fmt ", fmt_body(tag, channels, rate, bits));
    }
    WavWriter &data(const Bytes &body) { return chunk("data", body); }

    // The file, with the RIFF size field set to the length after it.
    Bytes bytes() const;
    // Writes the file, cut to keep_bytes when given.
    void write(const std::string &path, size_t keep_bytes = SIZE_MAX) const;

private:
    Bytes content;
};

// A complete file in one call: fmt chunk, then one data chunk.
void write_wav(const std::string &path, uint16_t tag, uint16_t channels, uint32_t rate,
               uint16_t bits, const Bytes &data);

void write_file(const std::string &path, const Bytes &bytes);
std::string read_file(const std::string &path);
// The names in a folder, without . and ..
std::set<std::string> folder_entries(const std::string &folder);

// Sets or clears the immutable attribute of a file, which even root cannot
// open for writing. False when the file system does not support it.
bool set_immutable(const std::string &path, bool immutable);

// A fresh directory under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return dir; }
    std::string file(const std::string &name) const { return dir + "/" + name; }

private:
    std::string dir;
};

} // namespace vok_test

#endif

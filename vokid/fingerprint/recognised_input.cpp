#include "vokid/fingerprint/recognised_input.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "vokid/document/document.h"
#include "vokid/document/document_text.h"
#include "vokid/input/input_error.h"
#include "vokid/input/stdin_io.h"
#include "vokid/support/system_cause.h"

namespace vokid {

namespace {

// Enough of a document's start to see its first tag after white space.
constexpr size_t kSniffBytes = 4096;

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openFile(const std::string &path)
{
    struct stat status;
    if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        throw InputError(systemCause(EISDIR));
    File file(std::fopen(path.c_str(), "rb"));
    if (!file)
        throw InputError(systemCause(errno));
    return file;
}

// Appends up to `limit` bytes in all.
void readInto(std::FILE *file, std::string &text, size_t limit)
{
    char chunk[65536];
    while (text.size() < limit) {
        const size_t got = std::fread(chunk, 1, std::min(sizeof chunk, limit - text.size()), file);
        text.append(chunk, got);
        if (got == 0)
            break;
    }
    if (std::ferror(file))
        throw InputError("read error");
}

std::string readRest(const std::string &name, std::FILE *file, std::string text, size_t limit)
{
    if (file)
        readInto(file, text, limit + 1);
    else
        text += readStdin(limit + 1 - std::min(limit + 1, text.size()));
    if (text.size() > limit)
        throw InputError((name == "-" ? "more than " : "larger than ") +
                         std::to_string(limit >> 20) + " MB, too large for fingerprint documents");
    return text;
}

} // namespace

std::string readInputText(const std::string &name, size_t limit)
{
    if (name == "-")
        return readRest(name, nullptr, std::string(), limit);
    const File file = openFile(name);
    return readRest(name, file.get(), std::string(), limit);
}

std::function<std::string()> inputChunks(const std::string &name)
{
    constexpr size_t kChunk = 65536;
    if (name == "-")
        return [] { return readStdin(kChunk); };
    std::shared_ptr<std::FILE> file(openFile(name).release(), FileCloser());
    return [file] {
        std::string chunk;
        readInto(file.get(), chunk, kChunk);
        return chunk;
    };
}

RecognisedInput recogniseInput(const std::string &name)
{
    RecognisedInput input;
    File file;
    std::string start;
    if (name != "-")
        file = openFile(name);
    const auto readMore = [&] {
        if (file)
            readInto(file.get(), start, start.size() + kSniffBytes);
        else
            start += readStdin(kSniffBytes);
    };
    readMore();
    // White space of any length may come before a document.
    while (onlySpaceSoFar(start) && start.size() <= kMaxDocumentBytes) {
        const size_t had = start.size();
        readMore();
        if (start.size() == had)
            break;
    }
    if (looksLikeDocuments(start)) {
        input.documents = readDocuments(
            utf8Text(readRest(name, file.get(), std::move(start), kMaxDocumentBytes)));
        return input;
    }
    AudioInput audio = AudioInput::named(name);
    if (audio.standardInput)
        audio.taken = std::move(start); // standard input cannot be read again
    input.audio = std::move(audio);
    return input;
}

} // namespace vokid

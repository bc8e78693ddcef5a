// The output file named by -o, replaced only by a run that succeeds.
//
// A regular file (or a name that does not exist yet) is written through a
// temporary file in the target's folder, which is renamed over the target
// when the run ends well and removed otherwise, so that a failed or
// interrupted run leaves an existing output file as it was and leaves
// nothing new behind. Devices, pipes and other files that are not regular
// (/dev/null, /dev/stdout, a FIFO) are written directly, as is a file whose
// folder cannot take a temporary file but which is itself writable.
#ifndef VOK_CLI_OUTPUT_FILE_H
#define VOK_CLI_OUTPUT_FILE_H

#include <cstdio>
#include <string>

namespace Zuvanti {

class OutputFile {
public:
    // Opens the output for writing in text mode. Throws nothing: Stream()
    // is null when the output cannot be opened.
    explicit OutputFile(const std::string &name);
    // Abandons the output unless it was committed.
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    std::FILE *Stream() const { return stream; }

    // Ends a successful run: flushes and closes the stream and puts the
    // written file in place of the target. False when any of that fails
    // (errno tells why); the target is then left as it was.
    bool Commit();
    // Ends a failed run: closes the stream and removes the temporary file.
    void Abandon();

private:
    void OpenReplacement(const std::string &target);
    void OpenDirect(const std::string &target);

    std::FILE *stream = nullptr;
    std::string target;    // the file the name finally designates
    std::string temporary; // empty when writing directly
};

} // namespace Zuvanti

#endif

// A program, and the files it reads, copied where any user can reach them.
//
// A test that runs a program as another user (RunOptions::as_user) needs a
// path that user may follow to the binary: a build tree inside /root, or a
// clone in a folder of mode 0700 (what mktemp -d makes), is closed to it,
// and exec fails with 127. A ReachableCopy puts the copies in a fresh folder
// under the system's temporary folder that every user may enter.
#ifndef VOK_TESTS_SUPPORT_REACHABLE_COPY_H
#define VOK_TESTS_SUPPORT_REACHABLE_COPY_H

#include <string>
#include <vector>

#include "tests/support/subprocess.h"
#include "tests/support/wav_writer.h"

namespace vok_test {

class ReachableCopy {
public:
    // Copies program (mode 0755) and each of files (mode 0644, under its
    // base name) into a new folder of mode 0755, removed with the object.
    // The shared libraries in `libraries` (each under its base name, the
    // name the program asks the loader for) are copied beside it and found
    // there: the build tree the program's run path names may be closed to
    // the other user too.
    explicit ReachableCopy(const std::string &program, const std::vector<std::string> &files = {},
                           const std::vector<std::string> &libraries = {});

    const std::string &program() const { return copied_program; }
    // The copy of one of the files, by its base name.
    std::string file(const std::string &name) const { return dir.file(name); }

    // Runs the copied program as options.uid/options.gid (65534 unless set);
    // the caller must be root.
    RunResult run_as_user(const std::vector<std::string> &args,
                          RunOptions options = RunOptions()) const;

private:
    TempDir dir;
    std::string copied_program;
    bool with_libraries = false;
};

} // namespace vok_test

#endif

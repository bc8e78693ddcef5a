#include "tests/support/reachable_copy.h"

#include <filesystem>

namespace vok_test {

namespace {

namespace fs = std::filesystem;

std::string copy_into(const std::string &folder, const std::string &source, fs::perms mode)
{
    const fs::path target = fs::path(folder) / fs::path(source).filename();
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    fs::permissions(target, mode);
    return target.string();
}

} // namespace

ReachableCopy::ReachableCopy(const std::string &program, const std::vector<std::string> &files,
                             const std::vector<std::string> &libraries)
    : with_libraries(!libraries.empty())
{
    const fs::perms all_read = fs::perms::owner_read | fs::perms::owner_write |
                               fs::perms::group_read | fs::perms::others_read;
    const fs::perms all_enter =
        all_read | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    // mkdtemp made the folder 0700.
    fs::permissions(dir.path(), all_enter);
    copied_program = copy_into(dir.path(), program, all_enter);
    for (const std::string &file : files)
        copy_into(dir.path(), file, all_read);
    for (const std::string &library : libraries)
        copy_into(dir.path(), library, all_enter);
}

RunResult ReachableCopy::run_as_user(const std::vector<std::string> &args, RunOptions options) const
{
    options.as_user = true;
    if (!with_libraries)
        return run_program(copied_program, args, options);
    // The loader searches LD_LIBRARY_PATH before the program's run path.
    std::vector<std::string> through_env = {"LD_LIBRARY_PATH=" + dir.path(), copied_program};
    through_env.insert(through_env.end(), args.begin(), args.end());
    return run_program("/usr/bin/env", through_env, options);
}

} // namespace vok_test

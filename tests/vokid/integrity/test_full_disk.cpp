// A full disk, on a small tmpfs mounted for the test (as root): add stops
// with one line naming the index, keeps every track committed before and
// prints its summary; remove still runs, from the room the index keeps;
// compact says there is no room for its copy, and --into writes it
// elsewhere.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>

#include "tests/vokid/integrity/index_files.h"

namespace {

namespace fs = std::filesystem;
using namespace integrity_test;

// A tmpfs of `bytes` at `folder`, unmounted with the object.
class SmallDisk {
public:
    SmallDisk(const std::string &at, uint64_t bytes) : folder(at)
    {
        fs::create_directory(folder);
        const std::string options = "size=" + std::to_string(bytes);
        mounted = mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            umount2(folder.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;
    bool ok() const { return mounted; }

private:
    std::string folder;
    bool mounted = false;
};

// Fills the disk with a file of zeros, leaving about `left` bytes free.
void fillLeaving(const std::string &folder, uint64_t left)
{
    const fs::space_info space = fs::space(folder);
    if (space.available <= left)
        return;
    const std::string filler = folder + (fs::exists(folder + "/filler") ? "/filler2" : "/filler");
    const uint64_t bytes = space.available - left;
    std::FILE *file = std::fopen(filler.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    const std::string block(65536, '\0');
    for (uint64_t done = 0; done < bytes; done += block.size())
        std::fwrite(block.data(), 1, std::min<uint64_t>(block.size(), bytes - done), file);
    std::fclose(file);
}

TEST(VokidFullDisk, AddStopsKeepingWhatItCommittedAndRemoveStillRuns)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs for a full disk needs root";
    vok_test::TempDir dir;
    const SmallDisk disk(dir.file("disk"), 16 << 20);
    if (!disk.ok())
        GTEST_SKIP() << "a tmpfs could not be mounted here";
    const std::vector<std::string> files = library(dir, 30, 60);
    const std::string db = dir.file("disk/index");
    const std::vector<std::string> first(files.begin(), files.begin() + 3);
    ASSERT_EQ(0, runVokid(args({"add", db}, first)).exit_code);
    fillLeaving(dir.file("disk"), 1500 << 10);

    const vok_test::RunResult added =
        runVokid(args({"add", "-j", "1", "--batch", "1", db}, files));
    EXPECT_EQ(1, added.exit_code);
    EXPECT_EQ("vokid: " + db + ": no space left on device: the tracks committed before it are "
              "kept\n",
              added.err);
    const size_t kept = lines(runVokid({"list", db}).out);
    EXPECT_GT(kept, 3u);
    EXPECT_LT(kept, files.size());
    // Its summary counts what was committed.
    const std::string summary = std::to_string(kept - 3) + " added, 0 replaced, 3 unchanged, ";
    EXPECT_EQ(0u, added.out.find(summary)) << added.out;
    EXPECT_NE(std::string::npos,
              added.out.find("the index holds " + std::to_string(kept) + " tracks"))
        << added.out;
    EXPECT_EQ(0, runVokid({"stats", db}).exit_code); // its postings agree with its tracks

    // The disk is still full: compact has no room for its copy.
    const vok_test::RunResult compacted = runVokid({"compact", db});
    EXPECT_EQ(1, compacted.exit_code);
    EXPECT_EQ(0u, compacted.err.find("vokid: " + db + ": no room for a copy of the index beside "
                                     "it"))
        << compacted.err;
    EXPECT_NE(std::string::npos,
              compacted.err.find("vokid compact " + db +
                                 " --into DIR writes the copy to another folder\n"));
    EXPECT_FALSE(fs::exists(db + "/vokid-copy.tmp"));

    // Removal runs on the disk full to its last byte: from the free pages
    // of the store, or the room the index keeps.
    fillLeaving(dir.file("disk"), 0);
    EXPECT_TRUE(fs::exists(db + "/vokid-reserve"));
    const vok_test::RunResult removed = runVokid({"remove", db, "1", "2", "4"});
    EXPECT_EQ(0, removed.exit_code) << removed.err;
    EXPECT_EQ(3u, lines(removed.out));
    EXPECT_EQ(kept - 3, lines(runVokid({"list", db}).out));
    std::cerr << "the removal " << (fs::exists(db + "/vokid-reserve") ? "kept" : "used")
              << " the reserve\n";

    const std::string into = dir.file("compacted");
    const vok_test::RunResult elsewhere = runVokid({"compact", db, "--into", into});
    EXPECT_EQ(0, elsewhere.exit_code) << elsewhere.err;
    EXPECT_EQ(runVokid({"list", db}).out, runVokid({"list", into}).out);
}

} // namespace

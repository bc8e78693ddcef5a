// `vokid decode` on documents vok wrote: every algorithm, raw and wrapped,
// several in one input; and its refusals, with where they break.
#include <gtest/gtest.h>

#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/program/vokid_runs.h"

namespace {

using vokid_test::vok;
using vokid_test::vokid;

TEST(VokidDecode, ReadsWhatVokWrites)
{
    vok_test::TempDir dir;
    const std::string music = dir.file("music.wav");
    vok_test::write_recording(music, 21, 16, 22050, 2);
    const struct {
        std::vector<std::string> args;
        const char *family, *wrapping, *variant;
    } runs[] = {
        {{"-c"}, "streaming", nullptr, "Stream1"},
        {{"-c", "-om", "zuserver"}, "streaming", "ZUVOK", "Stream1"},
        {{"-a", "Stream4", "-c"}, "streaming", nullptr, "Stream4"},
        {{"-a", "Stream4", "-om", "zuserver"}, "streaming", "QDV", "Stream4"},
        {{"-a", "FileFixed"}, "spectral", nullptr, "FileFixed or FileFloat"},
        {{"-a", "FileFloat", "-om", "zuserver"}, "spectral", "QDV", "FileFixed or FileFloat"},
    };
    std::string all;
    for (const auto &run : runs) {
        std::vector<std::string> args = run.args;
        args.insert(args.end(), {"-f", music});
        all += vok(args).out;
    }
    vok_test::write_file(dir.file("all.xml"), vok_test::Bytes(all.begin(), all.end()));
    const nlohmann::json decoded = vokid_test::jsonOf(vokid({"decode", dir.file("all.xml")}));
    ASSERT_EQ(6u, decoded["documents"].size());
    const std::string stream1 = vok({"-c", "-f", music}).out;
    size_t blocks = 0;
    for (size_t at = stream1.find("<FP_BLOCK "); at != std::string::npos;
         at = stream1.find("<FP_BLOCK ", at + 1))
        ++blocks;
    ASSERT_EQ(5u, blocks); // 16 s
    for (size_t i = 0; i < 6; ++i) {
        const nlohmann::json &document = decoded["documents"][i];
        EXPECT_EQ(runs[i].family, document["family"]) << i;
        EXPECT_EQ(runs[i].variant, document["variant"]) << i;
        if (runs[i].wrapping) {
            EXPECT_EQ(runs[i].wrapping, document["wrapping"]) << i;
        } else {
            EXPECT_TRUE(document["wrapping"].is_null()) << i;
        }
        if (document["family"] == "spectral") {
            EXPECT_EQ(30u, document["values"].size());
            continue;
        }
        ASSERT_EQ(blocks, document["blocks"].size()) << i;
        for (const nlohmann::json &block : document["blocks"]) {
            EXPECT_EQ(256u, block["sub_fingerprints"].size());
            EXPECT_EQ(86u, block["masks"].size());
            EXPECT_TRUE(block["quiet_frames"].is_array());
        }
    }
    // Stream1 and Stream4 of the same audio: the same sub-fingerprints.
    EXPECT_EQ(decoded["documents"][0]["blocks"][2]["sub_fingerprints"],
              decoded["documents"][3]["blocks"][2]["sub_fingerprints"]);
    // From a pipe, with the quiet frames of silence marked.
    vok_test::write_wav(dir.file("silence.wav"), 1, 1, 8000, 16, vok_test::Bytes(8000 * 2 * 4, 0));
    const nlohmann::json silence = vokid_test::jsonOf(
        vokid_test::shell("\"$VOK\" -f " + dir.file("silence.wav") + " | \"$VOKID\" decode"));
    EXPECT_EQ(256u, silence["documents"][0]["blocks"][0]["quiet_frames"].size());
    EXPECT_EQ(0xa3b1211eu, silence["documents"][0]["blocks"][0]["sub_fingerprints"][0]);
}

TEST(VokidDecode, RefusesMalformedDocumentsSayingWhere)
{
    vok_test::TempDir dir;
    const std::string music = dir.file("music.wav");
    vok_test::write_recording(music, 22, 8, 11025, 1);
    const std::string document = vok({"-f", music}).out;
    std::string broken = document;
    const size_t block = broken.find("ORD=\"2\">") + 8;
    broken[block + 10] = '!';
    vok_test::write_file(dir.file("broken.xml"), vok_test::Bytes(broken.begin(), broken.end()));
    const struct {
        std::string input, err;
    } cases[] = {
        {dir.file("broken.xml"), "vokid: " + dir.file("broken.xml") +
                                     ": document 1: block 2: BASE64 character 11 ('!') is not in "
                                     "the alphabet\n"},
        {dir.file("none.xml"), "vokid: " + dir.file("none.xml") + ": no such file\n"},
        {music, "vokid: " + music + ": document 1: line 1, column 1: text outside any element\n"},
    };
    for (const auto &c : cases) {
        const vok_test::RunResult run = vokid({"decode", c.input});
        EXPECT_EQ(1, run.exit_code) << c.input;
        EXPECT_EQ("", run.out) << c.input;
        EXPECT_EQ(c.err, run.err) << c.input;
    }
}

} // namespace

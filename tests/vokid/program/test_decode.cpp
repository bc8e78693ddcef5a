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

// The document with its blocks repeated in turn until it has `count`
// (renumbered), or none.
std::string repeatedBlocks(const std::string &document, size_t count)
{
    std::vector<std::string> blocks;
    const size_t first = document.find("    <FP_BLOCK ");
    size_t at = first;
    for (; at != std::string::npos && document.compare(at, 14, "    <FP_BLOCK ") == 0;
         at = document.find('\n', at) + 1)
        blocks.push_back(document.substr(at, document.find('\n', at) + 1 - at));
    std::string out = document.substr(0, first);
    for (size_t i = 0; i < count; ++i) {
        std::string block = blocks[i % blocks.size()];
        const size_t ord = block.find("ORD=\"") + 5;
        block.replace(ord, block.find('"', ord) - ord, std::to_string(i + 1));
        out += block;
    }
    return out + document.substr(at);
}

// More output than decode holds back: written as the blocks are read, in
// the layout of the JSON it writes whole, every block in order, the same
// from a pipe; a fault past that point cuts the output short and fails.
TEST(VokidDecode, WritesTheOutputAsItReadsTheBlocks)
{
    vok_test::TempDir dir;
    const std::string music = dir.file("music.wav");
    vok_test::write_recording(music, 23, 16, 11025, 1);
    const std::string document = vok({"-c", "-f", music}).out;
    vok_test::write_file(dir.file("one.xml"), vok_test::Bytes(document.begin(), document.end()));
    const nlohmann::json one = vokid_test::jsonOf(vokid({"decode", dir.file("one.xml")}));
    const nlohmann::json &blocks = one["documents"][0]["blocks"];
    ASSERT_EQ(5u, blocks.size());
    const std::string text = repeatedBlocks(document, 600) + repeatedBlocks(document, 0) +
                             vok({"-a", "FileFixed", "-f", music}).out;
    const std::string path = dir.file("many.xml");
    vok_test::write_file(path, vok_test::Bytes(text.begin(), text.end()));

    const vok_test::RunResult run = vokid({"decode", path});
    ASSERT_EQ(0, run.exit_code) << run.err;
    EXPECT_GT(run.out.size(), size_t{1} << 21);
    const std::string opening = "{\n  \"file\": \"" + path + "\",\n  \"documents\": [\n    {\n";
    EXPECT_EQ(opening, run.out.substr(0, opening.size()));
    const std::string closing = "\n    }\n  ]\n}\n";
    EXPECT_EQ(closing, run.out.substr(run.out.size() - closing.size()));
    const nlohmann::json decoded = nlohmann::json::parse(run.out);
    const nlohmann::json &documents = decoded["documents"];
    ASSERT_EQ(3u, documents.size());
    ASSERT_EQ(600u, documents[0]["blocks"].size());
    for (size_t i = 0; i < 600; ++i) {
        nlohmann::json expected = blocks[i % 5];
        expected["ord"] = i + 1;
        ASSERT_EQ(expected, documents[0]["blocks"][i]) << i;
    }
    EXPECT_EQ(nlohmann::json::array(), documents[1]["blocks"]);
    EXPECT_EQ("Stream1 or Stream4", documents[1]["variant"]);
    EXPECT_EQ(30u, documents[2]["values"].size());
    const nlohmann::json piped =
        vokid_test::jsonOf(vokid_test::shell("\"$VOKID\" decode - < " + path));
    EXPECT_EQ(documents, piped["documents"]);

    std::string broken = text;
    broken[broken.find("ORD=\"590\">") + 20] = '!';
    vok_test::write_file(path, vok_test::Bytes(broken.begin(), broken.end()));
    const vok_test::RunResult cut = vokid({"decode", path});
    EXPECT_EQ(1, cut.exit_code);
    EXPECT_EQ("vokid: " + path +
                  ": document 1: block 590: BASE64 character 11 ('!') is not in the alphabet\n",
              cut.err);
    EXPECT_GT(cut.out.size(), size_t{1} << 20);
    EXPECT_EQ(run.out.substr(0, cut.out.size()), cut.out);
}

} // namespace

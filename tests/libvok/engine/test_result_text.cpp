// Result codes in words: every code the engine produces has its own text,
// and the README's table of result codes uses the same words.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include <vok/vok_engine.h>

namespace {

const ResultCode kEveryCode[] = {
    QE_E_NO_MEMORY,     QE_E_NOT_FOUND,        QE_E_INVALID_ARG,   TB_E_NO_MEMORY,
    TB_E_INVALID_ARG,   MEM_E_ALREADY_STARTED, MEM_E_NOT_STARTED,  ENG_E_NO_CONFIG,
    ENG_E_NO_MEMORY,    ENG_E_INVALID_ARG,     ENG_E_NO_TEXT,      ENG_E_UNKNOWN_ALGORITHM,
    ENG_E_BAD_DOCUMENT, QE_E_BAD_DOCUMENT,     B64_E_BAD_DOCUMENT, STRM_E_BAD_DOCUMENT,
    B64_E_NO_MEMORY,    B64_E_INVALID_ARG,     RFFT_E_NO_MEMORY,   RFFT_E_INVALID_ARG,
    STRM_E_NO_MEMORY,   STRM_E_INVALID_ARG,    STRM_E_NO_DATA,     SFP_E_NO_MEMORY,
    SFP_E_INVALID_ARG,  SFP_E_NO_DATA,         SFP_S_COMPLETE,     SFP_E_NOT_COMPLETE,
};

TEST(ResultText, EveryCodeHasItsOwnText)
{
    const std::string unknown = eng_result_text(0x90990001u);
    EXPECT_EQ("unknown result code", unknown);
    EXPECT_EQ(unknown, eng_result_text(0x12345678u));
    EXPECT_EQ(std::string("success"), eng_result_text(ENG_OK));
    std::set<std::string> texts;
    for (const ResultCode code : kEveryCode) {
        const std::string text = eng_result_text(code);
        EXPECT_NE(unknown, text) << std::hex << code;
        EXPECT_TRUE(texts.insert(text).second) << "said twice: " << text;
    }
}

// Rows of the form "| `900e0004` | meaning |".
TEST(ResultText, TheReadmeTableUsesTheSameWords)
{
    std::ifstream readme(VOK_SOURCE_DIR "/README.md");
    ASSERT_TRUE(readme.good());
    int rows = 0;
    for (std::string line; std::getline(readme, line);) {
        if (line.compare(0, 4, "| `9") != 0)
            continue;
        const size_t end = line.find('`', 3);
        const ResultCode code = std::stoul(line.substr(3, end - 3), nullptr, 16);
        const std::string meaning = line.substr(end + 4, line.size() - end - 6);
        EXPECT_EQ(eng_result_text(code), meaning) << line;
        ++rows;
    }
    EXPECT_GE(rows, 10);
}

} // namespace

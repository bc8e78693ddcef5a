// Output modes: escaping, the server query and what writeFingerprint writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/output_modes.h"

namespace {

using namespace Zuvanti;

const std::string kOpening =
    "<ZUSERVER_QUERY_LIST><ZUSERVER_QUERY ID=\"1\" OUT=\"ALBUM_RESPONSE\">";
const std::string kClosing = "</FPDATA></ZUSERVER_QUERY></ZUSERVER_QUERY_LIST>";

std::string written(const char *text, AlgorithmFlags flags, const std::string &mode)
{
    std::FILE *file = std::tmpfile();
    writeFingerprint(text, file, flags, mode);
    std::string content;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;)
        content += static_cast<char>(c);
    std::fclose(file);
    return content;
}

TEST(EscapeMarkup, OnlyTheThreeMarkupCharactersChange)
{
    EXPECT_EQ("", escapeMarkup(""));
    EXPECT_EQ("&lt;a b=&quot;1&quot;&gt;", escapeMarkup("<a b=\"1\">"));
    // Ampersands (also of entities), apostrophes, line feeds and bytes
    // above 0x7F are copied unchanged.
    const std::string kept = "x&amp;y 'q'\n\t\xC3\xA9\x7F";
    EXPECT_EQ(kept, escapeMarkup(kept.c_str()));
    const std::string mixed = "<<\">>\"";
    EXPECT_EQ(mixed.size() + 4 * 3 + 2 * 5, escapeMarkup(mixed.c_str()).size());
}

TEST(WrapQuery, TheTwoDataTypes)
{
    EXPECT_EQ(kOpening + "<FPDATA TYPE=\"QDV\">&lt;x&gt;" + kClosing, wrapQdvQuery("&lt;x&gt;"));
    EXPECT_EQ(kOpening + "<FPDATA TYPE=\"ZUVOK\">" + kClosing, wrapZuvokQuery(""));
}

TEST(WriteFingerprint, ServerQueryOnlyForZuserverAndZuvokOnlyForStream1)
{
    const char *text = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<R a=\"x&amp;y\">1</R>\n";
    const std::string escaped = "&lt;?xml version=&quot;1.0&quot; encoding=&quot;UTF-8&quot; "
                                "?&gt;\n&lt;R a=&quot;x&amp;y&quot;&gt;1&lt;/R&gt;\n";
    struct Row {
        AlgorithmFlags flags;
        const char *type;
    };
    for (const Row &row :
         {Row{Stream1, "ZUVOK"}, Row{Stream1 | Continuous, "ZUVOK"}, Row{Stream4, "QDV"},
          Row{Stream4 | Continuous, "QDV"}, Row{FileFixed, "QDV"}, Row{FileFloat, "QDV"}})
        EXPECT_EQ(kOpening + "<FPDATA TYPE=\"" + row.type + "\">" + escaped + kClosing +
                      "\n\n\n\n\n",
                  written(text, row.flags, "zuserver"))
            << row.flags;

    for (const char *mode : {"", "ZUSERVER", "zuserver2", "zuserve", "raw", "xml", " zuserver"})
        EXPECT_EQ(text, written(text, Stream1, mode)) << "mode '" << mode << "'";
}

} // namespace

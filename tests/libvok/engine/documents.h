// Documents as the engine writes them, for the tests of decoding: made
// in-process from generated music or silence, wrapped as vok -om zuserver
// wraps them, and taken apart by plain string search.
#ifndef VOK_TESTS_LIBVOK_ENGINE_DOCUMENTS_H
#define VOK_TESTS_LIBVOK_ENGINE_DOCUMENTS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/recording.h"
#include <vok/vok_engine.h>

namespace documents {

// The document of mono 11025 Hz audio.
inline std::string engine_document(uint32_t id, const std::vector<int16_t> &samples)
{
    const EngineConfig config = {nullptr, 0, 0};
    EXPECT_EQ(ENG_OK, eng_initialize(&config));
    EngineHandle *handle = nullptr;
    EXPECT_EQ(ENG_OK, eng_create(id, SAMPLE_PCM_S16, 11025, 1, &handle));
    uint8_t done = 0;
    EXPECT_EQ(ENG_OK, eng_add_audio(handle, reinterpret_cast<const uint8_t *>(samples.data()),
                                    static_cast<uint32_t>(samples.size() * 2), &done));
    char *text = nullptr;
    EXPECT_EQ(ENG_OK, eng_serialize_xml(handle, &text));
    std::string document = text ? text : "";
    eng_free_text(&text);
    eng_destroy(&handle);
    return document;
}

inline std::string music(uint32_t id, double seconds = 10)
{
    return engine_document(id, vok_test::recording(3, seconds, 11025, 1));
}

// The server query around a document, as vok writes it: '<', '>' and '"'
// escaped, five line feeds after it.
inline std::string wrapped(const std::string &document, const std::string &type)
{
    std::string escaped;
    for (char c : document)
        escaped += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;" : std::string(1, c);
    return "<ZUSERVER_QUERY_LIST><ZUSERVER_QUERY ID=\"1\" OUT=\"ALBUM_RESPONSE\"><FPDATA TYPE=\"" +
           type + "\">" + escaped + "</FPDATA></ZUSERVER_QUERY></ZUSERVER_QUERY_LIST>\n\n\n\n\n";
}

// The text of every FP_BLOCK element, in order, and where each begins.
inline std::vector<std::string> block_texts(const std::string &document,
                                            std::vector<size_t> *starts = nullptr)
{
    std::vector<std::string> texts;
    for (size_t at = document.find("<FP_BLOCK "); at != std::string::npos;
         at = document.find("<FP_BLOCK ", at + 1)) {
        const size_t open = document.find('>', at) + 1;
        texts.push_back(document.substr(open, document.find("</FP_BLOCK>", open) - open));
        if (starts)
            starts->push_back(open);
    }
    return texts;
}

inline std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    const size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

} // namespace documents

#endif

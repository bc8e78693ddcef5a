// Texts of a fingerprint document read by plain string search (std::regex
// trips -Wmaybe-uninitialized under the sanitizers), for the vokid tests.
#ifndef VOK_TESTS_VOKID_DOCUMENT_TEXT_H
#define VOK_TESTS_VOKID_DOCUMENT_TEXT_H

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace vokid_test {

// The text inside every element of that name, in order.
inline std::vector<std::string> elementTexts(const std::string &document, const std::string &name)
{
    std::vector<std::string> texts;
    for (size_t at = document.find("<" + name); at != std::string::npos;
         at = document.find("<" + name, at + 1)) {
        const char after = document[at + 1 + name.size()]; // "<FP_BLOCKS" is not "<FP_BLOCK"
        if (after != ' ' && after != '>')
            continue;
        const size_t open = document.find('>', at);
        const size_t close = document.find("</" + name + ">", open);
        if (open == std::string::npos || close == std::string::npos)
            break;
        texts.push_back(document.substr(open + 1, close - open - 1));
    }
    return texts;
}

inline std::vector<uint32_t> numbers(const std::string &text)
{
    std::vector<uint32_t> values;
    std::istringstream stream(text);
    for (uint32_t value; stream >> value;)
        values.push_back(value);
    return values;
}

} // namespace vokid_test

#endif

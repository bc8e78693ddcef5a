// The text of fingerprint documents as files hold it: UTF-8, UTF-8 after a
// byte-order mark, or UTF-16 in either byte order (after its mark, or told
// by the zero bytes of its first character), made UTF-8 for the engine,
// which reads UTF-8 alone. Taken a piece at a time, as it is read.
#ifndef VOKID_DOCUMENT_DOCUMENT_TEXT_H
#define VOKID_DOCUMENT_DOCUMENT_TEXT_H

#include <functional>
#include <string>
#include <string_view>

namespace vokid {

class DocumentText {
public:
    // The UTF-8 of the next bytes of the text, as far as they go (a byte
    // or a surrogate cut by the end of a piece waits for the next); `end`
    // with the last. A UTF-16 code unit cut by the end of the text, or a
    // lone surrogate, becomes U+FFFD.
    std::string take(std::string_view bytes, bool end = false);

private:
    enum class Form { Unknown, Utf8, Utf16Le, Utf16Be };
    void decide(bool end);
    std::string utf16(bool end);

    Form form = Form::Unknown;
    std::string held; // bytes not yet given out
};

// The text of a whole input in UTF-8.
std::string utf8Text(std::string_view bytes);

// Chunks of a text (empty at its end) as chunks of its UTF-8.
std::function<std::string()> utf8Chunks(std::function<std::string()> read);

} // namespace vokid

#endif

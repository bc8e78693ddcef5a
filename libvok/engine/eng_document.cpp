#include "engine/eng_document.h"

#include "engine/eng_memory.h"
#include "engine/eng_support.h"

namespace {

// "name" + '"' + "version", in an engine allocation.
ResultCode set_query_text(QueryElement *root, const char *name, const char *version,
                          ResultCode no_memory)
{
    const size_t size = eng_strlen(name) + eng_strlen(version) + 2;
    auto *text = static_cast<char *>(eng_malloc(size));
    if (!text)
        return no_memory;
    eng_snprintf(text, size, "%s\"%s", name, version);
    const ResultCode result = qe_set_path(root, "ALGORITHM/QUERY", text, 1);
    eng_free(text);
    return result;
}

} // namespace

ResultCode eng_build_document(const char *name, const char *version, ResultCode no_memory,
                              QueryElement **root)
{
    QueryElement *document = qe_create("ZUVOK_FP_QUERY", nullptr);
    if (!document)
        return no_memory;
    ResultCode result = qe_set_attribute(document, "VERSION", "1.0");
    if (result == ENG_OK)
        result = qe_set_path(document, "ALGORITHM/NAME", name, 1);
    if (result == ENG_OK)
        result = qe_set_path(document, "ALGORITHM/VERSION", version, 1);
    if (result == ENG_OK)
        result = set_query_text(document, name, version, no_memory);
    if (result != ENG_OK) {
        qe_destroy(&document);
        return result;
    }
    *root = document;
    return ENG_OK;
}

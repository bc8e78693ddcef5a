#include "engine/eng_document.h"

#include "algo/spectral/sfp_family.h"
#include "algo/stream/stream.h"
#include "engine/eng_memory.h"
#include "engine/eng_support.h"

namespace {

// The algorithm families by the name their documents carry.
struct Family {
    const char *name;
    const char *kind;
};

const Family kFamilies[] = {{STRM_ALGORITHM_NAME, "streaming"}, {SFP_ALGORITHM_NAME, "spectral"}};

const char *const kRootChildren[] = {"ALGORITHM", "FP_BLOCKS"};
const char *const kHeadChildren[] = {"NAME", "VERSION", "QUERY", "BLOCK_LENGTH", "FORMAT"};

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

bool same(const char *a, const char *b)
{
    return qe_compare_n(a, qe_text_length(a), b, qe_text_length(b)) == 0;
}

const Family *family_named(const char *name)
{
    for (const Family &family : kFamilies) {
        if (same(family.name, name))
            return &family;
    }
    return nullptr;
}

ResultCode require(DocumentRead *read, const QueryElement *parent, const QueryElement *child,
                   const char *name)
{
    if (child)
        return ENG_OK;
    return eng_document_fault(read, parent, ENG_AT_START, "%s without %s", parent->name, name);
}

// NAME a known family's, VERSION the one written, QUERY the two joined.
ResultCode check_identity(DocumentRead *read, const QueryElement *const *head)
{
    const QueryElement *algorithm = read->algorithm;
    ResultCode result = require(read, algorithm, head[0], "NAME");
    const char *name = result == ENG_OK ? eng_document_value(head[0]) : "";
    if (result == ENG_OK && !family_named(name))
        result = eng_document_fault(read, head[0], 0, "unknown algorithm \"%s\"", name);
    if (result == ENG_OK)
        result = require(read, algorithm, head[1], "VERSION");
    const char *version = result == ENG_OK ? eng_document_value(head[1]) : "";
    if (result == ENG_OK && !same(version, ENG_ALGORITHM_VERSION))
        result = eng_document_fault(read, head[1], 0, "%s version \"%s\" is unknown (%s is known)",
                                    name, version, ENG_ALGORITHM_VERSION);
    if (result == ENG_OK)
        result = require(read, algorithm, head[2], "QUERY");
    if (result != ENG_OK)
        return result;
    const char *query = eng_document_value(head[2]);
    const size_t length = eng_strlen(name);
    const bool joined = eng_strlen(query) == length + 1 + eng_strlen(version) &&
                        qe_compare_n(query, static_cast<uint32_t>(length), name,
                                     static_cast<uint32_t>(length)) == 0 &&
                        query[length] == '"' && same(query + length + 1, version);
    if (!joined)
        return eng_document_fault(read, head[2], 0, "ALGORITHM/QUERY is not \"%s\"%s\"", name,
                                  version);
    return ENG_OK;
}

bool blank(const char *text)
{
    for (; *text; ++text) {
        if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r')
            return false;
    }
    return true;
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

ResultCode eng_check_head(DocumentRead *read, const char *name)
{
    const QueryElement *root = read->root;
    const QueryElement *parts[2] = {nullptr, nullptr};
    ResultCode result = eng_document_attribute(read, root, "VERSION", "1.0", "ZUVOK_FP_QUERY");
    if (result == ENG_OK)
        result = eng_document_children(read, root, kRootChildren, 2, parts);
    if (result == ENG_OK)
        result = require(read, root, parts[0], "ALGORITHM");
    if (result == ENG_OK)
        result = require(read, root, parts[1], "FP_BLOCKS");
    if (result != ENG_OK)
        return result;
    read->algorithm = parts[0];
    read->blocks = parts[1];
    const QueryElement *head[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
    result = eng_document_children(read, read->algorithm, kHeadChildren, 5, head);
    if (result == ENG_OK)
        result = check_identity(read, head);
    if (result != ENG_OK)
        return result;
    // A document of the other family is whole but foreign.
    const char *written = eng_document_value(head[0]);
    if (!same(written, name))
        return eng_document_fault(read, head[0], ENG_AT_START,
                                  "a %s fingerprint (%s), not a %s one",
                                  family_named(written)->kind, written, family_named(name)->kind);
    if (!blank(eng_document_value(read->blocks)))
        return eng_document_fault(read, read->blocks, 0, "text inside FP_BLOCKS");
    return ENG_OK;
}

const char *eng_document_value(const QueryElement *element)
{
    return element && element->value ? element->value : "";
}

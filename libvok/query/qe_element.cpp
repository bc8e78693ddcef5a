// Elements of the query document: creation, release, reading, values and
// children.
#include "query/query_element.h"

#include "engine/eng_memory.h"
#include "engine/eng_support.h"

namespace {

bool is_empty(const char *text, uint32_t len)
{
    return text == nullptr || len == 0 || text[0] == '\0';
}

} // namespace

uint32_t qe_text_length(const char *text)
{
    return text ? static_cast<uint32_t>(eng_strlen(text)) : 0;
}

char *qe_strndup(const char *bytes, uint32_t n)
{
    if (!bytes)
        return nullptr;
    char *copy = static_cast<char *>(eng_malloc(static_cast<size_t>(n) + 1));
    if (!copy)
        return nullptr;
    eng_memcpy(copy, bytes, n);
    copy[n] = '\0';
    return copy;
}

int32_t qe_compare_n(const char *a, uint32_t a_len, const char *b, uint32_t b_len)
{
    const uint32_t common = a_len < b_len ? a_len : b_len;
    for (uint32_t i = 0; i < common; ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]);
        const unsigned char y = static_cast<unsigned char>(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a_len == b_len)
        return 0;
    return a_len < b_len ? -1 : 1;
}

QueryElement *qe_create(const char *name, const char *value)
{
    return qe_create_n(name, qe_text_length(name), value, qe_text_length(value));
}

QueryElement *qe_create_n(const char *name, uint32_t name_len, const char *value,
                          uint32_t value_len)
{
    if (is_empty(name, name_len))
        return nullptr;
    auto *element = static_cast<QueryElement *>(eng_malloc(sizeof(QueryElement)));
    if (!element)
        return nullptr;
    eng_memset(element, 0, sizeof(QueryElement));
    element->name = qe_strndup(name, name_len);
    if (!element->name) {
        eng_free(element);
        return nullptr;
    }
    if (!is_empty(value, value_len)) {
        element->value = qe_strndup(value, value_len);
        if (!element->value) {
            eng_free(element->name);
            eng_free(element);
            return nullptr;
        }
    }
    return element;
}

ResultCode qe_free(QueryElement *element)
{
    if (!element)
        return ENG_OK;
    eng_free(element->name);
    eng_free(element->value);
    for (QueryAttribute *attribute = element->attributes; attribute;) {
        QueryAttribute *next = attribute->next;
        qa_free(attribute);
        attribute = next;
    }
    for (QueryElement *child = element->first_child; child;) {
        QueryElement *next = child->next_sibling;
        qe_free(child);
        child = next;
    }
    eng_free(element);
    return ENG_OK;
}

ResultCode qe_destroy(QueryElement **handle)
{
    if (handle && *handle) {
        qe_free(*handle);
        *handle = nullptr;
    }
    return ENG_OK;
}

const char *qe_name(const QueryElement *element)
{
    return element ? element->name : nullptr;
}

const char *qe_value(const QueryElement *element)
{
    return element ? element->value : nullptr;
}

uint32_t qe_child_count(const QueryElement *element)
{
    uint32_t count = 0;
    for (const QueryElement *child = element ? element->first_child : nullptr; child;
         child = child->next_sibling)
        ++count;
    return count;
}

QueryElement *qe_child_at(const QueryElement *element, uint32_t index)
{
    QueryElement *child = element ? element->first_child : nullptr;
    while (child && index > 0) {
        child = child->next_sibling;
        --index;
    }
    return child;
}

QueryElement *qe_find_child_n(const QueryElement *element, const char *name, uint32_t name_len)
{
    if (!element || is_empty(name, name_len))
        return nullptr;
    for (QueryElement *child = element->first_child; child; child = child->next_sibling) {
        if (qe_compare_n(child->name, qe_text_length(child->name), name, name_len) == 0)
            return child;
    }
    return nullptr;
}

ResultCode qe_set_value(QueryElement *element, const char *value)
{
    return qe_set_value_n(element, value, qe_text_length(value));
}

ResultCode qe_set_value_n(QueryElement *element, const char *value, uint32_t len)
{
    if (!element)
        return QE_E_INVALID_ARG;
    // The copy is made before the old value goes, so that a value taken from
    // the element itself stays readable while it is copied.
    char *copy = nullptr;
    ResultCode result = ENG_OK;
    if (!is_empty(value, len)) {
        copy = qe_strndup(value, len);
        if (!copy)
            result = QE_E_NO_MEMORY;
    }
    eng_free(element->value);
    element->value = copy;
    return result;
}

ResultCode qe_add_child(QueryElement *parent, QueryElement *child)
{
    if (!parent || !child)
        return ENG_OK;
    QueryElement **link = &parent->first_child;
    while (*link)
        link = &(*link)->next_sibling;
    *link = child;
    return ENG_OK;
}

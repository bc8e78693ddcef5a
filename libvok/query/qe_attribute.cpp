// Attributes of query document elements.
#include "query/query_element.h"

#include "engine/eng_memory.h"
#include "engine/eng_support.h"

QueryAttribute *qa_create_n(const char *name, uint32_t name_len, const char *value,
                            uint32_t value_len)
{
    auto *attribute = static_cast<QueryAttribute *>(eng_malloc(sizeof(QueryAttribute)));
    if (!attribute)
        return nullptr;
    attribute->next = nullptr;
    attribute->name = qe_strndup(name, name_len);
    attribute->value = attribute->name ? qe_strndup(value, value_len) : nullptr;
    if (!attribute->value) {
        eng_free(attribute->name);
        eng_free(attribute);
        return nullptr;
    }
    return attribute;
}

void qa_free(QueryAttribute *attribute)
{
    if (!attribute)
        return;
    eng_free(attribute->name);
    eng_free(attribute->value);
    eng_free(attribute);
}

uint32_t qe_attribute_count(const QueryElement *element)
{
    uint32_t count = 0;
    for (const QueryAttribute *a = element ? element->attributes : nullptr; a; a = a->next)
        ++count;
    return count;
}

static const QueryAttribute *attribute_at(const QueryElement *element, uint32_t index)
{
    const QueryAttribute *attribute = element ? element->attributes : nullptr;
    while (attribute && index > 0) {
        attribute = attribute->next;
        --index;
    }
    return attribute;
}

const char *qe_attribute_name(const QueryElement *element, uint32_t index)
{
    const QueryAttribute *attribute = attribute_at(element, index);
    return attribute ? attribute->name : nullptr;
}

const char *qe_attribute_value(const QueryElement *element, uint32_t index)
{
    const QueryAttribute *attribute = attribute_at(element, index);
    return attribute ? attribute->value : nullptr;
}

ResultCode qe_remove_attribute_n(QueryElement *element, const char *name, uint32_t name_len)
{
    if (!element || !name || name_len == 0)
        return ENG_OK;
    for (QueryAttribute **link = &element->attributes; *link; link = &(*link)->next) {
        QueryAttribute *attribute = *link;
        if (qe_compare_n(attribute->name, qe_text_length(attribute->name), name, name_len) == 0) {
            *link = attribute->next;
            qa_free(attribute);
            break;
        }
    }
    return ENG_OK;
}

ResultCode qe_append_attribute(QueryElement *element, QueryAttribute *attribute)
{
    if (!element || !attribute)
        return QE_E_INVALID_ARG;
    qe_remove_attribute_n(element, attribute->name, qe_text_length(attribute->name));
    QueryAttribute **link = &element->attributes;
    while (*link)
        link = &(*link)->next;
    *link = attribute;
    return ENG_OK;
}

ResultCode qe_set_attribute(QueryElement *element, const char *name, const char *value)
{
    return qe_set_attribute_n(element, name, qe_text_length(name), value, qe_text_length(value));
}

ResultCode qe_set_attribute_n(QueryElement *element, const char *name, uint32_t name_len,
                              const char *value, uint32_t value_len)
{
    if (!element || !name || name_len == 0 || name[0] == '\0')
        return QE_E_INVALID_ARG;
    if (!value || value_len == 0)
        return qe_remove_attribute_n(element, name, name_len);
    QueryAttribute *attribute = qa_create_n(name, name_len, value, value_len);
    if (!attribute)
        return QE_E_NO_MEMORY;
    return qe_append_attribute(element, attribute);
}

ResultCode qe_set_attribute_long(QueryElement *element, const char *name, int32_t number)
{
    char text[64] = {0};
    eng_snprintf(text, sizeof text - 1, "%ld", static_cast<long>(number));
    return qe_set_attribute(element, name, text);
}

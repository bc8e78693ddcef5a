// Reading a document back: its XML, the lookup-server query around it when
// it came wrapped, and the faults, which name what is wrong in words and
// where it is in the caller's text.
#include "engine/eng_document.h"

#include "engine/eng_memory.h"
#include "engine/eng_support.h"
#include "query/qe_xml_reader.h"

namespace {

// One problem text per thread: the decoders may run on several at once.
thread_local char t_problem[256];

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A wrapped document's offsets are in the text FPDATA unescapes to; the
// caller's text has them inside FPDATA.
size_t outer_offset(const DocumentRead *read, size_t inner_offset)
{
    if (!read->data)
        return inner_offset;
    return qe_xml_text_offset(read->text, read->length, read->data->offset, inner_offset);
}

ResultCode fault_at(DocumentRead *read, size_t offset, const char *format, va_list arguments)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 0)))
#endif
    ;

ResultCode fault_at(DocumentRead *read, size_t offset, const char *format, va_list arguments)
{
    eng_vsnprintf(t_problem, sizeof t_problem, format, arguments);
    read->fault = offset;
    return ENG_E_BAD_DOCUMENT;
}

ResultCode fault(DocumentRead *read, size_t offset, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

ResultCode fault(DocumentRead *read, size_t offset, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const ResultCode result = fault_at(read, offset, format, arguments);
    va_end(arguments);
    return result;
}

// Line and column, both from 1, of an offset of the caller's text.
void line_and_column(const char *text, size_t offset, size_t *line, size_t *column)
{
    *line = 1;
    size_t line_start = 0;
    for (size_t at = 0; at < offset; ++at) {
        if (text[at] == '\n') {
            *line += 1;
            line_start = at + 1;
        }
    }
    *column = offset - line_start + 1;
}

// Reads one element of text (the caller's, or FPDATA's value) as XML.
ResultCode read_xml(DocumentRead *read, const char *text, size_t length, QueryElement **element,
                    size_t *used)
{
    QeXmlFault xml;
    const ResultCode result = qe_read_xml(text, length, element, used, &xml);
    if (result == QE_E_NO_MEMORY)
        return ENG_E_NO_MEMORY;
    if (result != QE_E_BAD_DOCUMENT)
        return result;
    const size_t offset = outer_offset(read, xml.offset);
    size_t line = 0, column = 0;
    line_and_column(read->text, offset, &line, &column);
    return fault(read, offset, "line %zu, column %zu: %s", line, column, xml.problem);
}

bool named(const QueryElement *element, const char *name)
{
    return qe_compare_n(element->name, qe_text_length(element->name), name, qe_text_length(name)) ==
           0;
}

// The one child of parent, named name; empty says what a parent without it is.
ResultCode only_child(DocumentRead *read, const QueryElement *parent, const char *name,
                      const char *empty, const QueryElement **child)
{
    const QueryElement *first = parent->first_child;
    if (!first)
        return fault(read, parent->offset, "%s", empty);
    for (const QueryElement *c = first; c; c = c->next_sibling) {
        if (!named(c, name))
            return fault(read, c->offset, "<%s> inside %s", c->name, parent->name);
        if (c != first)
            return fault(read, c->offset, "%s holds more than one %s", parent->name, name);
    }
    *child = first;
    return ENG_OK;
}

// FPDATA of type ZUVOK or QDV, holding text and no elements.
ResultCode check_data(DocumentRead *read, const QueryElement *data)
{
    const ResultCode result = eng_check_data_type(read, data);
    if (result != ENG_OK)
        return result;
    if (data->first_child)
        return fault(read, data->first_child->offset, "<%s> inside FPDATA",
                     data->first_child->name);
    if (!data->value)
        return fault(read, data->offset, "empty FPDATA");
    return ENG_OK;
}

// The document inside FPDATA: one fingerprint document and nothing more.
ResultCode read_wrapped(DocumentRead *read)
{
    const QueryElement *query = nullptr, *data = nullptr;
    ResultCode result = only_child(read, read->outer, "ZUSERVER_QUERY",
                                   "a server query list without queries", &query);
    if (result == ENG_OK)
        result = only_child(read, query, "FPDATA", "a server query without FPDATA", &data);
    if (result == ENG_OK)
        result = check_data(read, data);
    if (result != ENG_OK)
        return result;
    read->data = data;
    read->inner = data->value;
    read->inner_length = eng_strlen(data->value);
    size_t used = 0;
    result = read_xml(read, read->inner, read->inner_length, &read->root, &used);
    if (result != ENG_OK)
        return result;
    while (used < read->inner_length && is_space(read->inner[used]))
        ++used;
    if (used < read->inner_length)
        return fault(read, outer_offset(read, used), "FPDATA holds more than one document");
    if (!named(read->root, "ZUVOK_FP_QUERY"))
        return fault(read, outer_offset(read, read->root->offset),
                     "FPDATA holds <%s>, not a fingerprint document", read->root->name);
    return ENG_OK;
}

} // namespace

ResultCode eng_check_data_type(DocumentRead *read, const QueryElement *data)
{
    const char *type = nullptr;
    for (const QueryAttribute *a = data->attributes; a; a = a->next) {
        if (qe_compare_n(a->name, qe_text_length(a->name), "TYPE", 4) == 0)
            type = a->value;
    }
    const bool zuvok = type && qe_compare_n(type, qe_text_length(type), "ZUVOK", 5) == 0;
    const bool qdv = type && qe_compare_n(type, qe_text_length(type), "QDV", 3) == 0;
    if (!type)
        return fault(read, data->offset, "FPDATA TYPE is missing, not ZUVOK or QDV");
    if (!zuvok && !qdv)
        return fault(read, data->offset, "FPDATA TYPE is \"%.40s\", not ZUVOK or QDV", type);
    read->wrapping = zuvok ? ENG_WRAP_ZUVOK : ENG_WRAP_QDV;
    return ENG_OK;
}

ResultCode eng_read_document(const char *text, size_t length, const char *name, DocumentRead *read)
{
    eng_memset(read, 0, sizeof *read);
    read->text = text;
    read->length = length;
    read->inner = text;
    read->inner_length = length;
    QueryElement *top = nullptr;
    size_t used = 0;
    ResultCode result = read_xml(read, text, length, &top, &used);
    if (result != ENG_OK)
        return result;
    if (named(top, "ZUSERVER_QUERY_LIST")) {
        read->outer = top;
        result = read_wrapped(read);
    } else {
        read->root = top;
        if (!named(top, "ZUVOK_FP_QUERY"))
            result = fault(read, top->offset,
                           "<%s> is neither a fingerprint document nor a server query", top->name);
    }
    if (result == ENG_OK)
        result = eng_check_head(read, name);
    while (used < length && is_space(text[used]))
        ++used;
    read->used = used;
    return result;
}

void eng_release_document(DocumentRead *read)
{
    if (!read)
        return;
    qe_destroy(&read->root);
    qe_destroy(&read->outer);
    read->data = nullptr;
    read->algorithm = nullptr;
    read->blocks = nullptr;
}

ResultCode eng_document_fault(DocumentRead *read, const QueryElement *element, size_t index,
                              const char *format, ...)
{
    const size_t inner = index == ENG_AT_START ? element->offset
                                               : qe_xml_text_offset(read->inner, read->inner_length,
                                                                    element->offset, index);
    va_list arguments;
    va_start(arguments, format);
    const ResultCode result = fault_at(read, outer_offset(read, inner), format, arguments);
    va_end(arguments);
    return result;
}

ResultCode eng_document_attribute(DocumentRead *read, const QueryElement *element, const char *name,
                                  const char *value, const char *context)
{
    for (const QueryAttribute *a = element->attributes; a; a = a->next) {
        if (qe_compare_n(a->name, qe_text_length(a->name), name, qe_text_length(name)) != 0)
            continue;
        if (qe_compare_n(a->value, qe_text_length(a->value), value, qe_text_length(value)) == 0)
            return ENG_OK;
        return eng_document_fault(read, element, ENG_AT_START, "%s: %s is \"%.40s\", not \"%s\"",
                                  context, name, a->value, value);
    }
    return eng_document_fault(read, element, ENG_AT_START, "%s: attribute %s is missing", context,
                              name);
}

ResultCode eng_document_children(DocumentRead *read, const QueryElement *parent,
                                 const char *const *names, uint32_t count,
                                 const QueryElement **found)
{
    for (const QueryElement *child = parent->first_child; child; child = child->next_sibling) {
        uint32_t i = 0;
        while (i < count && !named(child, names[i]))
            ++i;
        if (i == count)
            return eng_document_fault(read, child, ENG_AT_START, "<%s> inside %s", child->name,
                                      parent->name);
        if (found[i])
            return eng_document_fault(read, child, ENG_AT_START, "%s twice inside %s", child->name,
                                      parent->name);
        found[i] = child;
    }
    return ENG_OK;
}

ResultCode eng_check_wrapping(DocumentRead *read, uint8_t stream1, const char *what)
{
    if (read->wrapping == ENG_WRAP_NONE || (read->wrapping == ENG_WRAP_ZUVOK) == (stream1 != 0))
        return ENG_OK;
    const bool zuvok = read->wrapping == ENG_WRAP_ZUVOK;
    return fault(read, read->data->offset, "wrapped as %s (%s) but %s", zuvok ? "ZUVOK" : "QDV",
                 zuvok ? "Stream1" : "not Stream1", what);
}

const char *eng_document_problem(void)
{
    return t_problem;
}

void eng_clear_problem(void)
{
    t_problem[0] = '\0';
}

void eng_set_problem(const char *problem)
{
    eng_snprintf(t_problem, sizeof t_problem, "%s", problem);
}

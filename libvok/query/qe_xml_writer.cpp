#include "query/qe_xml_writer.h"

namespace {

const uint32_t kInitialCapacity = 256;
const uint32_t kGrowthStep = 128;

const char *entity_for(char c)
{
    switch (c) {
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '&':
        return "&amp;";
    case '\'':
        return "&apos;";
    case '"':
        return "&quot;";
    default:
        return nullptr;
    }
}

ResultCode write_line_end(TextBuffer *buffer, uint8_t newline)
{
    return newline ? tb_append(buffer, "\n", 1) : ENG_OK;
}

ResultCode write_tag(TextBuffer *buffer, const char *opening, const char *name)
{
    ResultCode result = tb_append_string(buffer, opening);
    if (result == ENG_OK)
        result = tb_append_string(buffer, name);
    return result;
}

} // namespace

ResultCode qe_write_indent(TextBuffer *buffer, int16_t level)
{
    ResultCode result = ENG_OK;
    for (int16_t i = 0; i < level && result == ENG_OK; ++i)
        result = tb_append(buffer, "  ", 2);
    return result;
}

ResultCode qe_write_escaped(TextBuffer *buffer, const char *text)
{
    if (!text)
        return TB_E_INVALID_ARG;
    // Plain runs are appended whole; each special byte becomes its entity.
    const char *run = text;
    for (const char *p = text;; ++p) {
        const char *entity = entity_for(*p);
        if (!entity && *p != '\0')
            continue;
        ResultCode result = tb_append(buffer, run, static_cast<uint32_t>(p - run));
        if (result == ENG_OK && entity)
            result = tb_append_string(buffer, entity);
        if (result != ENG_OK || *p == '\0')
            return result;
        run = p + 1;
    }
}

ResultCode qe_write_attributes(TextBuffer *buffer, const QueryElement *element)
{
    for (const QueryAttribute *a = element->attributes; a; a = a->next) {
        ResultCode result = tb_append(buffer, " ", 1);
        if (result == ENG_OK)
            result = tb_append_string(buffer, a->name);
        if (result == ENG_OK)
            result = tb_append(buffer, "=\"", 2);
        if (result == ENG_OK)
            result = qe_write_escaped(buffer, a->value);
        if (result == ENG_OK)
            result = tb_append(buffer, "\"", 1);
        if (result != ENG_OK)
            return result;
    }
    return ENG_OK;
}

ResultCode qe_write_children(TextBuffer *buffer, const QueryElement *element, int16_t level,
                             uint8_t indent, uint8_t newline)
{
    for (const QueryElement *child = element->first_child; child; child = child->next_sibling) {
        ResultCode result = qe_write_element(buffer, child, level, indent, newline);
        if (result != ENG_OK)
            return result;
    }
    return ENG_OK;
}

ResultCode qe_write_element(TextBuffer *buffer, const QueryElement *element, int16_t level,
                            uint8_t indent, uint8_t newline)
{
    ResultCode result = indent ? qe_write_indent(buffer, level) : ENG_OK;
    if (result == ENG_OK)
        result = write_tag(buffer, "<", element->name);
    if (result == ENG_OK)
        result = qe_write_attributes(buffer, element);
    if (result == ENG_OK)
        result = tb_append(buffer, ">", 1);
    if (result != ENG_OK)
        return result;

    const int16_t inner = static_cast<int16_t>(level + 1);
    if (element->first_child) {
        result = write_line_end(buffer, newline);
        if (result == ENG_OK && element->value) {
            if (indent)
                result = qe_write_indent(buffer, inner);
            if (result == ENG_OK)
                result = qe_write_escaped(buffer, element->value);
            if (result == ENG_OK)
                result = write_line_end(buffer, newline);
        }
        if (result == ENG_OK)
            result = qe_write_children(buffer, element, inner, indent, newline);
        if (result == ENG_OK && indent)
            result = qe_write_indent(buffer, level);
    } else if (element->value) {
        result = qe_write_escaped(buffer, element->value);
    }
    if (result == ENG_OK)
        result = write_tag(buffer, "</", element->name);
    if (result == ENG_OK)
        result = tb_append(buffer, ">", 1);
    if (result == ENG_OK)
        result = write_line_end(buffer, newline);
    return result;
}

char *qe_write_xml(const QueryElement *root, uint8_t declaration, uint8_t indent, uint8_t newline)
{
    if (!root)
        return nullptr;
    TextBuffer *buffer = tb_create(kInitialCapacity, kGrowthStep);
    if (!buffer)
        return nullptr;
    ResultCode result = ENG_OK;
    if (declaration) {
        result = tb_append_string(buffer, QE_XML_DECLARATION);
        if (result == ENG_OK)
            result = write_line_end(buffer, newline);
    }
    if (result == ENG_OK)
        result = qe_write_element(buffer, root, 0, indent, newline);
    if (result == ENG_OK)
        result = tb_append(buffer, "", 1); // the terminator counts in the length
    if (result != ENG_OK) {
        tb_destroy(buffer);
        return nullptr;
    }
    return tb_detach(buffer);
}

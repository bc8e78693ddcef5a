/*
 * Writes a query document as one NUL-terminated XML text.
 *
 * Element and attribute values are escaped with the five XML entities;
 * names are written as stored; every other byte is copied unchanged. An
 * element with neither value nor children is written as a start tag
 * followed by its end tag (there is no self-closing form).
 */
#ifndef VOK_QUERY_QE_XML_WRITER_H
#define VOK_QUERY_QE_XML_WRITER_H

#include "query/query_element.h"
#include "query/tb_buffer.h"

ENG_BEGIN_DECLS

/* The XML declaration written first when asked for. */
#define QE_XML_DECLARATION "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>"

/* A new text owned by the caller (released through the engine's memory
 * layer), or null for a null root or on any failure. The flags choose the
 * declaration, indentation by nesting (two spaces a level) and a line feed
 * after each line. */
char *qe_write_xml(const QueryElement *root, uint8_t declaration, uint8_t indent, uint8_t newline);

ResultCode qe_write_element(TextBuffer *buffer, const QueryElement *element, int16_t level,
                            uint8_t indent, uint8_t newline);
ResultCode qe_write_children(TextBuffer *buffer, const QueryElement *element, int16_t level,
                             uint8_t indent, uint8_t newline);
ResultCode qe_write_attributes(TextBuffer *buffer, const QueryElement *element);
ResultCode qe_write_escaped(TextBuffer *buffer, const char *text);
/* Two spaces per level; zero or negative writes nothing. */
ResultCode qe_write_indent(TextBuffer *buffer, int16_t level);

ENG_END_DECLS

#endif /* VOK_QUERY_QE_XML_WRITER_H */

/*
 * Reads XML text back into a query document: the reader of the documents
 * the writer writes, and of the lookup-server queries that wrap them.
 *
 * It takes one top-level element, after any white space, XML declarations
 * and comments: elements (also self-closing), attributes in either quote,
 * character data with the five named entities and numeric references, and
 * comments inside elements. Nothing else that XML allows (DOCTYPE, CDATA,
 * processing instructions inside elements) occurs in these documents, and
 * it is refused rather than half understood, as are control characters
 * other than tab, line feed and carriage return.
 *
 * The character data of an element without children becomes its value; in
 * an element with children only white space may stand between them, and
 * it is not kept. Each element records where its start tag begins.
 */
#ifndef VOK_QUERY_QE_XML_READER_H
#define VOK_QUERY_QE_XML_READER_H

#include "query/query_element.h"
#include "query/tb_buffer.h"

ENG_BEGIN_DECLS

/* Documents nest four levels (server query list, query, data; document,
 * blocks, block); anything much deeper is not one of them, and the bound
 * keeps hostile text from exhausting the stack. */
#define QE_XML_MAX_DEPTH      16
/* Fingerprint elements carry at most four attributes. */
#define QE_XML_MAX_ATTRIBUTES 32

typedef struct QeXmlFault {
    size_t offset;     /* of the fault in the text read */
    char problem[160]; /* what is wrong, in words */
} QeXmlFault;

/* Reads the first top-level element of text[0, length) into *root (owned by
 * the caller); *used is the offset just after its end. QE_E_BAD_DOCUMENT
 * for text that is not such an element (also an empty text), with *fault
 * saying what and where; QE_E_NO_MEMORY; QE_E_INVALID_ARG for a null
 * argument. Nothing stays allocated on failure, and *root and *used are
 * written only on success. */
ResultCode qe_read_xml(const char *text, size_t length, QueryElement **root, size_t *used,
                       QeXmlFault *fault);

/* The same, for an element that stands at depth (its ancestors) in a text
 * read a piece at a time, so that the nesting bound counts them. */
ResultCode qe_read_xml_at(const char *text, size_t length, uint32_t depth, QueryElement **root,
                          size_t *used, QeXmlFault *fault);

/* --- A text read a piece at a time -----------------------------------------
 * The reader's own steps, for a reader that holds only part of a text (the
 * engine's piecewise decoder): it finds where a piece of markup ends, and
 * once it holds the piece whole it reads it here, as qe_read_xml reads it
 * inside a whole text, with the same faults. Each reads from text[0]. */

/* Just past the markup at text[0] ('<'): a comment, a declaration or a
 * tag, or with whole_element the start tag's whole element (its end tag
 * found by counting tags; the reader checks their names); 0 when the text
 * does not hold its end. */
size_t qe_xml_markup_end(const char *text, size_t length, uint8_t whole_element);

/* The start tag at text[0], "<NAME ...>" or "<NAME .../>" (*empty 1), as a
 * new element (owned by the caller) with its attributes, standing at depth;
 * *used is the tag's length. */
ResultCode qe_read_start_tag(const char *text, size_t length, uint32_t depth,
                             QueryElement **element, uint8_t *empty, size_t *used,
                             QeXmlFault *fault);

/* The end tag at text[0], which must close an element named name. */
ResultCode qe_read_end_tag(const char *text, size_t length, const char *name, size_t *used,
                           QeXmlFault *fault);

/* Character data up to the first '<' or the end of the text, references
 * resolved, appended to out; *first_text is the offset of its first
 * character that is not white space (a reference counts as what it stands
 * for), ~(size_t)0 when there is none. A reference cut by the end of the
 * text is a fault: give the text up to its '&' until more has come. */
ResultCode qe_read_text(const char *text, size_t length, TextBuffer *out, size_t *used,
                        size_t *first_text, QeXmlFault *fault);

/* Where byte index of the value of a childless element that qe_read_xml
 * read from text lies in the text: element_offset is the element's offset,
 * a reference stands for the bytes it decodes to, and an index at or past
 * the value's end gives the offset of the end tag. */
size_t qe_xml_text_offset(const char *text, size_t length, size_t element_offset, size_t index);

ENG_END_DECLS

#endif /* VOK_QUERY_QE_XML_READER_H */

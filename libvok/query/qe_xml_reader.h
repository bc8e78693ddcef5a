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

/* Where byte index of the value of a childless element that qe_read_xml
 * read from text lies in the text: element_offset is the element's offset,
 * a reference stands for the bytes it decodes to, and an index at or past
 * the value's end gives the offset of the end tag. */
size_t qe_xml_text_offset(const char *text, size_t length, size_t element_offset, size_t index);

ENG_END_DECLS

#endif /* VOK_QUERY_QE_XML_READER_H */

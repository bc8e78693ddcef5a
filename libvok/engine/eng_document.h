/*
 * The head every fingerprint document starts with, built and read back in
 * one place for both algorithm families: the root "ZUVOK_FP_QUERY" with
 * VERSION="1.0", and under "ALGORITHM" the algorithm's NAME, its VERSION
 * and the QUERY text (the name, one double quote, the version). The
 * families add their own elements after it.
 *
 * Reading (eng_document_read.cpp): a document comes raw, or escaped inside
 * a lookup-server query as vok -om zuserver writes it. The reader checks
 * the head and the wrapping, and the families check the rest through the
 * helpers below, which record what is wrong, in words, and where in the
 * caller's text.
 */
#ifndef VOK_ENGINE_ENG_DOCUMENT_H
#define VOK_ENGINE_ENG_DOCUMENT_H

#include "query/query_element.h"

ENG_BEGIN_DECLS

/* The algorithm version both families write. */
#define ENG_ALGORITHM_VERSION "1.1"

/* Builds the head into *root (owned by the caller). A failure destroys what
 * was built and answers the query document's code, or no_memory (the
 * calling family's own out-of-memory code) when the root or the QUERY text
 * cannot be allocated. The allocations come in document order. */
ResultCode eng_build_document(const char *name, const char *version, ResultCode no_memory,
                              QueryElement **root);

/* --- Reading documents back ------------------------------------------------ */

/* How a document came: raw, or in a server query whose FPDATA TYPE says
 * Stream1 (ZUVOK) or any other algorithm (QDV). */
#define ENG_WRAP_NONE  0
#define ENG_WRAP_ZUVOK 1
#define ENG_WRAP_QDV   2

typedef struct DocumentRead {
    const char *text; /* the caller's text */
    size_t length;
    QueryElement *outer;      /* the server query list, or null */
    const QueryElement *data; /* its FPDATA, or null */
    QueryElement *root;       /* the document (ZUVOK_FP_QUERY) */
    const char *inner;        /* the text root was read from: text, or FPDATA's value */
    size_t inner_length;
    const QueryElement *algorithm; /* root's ALGORITHM and FP_BLOCKS */
    const QueryElement *blocks;
    uint8_t wrapping; /* ENG_WRAP_* */
    size_t used;      /* bytes of text the document takes, white space after it included */
    size_t fault;     /* offset in text of the fault, after ENG_E_BAD_DOCUMENT */
} DocumentRead;

/* Reads the first document in text[0, length), raw or wrapped, and checks
 * its XML, its wrapping, the root and its two children, and the head, which
 * must name the algorithm name (another family's document is foreign).
 * ALGORITHM may hold BLOCK_LENGTH and FORMAT besides the head, each once;
 * the family checks them. ENG_E_BAD_DOCUMENT with the problem and
 * read->fault set; ENG_E_NO_MEMORY. eng_release_document releases what it
 * read, whatever it answered. */
ResultCode eng_read_document(const char *text, size_t length, const char *name, DocumentRead *read);
void eng_release_document(DocumentRead *read);

/* Checks the head of a document read (eng_document.cpp). */
ResultCode eng_check_head(DocumentRead *read, const char *name);

/* The value of an element of the document, "" when it has none. */
const char *eng_document_value(const QueryElement *element);

/* Records a fault of the document (read->root's tree) at byte index of
 * element's value, or at its start tag for ENG_AT_START, with what is
 * wrong; answers ENG_E_BAD_DOCUMENT. */
#define ENG_AT_START (~(size_t)0)
ResultCode eng_document_fault(DocumentRead *read, const QueryElement *element, size_t index,
                              const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

/* ENG_E_BAD_DOCUMENT unless the element's attribute is value; context
 * names the element in the problem ("block 2: TYPE is ..."). */
ResultCode eng_document_attribute(DocumentRead *read, const QueryElement *element, const char *name,
                                  const char *value, const char *context);

/* The children of parent, each of which must be one of count names and
 * occur once: found[i] is the child named names[i], or null. */
ResultCode eng_document_children(DocumentRead *read, const QueryElement *parent,
                                 const char *const *names, uint32_t count,
                                 const QueryElement **found);

/* A fault of the wrapping unless it agrees with the document: ZUVOK for a
 * Stream1 document, QDV for any other. what says what the document is
 * ("its masks mark 8 weak bits (Stream4)"). */
ResultCode eng_check_wrapping(DocumentRead *read, uint8_t stream1, const char *what);

/* FPDATA's TYPE, ZUVOK or QDV, into read->wrapping; a fault otherwise. */
ResultCode eng_check_data_type(DocumentRead *read, const QueryElement *data);

/* Why the last read of this thread failed; "" after eng_clear_problem.
 * eng_set_problem records a text of the caller's (the piecewise decoder
 * tells a fault again each time it is asked). */
const char *eng_document_problem(void);
void eng_clear_problem(void);
void eng_set_problem(const char *problem);

ENG_END_DECLS

#endif /* VOK_ENGINE_ENG_DOCUMENT_H */

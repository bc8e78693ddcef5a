/*
 * The head every fingerprint document starts with, built once for both
 * algorithm families: the root "ZUVOK_FP_QUERY" with VERSION="1.0", and
 * under "ALGORITHM" the algorithm's NAME, its VERSION and the QUERY text
 * (the name, one double quote, the version). The families add their own
 * elements after it.
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

ENG_END_DECLS

#endif /* VOK_ENGINE_ENG_DOCUMENT_H */

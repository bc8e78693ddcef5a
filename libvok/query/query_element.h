/*
 * The query document: a tree of named elements, each with an optional text
 * value, an ordered list of attributes and an ordered list of children.
 * Every fingerprint algorithm builds its result as such a tree; the engine
 * writes it as XML text and frees it.
 *
 * Ownership: an element owns its name, value, attributes and children; a
 * document is owned through one pointer to its root, which qe_destroy frees
 * and clears. Names compare as exact byte strings. Both lists keep insertion
 * order; replacing an attribute moves it to the end of its list.
 *
 * Implemented in qe_element.cpp (elements, values, children),
 * qe_attribute.cpp (attributes) and qe_path.cpp (paths).
 *
 * Mutating operations answer QE_E_* codes; all memory goes through the
 * engine's memory layer.
 */
#ifndef VOK_QUERY_QUERY_ELEMENT_H
#define VOK_QUERY_QUERY_ELEMENT_H

#include <vok/eng_types.h>

ENG_BEGIN_DECLS

typedef struct QueryAttribute {
    char *name;                  /* owned, never empty */
    char *value;                 /* owned, always present */
    struct QueryAttribute *next; /* next attribute or null */
} QueryAttribute;

typedef struct QueryElement {
    char *name;                        /* owned, never null or empty */
    char *value;                       /* owned or null; never empty */
    QueryAttribute *attributes;        /* first attribute or null */
    struct QueryElement *first_child;  /* first child or null */
    struct QueryElement *next_sibling; /* next element of the parent's list */
    size_t offset;                     /* where its start tag begins in the text it was read from
                                          (qe_xml_reader.h); 0 for an element built in memory */
} QueryElement;

/* --- Creation and destruction ------------------------------------------ */

/* NUL-terminated strings; null counts as length 0. */
QueryElement *qe_create(const char *name, const char *value);
/* Null without allocating for a null or empty name. The value is kept only
 * when non-null, non-empty and not starting with NUL. Null when any
 * allocation fails, with everything allocated so far released. */
QueryElement *qe_create_n(const char *name, uint32_t name_len, const char *value,
                          uint32_t value_len);
/* Frees the whole tree behind *handle and clears it; always 0. */
ResultCode qe_destroy(QueryElement **handle);
/* Frees an element with its subtree (not its own next sibling); always 0. */
ResultCode qe_free(QueryElement *element);

/* --- Access ------------------------------------------------------------- */

const char *qe_name(const QueryElement *element);
const char *qe_value(const QueryElement *element);
uint32_t qe_attribute_count(const QueryElement *element);
const char *qe_attribute_name(const QueryElement *element, uint32_t index);
const char *qe_attribute_value(const QueryElement *element, uint32_t index);
uint32_t qe_child_count(const QueryElement *element);
QueryElement *qe_child_at(const QueryElement *element, uint32_t index);
/* First child whose name equals the counted string. */
QueryElement *qe_find_child_n(const QueryElement *element, const char *name, uint32_t name_len);

/* --- Mutation ------------------------------------------------------------ */

ResultCode qe_set_value(QueryElement *element, const char *value);
/* A null or empty value clears the element's value. */
ResultCode qe_set_value_n(QueryElement *element, const char *value, uint32_t len);

ResultCode qe_set_attribute(QueryElement *element, const char *name, const char *value);
/* Sets (replacing the first of that name, which moves to the end) or, with
 * a null or empty value, removes the first attribute of that name. */
ResultCode qe_set_attribute_n(QueryElement *element, const char *name, uint32_t name_len,
                              const char *value, uint32_t value_len);
/* The number in decimal. */
ResultCode qe_set_attribute_long(QueryElement *element, const char *name, int32_t number);

/* Links child after the parent's last child; the parent then owns it.
 * Always 0; does nothing when either is null. */
ResultCode qe_add_child(QueryElement *parent, QueryElement *child);

/* Sets the value of the element named by a slash-separated path below
 * element, creating missing elements when create is set. The first child of
 * a name is the one taken. Elements created on the way stay when a later
 * step fails. */
ResultCode qe_set_path(QueryElement *element, const char *path, const char *value, uint8_t create);
ResultCode qe_set_path_uint(QueryElement *element, const char *path, uint32_t number,
                            uint8_t create);

/* --- Internal operations, exposed for their tests ------------------------ */

QueryAttribute *qa_create_n(const char *name, uint32_t name_len, const char *value,
                            uint32_t value_len);
void qa_free(QueryAttribute *attribute);
ResultCode qe_append_attribute(QueryElement *element, QueryAttribute *attribute);
ResultCode qe_remove_attribute_n(QueryElement *element, const char *name, uint32_t name_len);
/* Length of a NUL-terminated text; 0 for null. */
uint32_t qe_text_length(const char *text);
/* n bytes plus a NUL in a new block, or null. */
char *qe_strndup(const char *bytes, uint32_t n);
/* Unsigned byte order; a shorter string with an equal prefix is smaller.
 * -1, 0 or 1. */
int32_t qe_compare_n(const char *a, uint32_t a_len, const char *b, uint32_t b_len);

ENG_END_DECLS

#endif /* VOK_QUERY_QUERY_ELEMENT_H */

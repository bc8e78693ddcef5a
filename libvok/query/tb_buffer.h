/*
 * TextBuffer: a growable character buffer in one contiguous allocation. The
 * XML writer builds its text in it and detaches the characters at the end,
 * so the finished text is returned without a final copy.
 */
#ifndef VOK_QUERY_TB_BUFFER_H
#define VOK_QUERY_TB_BUFFER_H

#include <vok/eng_types.h>

ENG_BEGIN_DECLS

typedef struct TextBuffer {
    char *data;           /* owned; not NUL-terminated by the buffer itself */
    uint32_t length;      /* bytes in use */
    uint32_t capacity;    /* bytes allocated for data */
    uint32_t growth_step; /* least number of bytes the capacity grows by */
} TextBuffer;

/* Null when the header or the data cannot be allocated. */
TextBuffer *tb_create(uint32_t capacity, uint32_t growth_step);
/* When the free space is short of len, the capacity grows by the larger of
 * the shortfall and the growth step. On failure the buffer is unchanged. */
ResultCode tb_append(TextBuffer *buffer, const char *bytes, uint32_t len);
ResultCode tb_append_string(TextBuffer *buffer, const char *text);
/* Frees data and header; null is accepted. Always 0. */
ResultCode tb_destroy(TextBuffer *buffer);
/* Frees only the header and hands the data to the caller. */
char *tb_detach(TextBuffer *buffer);

ENG_END_DECLS

#endif /* VOK_QUERY_TB_BUFFER_H */

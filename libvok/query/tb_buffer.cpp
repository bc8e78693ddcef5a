#include "query/tb_buffer.h"

#include "engine/eng_memory.h"
#include "engine/eng_support.h"

TextBuffer *tb_create(uint32_t capacity, uint32_t growth_step)
{
    auto *buffer = static_cast<TextBuffer *>(eng_malloc(sizeof(TextBuffer)));
    if (!buffer)
        return nullptr;
    buffer->data = static_cast<char *>(eng_malloc(capacity));
    if (!buffer->data) {
        eng_free(buffer);
        return nullptr;
    }
    buffer->length = 0;
    buffer->capacity = capacity;
    buffer->growth_step = growth_step;
    return buffer;
}

ResultCode tb_append(TextBuffer *buffer, const char *bytes, uint32_t len)
{
    if (!buffer || !bytes)
        return TB_E_INVALID_ARG;
    if (len == 0)
        return ENG_OK;
    const uint32_t free_space = buffer->capacity - buffer->length;
    if (free_space < len) {
        const uint32_t shortfall = len - free_space;
        const uint32_t growth = shortfall > buffer->growth_step ? shortfall : buffer->growth_step;
        if (growth > UINT32_MAX - buffer->capacity)
            return TB_E_NO_MEMORY; // a text of 4 GiB or more cannot be held
        const uint32_t capacity = buffer->capacity + growth;
        char *data = static_cast<char *>(eng_realloc(buffer->data, capacity));
        if (!data)
            return TB_E_NO_MEMORY;
        buffer->data = data;
        buffer->capacity = capacity;
    }
    eng_memcpy(buffer->data + buffer->length, bytes, len);
    buffer->length += len;
    return ENG_OK;
}

ResultCode tb_append_string(TextBuffer *buffer, const char *text)
{
    if (!text)
        return TB_E_INVALID_ARG;
    return tb_append(buffer, text, static_cast<uint32_t>(eng_strlen(text)));
}

ResultCode tb_destroy(TextBuffer *buffer)
{
    if (buffer) {
        eng_free(buffer->data);
        eng_free(buffer);
    }
    return ENG_OK;
}

char *tb_detach(TextBuffer *buffer)
{
    if (!buffer)
        return nullptr;
    char *data = buffer->data;
    eng_free(buffer);
    return data;
}

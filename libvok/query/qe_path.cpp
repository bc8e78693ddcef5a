// Setting element values by slash-separated path.
#include "query/query_element.h"

#include "engine/eng_support.h"

ResultCode qe_set_path(QueryElement *element, const char *path, const char *value, uint8_t create)
{
    for (;;) {
        if (!element || !path || path[0] == '\0' || path[0] == '/')
            return QE_E_INVALID_ARG;
        const char *slash = eng_strchr(path, '/');
        const uint32_t segment_len =
            slash ? static_cast<uint32_t>(slash - path) : qe_text_length(path);

        QueryElement *child = qe_find_child_n(element, path, segment_len);
        if (!child) {
            if (!create)
                return QE_E_NOT_FOUND;
            child = qe_create_n(path, segment_len, nullptr, 0);
            if (!child)
                return QE_E_NO_MEMORY;
            qe_add_child(element, child);
        }
        if (!slash)
            return qe_set_value(child, value);
        element = child;
        path = slash + 1;
    }
}

ResultCode qe_set_path_uint(QueryElement *element, const char *path, uint32_t number,
                            uint8_t create)
{
    char text[16];
    eng_snprintf(text, sizeof text, "%u", static_cast<unsigned>(number));
    return qe_set_path(element, path, text, create);
}

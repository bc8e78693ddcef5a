// The library's version, set by the build from the project version.
#include <vok/vok_engine.h>

#ifndef VOK_VERSION_STRING
#error "the build defines VOK_VERSION_STRING"
#endif

const char *eng_version(void)
{
    return VOK_VERSION_STRING;
}

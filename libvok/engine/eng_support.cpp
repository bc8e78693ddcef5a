#include "engine/eng_support.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void *eng_memcpy(void *destination, const void *source, size_t count)
{
    return std::memmove(destination, source, count);
}

void *eng_memmove(void *destination, const void *source, size_t count)
{
    return std::memmove(destination, source, count);
}

void *eng_memset(void *destination, int16_t value, size_t count)
{
    return std::memset(destination, static_cast<unsigned char>(value & 0xFF), count);
}

const char *eng_strchr(const char *text, int16_t character)
{
    return std::strchr(text, static_cast<char>(character & 0xFF));
}

size_t eng_strlen(const char *text)
{
    return std::strlen(text);
}

int32_t eng_strtol(const char *text, char **end, int16_t base)
{
    long value = std::strtol(text, end, base);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

int32_t eng_atoi(const char *text)
{
    return eng_strtol(text, nullptr, 10);
}

int32_t eng_snprintf(char *array, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list probe;
    va_copy(probe, args);
    int needed = std::vsnprintf(nullptr, 0, format, probe);
    va_end(probe);

    int32_t result = -1;
    if (needed >= 0 && static_cast<size_t>(needed) < size) {
        std::vsnprintf(array, size, format, args);
        result = needed;
    } else if (needed >= 0 && size > 0) {
        // No room for the terminator: the array gets the characters that
        // fit and stays unterminated.
        char local[256];
        char *text = static_cast<size_t>(needed) < sizeof local
                         ? local
                         : static_cast<char *>(std::malloc(static_cast<size_t>(needed) + 1));
        if (text) {
            std::vsnprintf(text, static_cast<size_t>(needed) + 1, format, args);
            std::memcpy(array, text, size);
            if (text != local)
                std::free(text);
            if (static_cast<size_t>(needed) == size)
                result = needed;
        }
    } else if (needed == 0) {
        result = 0; // an empty text fits an empty array
    }
    va_end(args);
    return result;
}

int32_t eng_vsnprintf(char *array, size_t size, const char *format, va_list arguments)
{
    return std::vsnprintf(array, size, format, arguments);
}

double eng_sqrt(double x)
{
    return std::sqrt(x);
}
double eng_sin(double x)
{
    return std::sin(x);
}
double eng_cos(double x)
{
    return std::cos(x);
}
double eng_fabs(double x)
{
    return std::fabs(x);
}
double eng_floor(double x)
{
    return std::floor(x);
}

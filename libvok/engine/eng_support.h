/*
 * The engine's only access to the C runtime: byte copies, string helpers, a
 * bounded formatter and five mathematical functions. Each is a thin
 * pass-through to the standard routine of the same role.
 */
#ifndef VOK_ENGINE_ENG_SUPPORT_H
#define VOK_ENGINE_ENG_SUPPORT_H

#include <stdarg.h>

#include <vok/eng_types.h>

ENG_BEGIN_DECLS

/* Copies correctly between overlapping ranges. */
void *eng_memcpy(void *destination, const void *source, size_t count);
void *eng_memmove(void *destination, const void *source, size_t count);
/* The low byte of value fills the range. */
void *eng_memset(void *destination, int16_t value, size_t count);

/* Finds the low byte of character; the terminating NUL can be found. */
const char *eng_strchr(const char *text, int16_t character);
size_t eng_strlen(const char *text);

/* Decimal (or other base) conversion to a signed 32-bit value; values past
 * the 32-bit range saturate, as a 32-bit strtol does. */
int32_t eng_strtol(const char *text, char **end, int16_t base);
int32_t eng_atoi(const char *text);

/* Writes at most size characters. Answers the number of characters of the
 * text, or a negative value when the text does not fit. The array is
 * terminated only when a position remains after the text. */
int32_t eng_snprintf(char *array, size_t size, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

/* The same with the arguments as a list, and the C library's behaviour:
 * a text longer than size - 1 characters is cut and still terminated. */
int32_t eng_vsnprintf(char *array, size_t size, const char *format, va_list arguments)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 0)))
#endif
    ;

/* pi, for every table and filter that is generated from a formula. */
#define ENG_PI 3.14159265358979323846

double eng_sqrt(double x);
double eng_sin(double x);
double eng_cos(double x);
double eng_fabs(double x);
double eng_floor(double x);

ENG_END_DECLS

#endif /* VOK_ENGINE_ENG_SUPPORT_H */

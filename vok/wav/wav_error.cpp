#include "wav/wav_parser.h"

const char *wav_error_name(int code)
{
    switch (code) {
    case WAV_E_NO_MEMORY:
        return "Could not allocate memory";
    case WAV_E_INVALID_ARG:
        return "Invalid input";
    case WAV_E_OPEN:
        return "Could not open file";
    case WAV_E_FORMAT:
        return "File format invalid";
    case WAV_E_END_OF_FILE:
        return "End of file encountered";
    default:
        return "Unknown";
    }
}

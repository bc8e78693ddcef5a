#include "driver/fingerprinter_exception.h"

#include <utility>

namespace Zuvanti {

FingerprinterException::FingerprinterException(std::string message, FingerprinterException *inner)
    : message(std::move(message)), inner(inner)
{
}

FingerprinterException::~FingerprinterException()
{
    delete inner;
}

} // namespace Zuvanti

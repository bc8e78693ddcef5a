#include "driver/fingerprinter_exception.h"

#include <utility>

namespace Zuvanti {

FingerprinterException::FingerprinterException(std::string text, FingerprinterException *cause)
    : message(std::move(text)), inner(cause)
{
}

FingerprinterException::~FingerprinterException()
{
    delete inner;
}

} // namespace Zuvanti

// A driver failure: a message and the failure that caused it. Created with
// new and thrown as a pointer; a handler that adds context throws a new one
// whose inner is the caught one, so a chain runs from the most general
// message to the most specific. Whoever catches the outermost exception
// owns the whole chain: deleting it deletes every inner one.
#ifndef VOK_DRIVER_FINGERPRINTER_EXCEPTION_H
#define VOK_DRIVER_FINGERPRINTER_EXCEPTION_H

#include <string>

namespace Zuvanti {

class FingerprinterException {
public:
    FingerprinterException(std::string text, FingerprinterException *cause);
    ~FingerprinterException();
    FingerprinterException(const FingerprinterException &) = delete;
    FingerprinterException &operator=(const FingerprinterException &) = delete;

    const std::string &Message() const { return message; }
    const FingerprinterException *Inner() const { return inner; }

private:
    std::string message;
    FingerprinterException *inner;
};

} // namespace Zuvanti

#endif

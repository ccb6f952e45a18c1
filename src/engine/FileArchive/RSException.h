// Errors of the framed archive file, thrown as CRSException with a code and no text.
#pragma once

#include "engine/Common/Types.h"

enum RSErrorCode : u32 {
    RS_ERROR_NONE = 0,
    RS_ERROR_HEADER_RANGE = 2,   // header content out of range (status 5 or more, description above 100)
    RS_ERROR_WRONG_MODE = 3,     // operation not allowed in this mode
    RS_ERROR_SHORT_READ = 5,     // fewer frame bytes than asked for, or a frame running past the file end
    RS_ERROR_WRITE = 6,          // a write failed or was short
    RS_ERROR_NO_SUCH_FRAME = 7,  // no frame with the asked tag
    RS_ERROR_NO_FRAME = 8,       // no current frame
    RS_ERROR_TOO_LARGE = 9,      // a frame would start or grow past what 32-bit offsets and sizes hold
};

class IRSException {
public:
    virtual ~IRSException() = default;
    virtual u32 GetErrorcode() const = 0;
};

class CRSException : public IRSException {
public:
    explicit CRSException(u32 code) : m_code(code) {}
    u32 GetErrorcode() const override { return m_code; }

private:
    u32 m_code;
};

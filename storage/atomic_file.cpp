#include "atomic_file.h"

#include <cerrno>
#include <cstdarg>

AtomicFileWriter::AtomicFileWriter(const char *finalName, SpecialTarget special)
    : finalName_(finalName), special_(special)
{
}

void AtomicFileWriter::Print(const char *format, ...)
{
    if (overflow_)
        return;
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(text_ + length_, TextCapacity - length_, format, arguments);
    va_end(arguments);
    if (written < 0 || size_t(written) >= TextCapacity - length_)
        overflow_ = true;
    else
        length_ += size_t(written);
}

bool AtomicFileWriter::Commit(SaveFailure *failure, const ReplaceCheck &check)
{
    if (overflow_)
        return SaveFailed(failure, EFBIG);
    return WriteWholeFile(finalName_, text_, length_, special_, failure, check);
}

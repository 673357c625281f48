#include "engine/jpeg_warnings.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace lathmark {
namespace {

thread_local JpegWarningTally tallyOfThisThread;

// The library's own emit_message passes a warning (level < 0) on only while none has been
// counted before; this one passes each on, up to kMostWarningsPassedOn a decode. Trace messages
// (level >= 0) go on as the library's would, only up to the manager's trace level.
void emitEveryWarning(j_common_ptr cinfo, int level) {
    jpeg_error_mgr* manager = cinfo->err;
    if (level >= 0) {
        if (manager->trace_level >= level) manager->output_message(cinfo);
        return;
    }
    ++tallyOfThisThread.warnings;
    if (manager->num_warnings < kMostWarningsPassedOn)
        manager->output_message(cinfo);
    else
        ++tallyOfThisThread.withheld;
    ++manager->num_warnings;
}

using StdError = jpeg_error_mgr* (*)(jpeg_error_mgr*);

// The library's jpeg_std_error: the next definition after the program's own.
StdError libraryStdError() {
    static const StdError found = reinterpret_cast<StdError>(::dlsym(RTLD_NEXT, "jpeg_std_error"));
    if (!found) {
        // Only a program that calls jpeg_std_error without the JPEG library loaded gets here,
        // and it has no error manager to go on with.
        std::fputs("lathmark: the JPEG library's jpeg_std_error cannot be found\n", stderr);
        std::abort();
    }
    return found;
}

}  // namespace

JpegWarningTally jpegWarningTally() {
    return tallyOfThisThread;
}

}  // namespace lathmark

// Stands in for the JPEG library's function of the same name (see jpeg_warnings.h).
extern "C" jpeg_error_mgr* jpeg_std_error(jpeg_error_mgr* manager) {
    jpeg_error_mgr* made = lathmark::libraryStdError()(manager);
    made->emit_message = lathmark::emitEveryWarning;
    ++lathmark::tallyOfThisThread.managers;
    return made;
}

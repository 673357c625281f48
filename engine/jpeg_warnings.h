#pragma once
// Every warning of the JPEG decoder, not only its first.
//
// The JPEG library that FreeImage decodes with passes on only the first warning about a
// photograph: its standard error manager counts later ones and says nothing of them. A harmless
// first warning (a stray byte before a marker) would then hide a later one that means picture
// data was lost. FreeImage sets up each decode's error manager with the library's
// jpeg_std_error and keeps the manager's way of emitting warnings, so the engine stands in for
// jpeg_std_error (jpeg_warnings.cpp): it calls the library's own one and then lets every warning
// through to FreeImage's message callback, where LibraryMessages gathers it.
//
// That works because FreeImage calls jpeg_std_error in libjpeg.so.62 through the dynamic
// linker, and a program's own definition of a symbol comes before any shared library's. So it
// holds in every program that links the engine (both faces, the tests, the benchmarks and the
// fuzz targets, with or without the sanitizers), as long as the engine is linked into the
// program itself, as it always is, and not into a shared library of its own. A decode can tell
// whether it did: the tally below counts the error managers set up this way.

namespace lathmark {

// The JPEG library's warnings on this thread so far.
struct JpegWarningTally {
    unsigned long managers = 0;  // error managers set up to let every warning through
    unsigned long warnings = 0;  // warnings they were given
    unsigned long withheld = 0;  // of those, warnings not passed on: a damaged photograph can
                                 // give one per block, and a few hundred tell all there is
};

JpegWarningTally jpegWarningTally();

// The most warnings one decode passes on; any after them are counted as withheld.
constexpr int kMostWarningsPassedOn = 500;

}  // namespace lathmark

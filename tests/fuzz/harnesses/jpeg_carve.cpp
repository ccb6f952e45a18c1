// The JPEG analysers in the signature search, as the deep scan runs them: a photo is recognised at a
// sector start, sized sector by sector while the search reads on (its Exif block read on the way),
// and sized from the device when the guessing gives up. The input is an image (see
// fuzz/support/Carve.h for its one header byte).
#include "fuzz/support/Carve.h"
#include "fuzz/support/FuzzTarget.h"

BRELVOX_FUZZ_TARGET(fuzz::kCarveHeaderBytes + 128 * 1024) {
    fuzz::Carve(data, size, {"BruteForce::JpegAnalyzer"});
}

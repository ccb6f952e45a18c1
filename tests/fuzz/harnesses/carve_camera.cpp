// The camera-raw analysers in the signature search, as the deep scan runs them: TIFF-based raws (both
// byte orders and the vendor variants), CRW, X3F and MRW recognised at a sector start, their
// directories walked for the size, camera name and date, sized on while the search reads on. The input
// is an image (see fuzz/support/Carve.h for its one header byte).
#include "fuzz/support/Carve.h"
#include "fuzz/support/FuzzTarget.h"

BRELVOX_FUZZ_TARGET(fuzz::kCarveHeaderBytes + 128 * 1024) {
    fuzz::Carve(data, size,
                {"BruteForce::TiffAnalyzer", "Brance::CRWAnalyser", "Brance::X3FAnalyser", "FileMRWAnalyser"});
}

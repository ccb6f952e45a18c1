// The document analysers in the signature search, as the deep scan runs them: OLE compound files (the
// sector tables, the directory and the summary streams read for the kind, title and dates), ZIP
// archives (local entries, the central directory and the office parts inside) and PDF files (the
// trailer, the info dictionary and the title), each recognised at a sector start and sized while the
// search reads on. The input is an image (see fuzz/support/Carve.h for its one header byte).
#include "fuzz/support/Carve.h"
#include "fuzz/support/FuzzTarget.h"

BRELVOX_FUZZ_TARGET(fuzz::kCarveHeaderBytes + 256 * 1024) {
    fuzz::Carve(data, size, {"FileOLEAnalyser", "FileZIPAnalyser", "BruteForce::PdfAnalyzer"});
}

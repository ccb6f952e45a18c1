// The picture analysers in the signature search, as the deep scan runs them: PNG chunks, GIF blocks,
// PSD and PSP sections, WPG records, BMP, ICO and ICNS headers, WMF and EMF records and EPS headers,
// each recognised at a sector start and sized while the search reads on. The input is an image (see
// fuzz/support/Carve.h for its one header byte).
#include "fuzz/support/Carve.h"
#include "fuzz/support/FuzzTarget.h"

BRELVOX_FUZZ_TARGET(fuzz::kCarveHeaderBytes + 128 * 1024) {
    fuzz::Carve(data, size,
                {"RawSpeed::PNGAnalyser", "BruteForce::CGifAnalyser", "RawSpeed::PSDAnalyser", "RawSpeed::PSPAnalyser",
                 "RawSpeed::WpgAnalyser", "FileBMPAnalyser", "FileICOAnalyser", "FileICNSAnalyser", "FileWMFAnalyser",
                 "FileEMFAnalyser", "BruteForce::CEPSAnalyser"});
}

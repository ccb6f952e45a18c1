// The text, mail, database, archive and installer analysers in the signature search, as the deep scan
// runs them: files recognised at sector starts, followed while the search reads on (tar records, RAR
// blocks, LHA headers, SQLite pages, OneNote sections, MOBI records, Access pages, zero runs) and sized
// from the device when the guessing gives up. The input is an image (see fuzz/support/Carve.h for its
// one header byte).
#include "fuzz/support/Carve.h"
#include "fuzz/support/FuzzTarget.h"

BRELVOX_FUZZ_TARGET(fuzz::kCarveHeaderBytes + 128 * 1024) {
    fuzz::Carve(data, size,
                {"RawSpeed::RTFAnalyser", "RawSpeed::HTMLAnalyser", "FileUnicodeHTMAnalyser", "RawSpeed::JKSAnalyser",
                 "RawSpeed::PSAFE3Analyser", "RawSpeed::SIBAnalyser", "RawSpeed::TARAnalyser", "FilePSTAnalyser",
                 "FileMNYAnalyser", "FileLowDocAnalyser", "FileWPDAnalyser", "FileCABAnalyser", "FileCHMAnalyser",
                 "FileHLPAnalyser", "RawSpeed::RARAnalyser", "Brance::LZHAnalyser", "RawSpeed::GZAnalyzer",
                 "FileMboxAnalyser", "RawSpeed::DbxAnalyser", "RawSpeed::OneAnalyser", "RawSpeed::MOBIAnalyser",
                 "RawSpeed::CMDBAnalyser", "FilePKGAnalyser", "RawSpeed::SITAnalyser", "Brance::DMGAnalyser",
                 "BruteForce::CFCPEvtAnalyser"});
}

#include "engine/RAWSearch/Core/SignatureTable.h"

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/AvTypes.h"
#include "engine/RAWSearch/Analysers/DrawingTypes.h"
#include "engine/RAWSearch/Analysers/FileOLEAnalyser.h"
#include "engine/RAWSearch/Analysers/FilePDFAnalyser.h"
#include "engine/RAWSearch/Analysers/MediaTypes.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Analysers/ZipSearch.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileTypes.h"

u32 RawMapKey(const unsigned char* b) {
    return ByteReader(b, 4).Le32(0).value_or(0);
}
u16 RawMultimapKey(const unsigned char* b) {
    return ByteReader(b, 2).Le16(0).value_or(0);
}

namespace {
constexpr RawTableKind M = RawTableKind::Map;
constexpr RawTableKind MM = RawTableKind::Multimap;
constexpr RawTableKind L = RawTableKind::List;
}  // namespace

const std::vector<RawSignatureRow>& RawSignatureRows() {
    static const std::vector<RawSignatureRow> rows = {
        // Map: the first four bytes.
        {M, "\xFF\xD8\xFF\xE0", "BruteForce::JpegAnalyzer", RAW_TYPE_JPG, CreateJpegAnalyzer},
        {M, "\xFF\xD8\xFF\xE1", "BruteForce::JpegAnalyzer", RAW_TYPE_JPG, CreateJpegAnalyzer},
        {M, "\xFF\xD8\xFF\xDB", "BruteForce::JpegAnalyzer", RAW_TYPE_JPG, CreateJpegAnalyzer},
        {M, "\xFF\xD8\xFF\xEE", "BruteForce::JpegAnalyzer", RAW_TYPE_JPG, CreateJpegAnalyzer},
        {M, "%PDF", "BruteForce::PdfAnalyzer", RAW_TYPE_PDF, CreatePdfAnalyzer},
        {M, "\x4D\x4D\x00\x2A", "BruteForce::TiffAnalyzer", RAW_TYPE_TIF, CreateTiffAnalyzer},
        {M, "\x49\x49\x2A\x00", "BruteForce::TiffAnalyzer", RAW_TYPE_TIF, CreateTiffAnalyzer},
        {M, "\x49\x49\x55\x00", "BruteForce::TiffAnalyzer", RAW_TYPE_TIF, CreateTiffAnalyzer},
        {M, "IIRO", "BruteForce::TiffAnalyzer", RAW_TYPE_TIF, CreateTiffAnalyzer},
        {M, "IIRS", "BruteForce::TiffAnalyzer", RAW_TYPE_TIF, CreateTiffAnalyzer},
        {M, "FUJI", "BruteForce::TiffAnalyzer", RAW_TYPE_TIF, CreateTiffAnalyzer},
        {M, "MMOR", "BruteForce::TiffAnalyzer", RAW_TYPE_TIF, CreateTiffAnalyzer},
        {M, "\x49\x49\x1A\x00", "Brance::CRWAnalyser", RAW_TYPE_CRW, CreateCRWAnalyser},
        {M, "\x4D\x4D\x1A\x00", "Brance::CRWAnalyser", RAW_TYPE_CRW, CreateCRWAnalyser},
        {M, "BZh1", "Brance::DMGAnalyser", RAW_TYPE_DMG, CreateDMGAnalyser},
        {M, "FOVb", "Brance::X3FAnalyser", RAW_TYPE_X3F, CreateX3FAnalyser},
        {M, "\x00\x00\x01\xB3", "Brance::MPGAnalyser", RAW_TYPE_MPG, CreateMPGAnalyser},
        {M, "\x00\x00\x01\xBA", "Brance::MPGAnalyser", RAW_TYPE_MPG, CreateMPGAnalyser},
        {M, "OggS", "Brance::OGGAnalyser", RAW_TYPE_OGG, CreateOGGAnalyser},
        {M, ".RMF", "Brance::RM_RMVBAnalyser", RAW_TYPE_RM, CreateRM_RMVBAnalyser},
        {M, "<?xm", "Brance::SVGAnalyser", RAW_TYPE_SVG, CreateSVGAnalyser},
        {M, "\xEF\xBB\xBF\x3C", "Brance::SVGAnalyser", RAW_TYPE_SVG, CreateSVGAnalyser},
        {M, "\xCD\x01\x00\x00", "Brance::SVGAnalyser", RAW_TYPE_SVG, CreateSVGAnalyser},
        {M, "<svg", "Brance::SVGAnalyser", RAW_TYPE_SVG, CreateSVGAnalyser},
        {M, "BCFZ", "Brance::SVGAnalyser", RAW_TYPE_SVG, CreateSVGAnalyser},
        {M, "\x30\x26\xB2\x75", "BruteForce::CAsfAnalyser", kTypeByContent, CreateCAsfAnalyser},
        {M, "\x20\x20\x30\x0D", "BruteForce::CDXFAnalyser", RAW_TYPE_DXF, CreateDXFAnalyser},
        {M, "MAC ", "BruteForce::CAPEAnalyser", RAW_TYPE_APE, CreateCAPEAnalyser},
        {M, "\x1C\x01\x00\x00", "BruteForce::CFH11Analyser", RAW_TYPE_FH11, CreateFH11Analyser},
        {M, "\xC5\xD0\xD3\xC6", "BruteForce::CEPSAnalyser", RAW_TYPE_EPS, CreateEPSAnalyser},
        {M, "AC10", "BruteForce::CDWGAnalyser", RAW_TYPE_DWG, CreateDWGAnalyser},
        {M, "GIF8", "BruteForce::CGifAnalyser", RAW_TYPE_GIF, CreateGifAnalyser},
        {M, "MThd", "RawSpeed::MIDAnalyser", RAW_TYPE_MID, CreateMIDAnalyser},
        {M, "\x89\x50\x4E\x47", "RawSpeed::PNGAnalyser", RAW_TYPE_PNG, CreatePNGAnalyser},
        {M, "8BPS", "RawSpeed::PSDAnalyser", RAW_TYPE_PSD, CreatePSDAnalyser},
        {M, "\x7B\x5C\x72\x74", "RawSpeed::RTFAnalyser", RAW_TYPE_RTF, CreateRTFAnalyser},
        {M, "Pain", "RawSpeed::PSPAnalyser", RAW_TYPE_PSP, CreatePSPAnalyser},
        {M, "Rar!", "RawSpeed::RARAnalyser", RAW_TYPE_RAR, CreateRARAnalyser},
        {M, "\xE4\x52\x5C\x7B", "RawSpeed::OneAnalyser", RAW_TYPE_ONE, CreateOneAnalyser},
        {M, "\x77\x70\x67\x00", "RawSpeed::WpgAnalyser", RAW_TYPE_WPG, CreateWpgAnalyser},
        {M, "JMF6", "RawSpeed::DbxAnalyser", RAW_TYPE_DBX, CreateDbxAnalyser},
        {M, "\xCF\xAD\x12\xFE", "RawSpeed::DbxAnalyser", RAW_TYPE_DBX, CreateDbxAnalyser},
        {M, "\xF7\x89\x34\x2C", "RawSpeed::DbxAnalyser", RAW_TYPE_DBX, CreateDbxAnalyser},
        {M, "\x0F\x53\x49\x42", "RawSpeed::SIBAnalyser", RAW_TYPE_SIB, CreateSIBAnalyser},
        {M, "WEBB", "RawSpeed::SITAnalyser", RAW_TYPE_SIT, CreateSITAnalyser},
        {M, "Stuf", "RawSpeed::SITAnalyser", RAW_TYPE_SIT, CreateSITAnalyser},
        {M, "\xFE\xED\xFE\xED", "RawSpeed::JKSAnalyser", RAW_TYPE_JKS, CreateJKSAnalyser},
        {M, "PWS3", "RawSpeed::PSAFE3Analyser", RAW_TYPE_PSAFE3, CreatePSAFE3Analyser},
        {M, "-in-", "RawSpeed::NGRRAnalyser", RAW_TYPE_NGRR, CreateNGRRAnalyser},
        {M, "\x06\x0E\x2B\x34", "RawSpeed::MxfAnalyser", RAW_TYPE_MXF, CreateMxfAnalyser},
        {M, "RIFX", "RawSpeed::AEPAnalyser", RAW_TYPE_AEP, CreateAEPAnalyser},
        {M, "MLVI", "RawSpeed::MLvAnalyser", RAW_TYPE_MLV, CreateMLvAnalyser},
        {M, "FORM", "CFileAIFAnalyzer", RAW_TYPE_AIFF, CreateCFileAIFAnalyzer},
        {M, "\x50\x4B\x03\x04", "FileZIPAnalyser", RAW_TYPE_ZIP, CreateFileZIPAnalyser},
        {M, "\xFF\x57\x50\x43", "FileWPDAnalyser", RAW_TYPE_WPD, CreateFileWPDAnalyser},
        {M, "\x01\x00\x09\x00", "FileWMFAnalyser", RAW_TYPE_WMF, CreateFileWMFAnalyser},
        {M, "\xD7\xCD\xC6\x9A", "FileWMFAnalyser", RAW_TYPE_WMF, CreateFileWMFAnalyser},
        {M, "\x00\x01\x00\x00", "FileTTFAnalyser", RAW_TYPE_TTF, CreateFileTTFAnalyser},
        {M, "RIFF", "FileRIFFAnalyser", RAW_TYPE_RIFF, CreateFileRIFFAnalyser},
        {M, "!BDN", "FilePSTAnalyser", RAW_TYPE_PST, CreateFilePSTAnalyser},
        {M, "\xD0\xCF\x11\xE0", "FileOLEAnalyser", RAW_TYPE_OLE, CreateFileOLEAnalyser},
        {M, "\xDB\xA5\x2D\x00", "FileLowDocAnalyser", RAW_TYPE_DOC, CreateFileLowDocAnalyser},
        {M, "\x94\xA6\x2E\x00", "FileLowDocAnalyser", RAW_TYPE_DOC, CreateFileLowDocAnalyser},
        {M, "\x00\x00\x01\x00", "FileICOAnalyser", RAW_TYPE_ICO, CreateFileICOAnalyser},
        {M, "\x00\x00\x02\x00", "FileICOAnalyser", RAW_TYPE_ICO, CreateFileICOAnalyser},
        {M, "\x3F\x5F\x03\x00", "FileHLPAnalyser", RAW_TYPE_HLP, CreateFileHLPAnalyser},
        {M, "CPT7", "FileCPTAnalyser", RAW_TYPE_CPT, CreateFileCPTAnalyser},
        {M, "CPT8", "FileCPTAnalyser", RAW_TYPE_CPT, CreateFileCPTAnalyser},
        {M, "CPT9", "FileCPTAnalyser", RAW_TYPE_CPT, CreateFileCPTAnalyser},
        {M, "MSCF", "FileCABAnalyser", RAW_TYPE_CAB, CreateFileCABAnalyser},
        {M, "mscf", "FileCABAnalyser", RAW_TYPE_CAB, CreateFileCABAnalyser},
        {M, ".snd", "FileAUAnalyser", RAW_TYPE_AU, CreateFileAUAnalyser},
        {M, "\x1A\x45\xDF\xA3", "FileMKVAnalyser", RAW_TYPE_MKV, CreateFileMKVAnalyser},
        {M, "ITSF", "FileCHMAnalyser", RAW_TYPE_CHM, CreateFileCHMAnalyser},
        {M, "\x00\x4D\x52\x4D", "FileMRWAnalyser", RAW_TYPE_MRW, CreateFileMRWAnalyser},
        {M, "SQLi", "BruteForce::CFCPEvtAnalyser", RAW_TYPE_FCPEVENT, CreateCFCPEvtAnalyser},
        {M, "hdfm", "FileITLAnalyser", RAW_TYPE_ITL, CreateFileITLAnalyser},
        {M, "xar!", "FilePKGAnalyser", RAW_TYPE_PKG, CreateFilePKGAnalyser},
        {M, "\x7F\x50\x4B\x47", "FilePKGAnalyser", RAW_TYPE_PKG, CreateFilePKGAnalyser},
        {M, "icns", "FileICNSAnalyser", RAW_TYPE_ICNS, CreateFileICNSAnalyser},
        {M, "From", "FileMboxAnalyser", RAW_TYPE_MBOX, CreateFileMboxAnalyser},
        // Multimap: the first two bytes; equal keys are tried in this order.
        {MM, "%!", "BruteForce::PdfAnalyzer", RAW_TYPE_PDF, CreatePdfAnalyzer},
        {MM, "%!", "BruteForce::CEPSAnalyser", RAW_TYPE_EPS, CreateEPSAnalyser},
        {MM, "ID", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xF2", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xF3", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xF4", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xF5", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xF6", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xF7", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xFA", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xFB", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xFC", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xFD", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xFE", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xFF", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xE2", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xE3", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xE4", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xE5", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xE6", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "\xFF\xE7", "BruteForce::MP3Analyzer", RAW_TYPE_MP3, CreateMP3Analyzer},
        {MM, "99", "BruteForce::CDXFAnalyser", RAW_TYPE_DXF, CreateDXFAnalyser},
        {MM, "\x00\x00", "BruteForce::MovAnalyzer", RAW_TYPE_MOV, CreateMovAnalyzer},
        {MM, "\x00\x00", "BruteForce::Mp4Analyzer", RAW_TYPE_MP4, CreateMp4Analyzer},
        {MM, "\x00\x00", "BruteForce::C3GPAnalyser", RAW_TYPE_3GP, CreateC3GPAnalyser},
        {MM, "\xFF\xF1", "BruteForce::CADTSAnalyser", RAW_TYPE_AAC, CreateCADTSAnalyser},
        {MM, "\xFF\xF9", "BruteForce::CADTSAnalyser", RAW_TYPE_AAC, CreateCADTSAnalyser},
        {MM, "\x1F\x8B", "RawSpeed::GZAnalyzer", RAW_TYPE_GZ, CreateGZAnalyzer},
        {MM, "\x00\x01", "RawSpeed::CMDBAnalyser", RAW_TYPE_MDB, CreateCMDBAnalyser},
        {MM, "FL", "Brance::FLVAnalyser", RAW_TYPE_FLV, CreateFLVAnalyser},
        {MM, "<h", "RawSpeed::HTMLAnalyser", RAW_TYPE_HTM, CreateHTMLAnalyser},
        {MM, "<H", "RawSpeed::HTMLAnalyser", RAW_TYPE_HTM, CreateHTMLAnalyser},
        {MM, "<!", "RawSpeed::HTMLAnalyser", RAW_TYPE_HTM, CreateHTMLAnalyser},
        {MM, "\xFF\xFE", "RawSpeed::HTMLAnalyser", RAW_TYPE_HTM, CreateHTMLAnalyser},
        {MM, "MM", "RawSpeed::New3DSAnalyser", RAW_TYPE_3DS, CreateNew3DSAnalyser},
        {MM, "\x00\x01", "RawSpeed::CMDBAnalyser", RAW_TYPE_MDB, CreateCMDBAnalyser},
        {MM, "BM", "FileBMPAnalyser", RAW_TYPE_BMP, CreateFileBMPAnalyser},
        {MM, "\xFF\xFE", "FileUnicodeHTMAnalyser", RAW_TYPE_HTM, CreateFileUnicodeHTMAnalyser},
        // Money files begin 00 01 00 00 "MSISAM Database": keyed there, after the Access rows.
        {MM, "\x00\x01", "FileMNYAnalyser", RAW_TYPE_MNY, CreateFileMNYAnalyser},
        {MM, "FW", "FileSWFAnalyser", RAW_TYPE_SWF, CreateFileSWFAnalyser},
        {MM, "CW", "FileSWFAnalyser", RAW_TYPE_SWF, CreateFileSWFAnalyser},
        {MM, "us", "RawSpeed::TARAnalyser", RAW_TYPE_TAR, CreateTARAnalyser},
        // List: tried in this order at every sector that neither table claimed.
        {L, "", "Brance::LZHAnalyser", RAW_TYPE_LZH, CreateLZHAnalyser},
        {L, "", "FileEMFAnalyser", RAW_TYPE_EMF, CreateFileEMFAnalyser},
        {L, "", "BruteForce::MovAnalyzer", RAW_TYPE_MOV, CreateMovAnalyzer},
        {L, "", "RawSpeed::InddAnalyser", RAW_TYPE_INDD, CreateInddAnalyser},
        {L, "", "RawSpeed::New3DSAnalyser", RAW_TYPE_3DS, CreateNew3DSListAnalyser},
        {L, "", "RawSpeed::TARAnalyser", RAW_TYPE_TAR, CreateTARAnalyser},
        {L, "", "BruteForce::CM2TSAnalyser", RAW_TYPE_M2TS, CreateCM2TSAnalyser},
        {L, "", "RawSpeed::MOBIAnalyser", RAW_TYPE_MOBI, CreateMOBIAnalyser},
        {L, "", "RawSpeed::PSAFE3Analyser", RAW_TYPE_PSAFE3, CreatePSAFE3Analyser},
    };
    return rows;
}

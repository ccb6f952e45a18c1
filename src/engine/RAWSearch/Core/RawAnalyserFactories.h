// Factories of the signature search's analysers. Each analyser's source file defines its factory; the
// signature table names it in its rows.
#pragma once

class IRawFileAnalyser;

IRawFileAnalyser* CreateJpegAnalyzer();
IRawFileAnalyser* CreateEPSAnalyser();
// Pictures and camera raws.
IRawFileAnalyser* CreateTiffAnalyzer();
IRawFileAnalyser* CreateCRWAnalyser();
IRawFileAnalyser* CreateX3FAnalyser();
IRawFileAnalyser* CreateGifAnalyser();
IRawFileAnalyser* CreatePNGAnalyser();
IRawFileAnalyser* CreatePSDAnalyser();
IRawFileAnalyser* CreatePSPAnalyser();
IRawFileAnalyser* CreateWpgAnalyser();
IRawFileAnalyser* CreateFileWMFAnalyser();
IRawFileAnalyser* CreateFileICOAnalyser();
IRawFileAnalyser* CreateFileMRWAnalyser();
IRawFileAnalyser* CreateFileICNSAnalyser();
IRawFileAnalyser* CreateFileBMPAnalyser();
IRawFileAnalyser* CreateFileEMFAnalyser();
// Office documents: OLE compound files, ZIP archives and ZIP-based documents, PDF.
IRawFileAnalyser* CreateFileOLEAnalyser();
IRawFileAnalyser* CreateFileZIPAnalyser();
IRawFileAnalyser* CreatePdfAnalyzer();
// MP3 and box-structured media.
IRawFileAnalyser* CreateMovAnalyzer();
IRawFileAnalyser* CreateC3GPAnalyser();
IRawFileAnalyser* CreateMp4Analyzer();
IRawFileAnalyser* CreateMP3Analyzer();
// Text, mail, databases, archives and installers.
IRawFileAnalyser* CreateRTFAnalyser();
IRawFileAnalyser* CreateHTMLAnalyser();
IRawFileAnalyser* CreateFileUnicodeHTMAnalyser();
IRawFileAnalyser* CreateJKSAnalyser();
IRawFileAnalyser* CreatePSAFE3Analyser();
IRawFileAnalyser* CreateSIBAnalyser();
IRawFileAnalyser* CreateTARAnalyser();
IRawFileAnalyser* CreateFilePSTAnalyser();
IRawFileAnalyser* CreateFileMNYAnalyser();
IRawFileAnalyser* CreateFileLowDocAnalyser();
IRawFileAnalyser* CreateFileWPDAnalyser();
IRawFileAnalyser* CreateFileEMLXAnalyser();
IRawFileAnalyser* CreateFileCABAnalyser();
IRawFileAnalyser* CreateFileCHMAnalyser();
IRawFileAnalyser* CreateFileHLPAnalyser();
IRawFileAnalyser* CreateRARAnalyser();
IRawFileAnalyser* CreateGZAnalyzer();
IRawFileAnalyser* CreateLZHAnalyser();
IRawFileAnalyser* CreateFileLZHAnalyser();
IRawFileAnalyser* CreateFileMboxAnalyser();
IRawFileAnalyser* CreateDbxAnalyser();
IRawFileAnalyser* CreateOneAnalyser();
IRawFileAnalyser* CreateMOBIAnalyser();
IRawFileAnalyser* CreateCMDBAnalyser();
IRawFileAnalyser* CreateFilePKGAnalyser();
IRawFileAnalyser* CreateSITAnalyser();
IRawFileAnalyser* CreateDMGAnalyser();
IRawFileAnalyser* CreateCFCPEvtAnalyser();
// Drawing, design and font files.
IRawFileAnalyser* CreateDWGAnalyser();
IRawFileAnalyser* CreateDXFAnalyser();
IRawFileAnalyser* CreateFileTTFAnalyser();
IRawFileAnalyser* CreateFH11Analyser();
IRawFileAnalyser* CreateNGRRAnalyser();
IRawFileAnalyser* CreateInddAnalyser();
IRawFileAnalyser* CreateAEPAnalyser();
IRawFileAnalyser* CreateNew3DSAnalyser();
IRawFileAnalyser* CreateNew3DSListAnalyser();
IRawFileAnalyser* CreateFileCPTAnalyser();
IRawFileAnalyser* CreateSVGAnalyser();
// Header-sized audio, video and media-library files.
IRawFileAnalyser* CreateFileRIFFAnalyser();
IRawFileAnalyser* CreateCFileAIFAnalyzer();
IRawFileAnalyser* CreateFileAUAnalyser();
IRawFileAnalyser* CreateFileSWFAnalyser();
IRawFileAnalyser* CreateFileMKVAnalyser();
IRawFileAnalyser* CreateFileITLAnalyser();
// Stream-walking audio and video.
IRawFileAnalyser* CreateMIDAnalyser();
IRawFileAnalyser* CreateMLvAnalyser();
IRawFileAnalyser* CreateFLVAnalyser();
IRawFileAnalyser* CreateMPGAnalyser();
IRawFileAnalyser* CreateOGGAnalyser();
IRawFileAnalyser* CreateRM_RMVBAnalyser();
IRawFileAnalyser* CreateMxfAnalyser();
IRawFileAnalyser* CreateCAsfAnalyser();
IRawFileAnalyser* CreateCM2TSAnalyser();
IRawFileAnalyser* CreateCADTSAnalyser();
IRawFileAnalyser* CreateCAPEAnalyser();

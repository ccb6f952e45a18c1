// Factories of the analysers built so far. Each analyser's source file defines its factory; the
// signature table names it in its rows (rows of analysers not built yet hold no factory).
#pragma once

class IRawFileAnalyser;

IRawFileAnalyser* CreateJpegAnalyzer();
IRawFileAnalyser* CreateEPSAnalyser();
// Office documents: OLE compound files, ZIP archives and ZIP-based documents, PDF.
IRawFileAnalyser* CreateFileOLEAnalyser();
IRawFileAnalyser* CreateFileZIPAnalyser();
IRawFileAnalyser* CreatePdfAnalyzer();

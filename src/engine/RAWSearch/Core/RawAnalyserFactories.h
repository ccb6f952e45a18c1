// Factories of the analysers built so far. Each analyser's source file defines its factory; the
// signature table names it in its rows (rows of analysers not built yet hold no factory).
#pragma once

class IRawFileAnalyser;

IRawFileAnalyser* CreateJpegAnalyzer();
IRawFileAnalyser* CreateEPSAnalyser();
